// The host's result built in-process from records: the array's shape, each
// record's own quantity, the quantity conversion, Null on a bad quantity, and
// the caller's previous content released.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/result_builder.h"
#include "driver/variant_result.h"
#include "driver_host.h"

namespace pdt::test {
namespace {

TEST(ParseQuantity, AcceptsOnly32BitDecimalIntegers) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"5", 5},
        {"0", 0},
        {"00042", 42},
        {"-3", -3},
        {"+7", 7},
        {"  12", 12},  // numeric fields come padded on the left
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"x5", std::nullopt},
        {"5x", std::nullopt},
        {"5 ", std::nullopt},
        {"1.5", std::nullopt},
        {"$1A", std::nullopt},
        {"0x1A", std::nullopt},
        {"=5", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseQuantity(text), expected) << text;
}

std::vector<Pair> Build(const std::vector<TRecord>& records) {
    UniqueVariant result = MakeResultVariant(records);
    return Decode(result.Get());
}

TEST(ResultVariant, EachElementIsABarcodeStringAndItsOwnQuantity) {
    EXPECT_EQ(Build({{"A1", "5"}, {"B2", "7"}}), (std::vector<Pair>{{L"A1", 5}, {L"B2", 7}}));
    // Equal barcodes, letter case aside, keep their own quantities.
    EXPECT_EQ(Build({{"A1", "5"}, {"a1", "9"}, {"A1", "3"}}),
              (std::vector<Pair>{{L"A1", 5}, {L"a1", 9}, {L"A1", 3}}));
    // A barcode may hold "=": records are pairs, never split again.
    EXPECT_EQ(Build({{"A=1", "4"}}), (std::vector<Pair>{{L"A=1", 4}}));
    EXPECT_EQ(Build({{"", "1"}}), (std::vector<Pair>{{L"", 1}}));
}

TEST(ResultVariant, BarcodeBytesGoThroughTheAnsiCodePage) {
    const std::string bytes = "\xC9\xE8-1";
    wchar_t expected[8] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), 4, expected, 8);
    EXPECT_EQ(Build({{bytes, "1"}}), (std::vector<Pair>{{std::wstring(expected, length), 1}}));
}

TEST(ResultVariant, BadQuantityNamesTheRecordAndItsText) {
    try {
        MakeResultVariant({{"A1", "5"}, {"B2", "x5"}, {"C3", "7"}});
        FAIL() << "no exception";
    } catch (const EBadQuantity& error) {
        EXPECT_EQ(error.Position(), 2u);
        EXPECT_EQ(error.Quantity(), "x5");
    }
}

TEST(ResultVariant, AssigningReleasesTheCallersPreviousContent) {
    VARIANT caller;
    VariantInit(&caller);
    V_VT(&caller) = VT_BSTR;
    V_BSTR(&caller) = SysAllocString(L"previous");
    UniqueVariant result = MakeResultVariant({{"A1", "5"}});
    AssignResult(&caller, result);
    EXPECT_EQ(V_VT(&result.Get()), VT_EMPTY) << "handed over, not copied";
    EXPECT_EQ(Decode(caller), (std::vector<Pair>{{L"A1", 5}}));

    AssignNull(&caller);
    EXPECT_EQ(V_VT(&caller), VT_NULL);
    AssignNull(nullptr);  // a host without a variant is not written to
    VariantClear(&caller);
}

}  // namespace
}  // namespace pdt::test
