#include "result_text.h"

#include <oleauto.h>

#include <cstring>

namespace pdthost {
namespace {

std::string ToUtf8(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

bool IsVariantVector(const VARIANT& value, LONG expectedUpper, LONG* upper) {
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&value)) return false;
    SAFEARRAY* array = V_ARRAY(&value);
    LONG lower = -1;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, upper)) || lower != 0)
        return false;
    return expectedUpper < 0 || *upper == expectedUpper;
}

std::string PairLine(const VARIANT& element) {
    LONG upper = 0;
    if (!IsVariantVector(element, 1, &upper)) return "unexpected element";
    VARIANT barcode, quantity;
    VariantInit(&barcode);
    VariantInit(&quantity);
    LONG index = 0;
    SafeArrayGetElement(V_ARRAY(&element), &index, &barcode);
    index = 1;
    SafeArrayGetElement(V_ARRAY(&element), &index, &quantity);
    std::string line = "unexpected item types";
    if (V_VT(&barcode) == VT_BSTR && V_VT(&quantity) == VT_I4)
        line = ToUtf8(V_BSTR(&barcode)) + ";" + std::to_string(V_I4(&quantity));
    VariantClear(&barcode);
    VariantClear(&quantity);
    return line;
}

}  // namespace

std::vector<std::string> ResultLines(const VARIANT& result, const VARIANT& untouched) {
    if (std::memcmp(&result, &untouched, sizeof(VARIANT)) == 0) return {"unchanged"};
    if (V_VT(&result) == VT_NULL) return {"Null"};
    LONG upper = 0;
    if (!IsVariantVector(result, -1, &upper))
        return {"unexpected variant type " + std::to_string(V_VT(&result))};
    std::vector<std::string> lines;
    for (LONG i = 0; i <= upper; ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(V_ARRAY(&result), &i, &element);
        lines.push_back(PairLine(element));
        VariantClear(&element);
    }
    return lines;
}

}  // namespace pdthost
