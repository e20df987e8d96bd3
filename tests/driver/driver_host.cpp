#include "driver_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace pdt::test {

namespace {

// Wine makes the desktop for a new process in the background; a top-level
// window created before it is ready fails with "Invalid window handle". Wait
// for it once, before any test shows a dialog.
class DesktopReady : public ::testing::Environment {
  public:
    void SetUp() override {
        for (int attempt = 0; attempt < 100; ++attempt) {
            HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                         nullptr, nullptr);
            if (probe) {
                DestroyWindow(probe);
                return;
            }
            Sleep(50);
        }
    }
};
const auto* const kDesktopReady = ::testing::AddGlobalTestEnvironment(new DesktopReady);

}  // namespace

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<size_t>(size));
    return out;
}

std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

std::wstring DllPath() {
    return WinePath(PDT_DLL_PATH);
}

std::string TestDataPath(const std::string& name) {
    return std::string(PDT_TEST_DATA) + "/" + name;
}

void WriteDriverSettings(int port) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string file = std::string(windows) + "\\Driver_.ini";
    const std::pair<const char*, int> values[] = {
        {"iComNum", port},    {"iBaud", 9600},   {"iParity", 0},
        {"iDataBit", 8},      {"iStopBit", 1},   {"c_CodeFldNum", 1},
        {"c_CountFldNum", 3}, {"c_TimeOut", 60}, {"c_FormNum", 0},
    };
    for (const auto& [key, value] : values)
        ASSERT_TRUE(
            WritePrivateProfileStringA("PDT", key, std::to_string(value).c_str(), file.c_str()));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());  // flush the cache
}

std::wstring CopyOfDll(int port) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"pdt_driver_test\\";
    static const bool emptied = [&] {
        CreateDirectoryW(folder.c_str(), nullptr);
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((folder + L"*.dll").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileW((folder + found.cFileName).c_str());
            while (FindNextFileW(search, &found));
            FindClose(search);
        }
        return true;
    }();
    (void)emptied;
    const std::wstring copy = folder + L"PDT_COM" + std::to_wstring(port) + L"_" +
                              std::to_wstring(GetCurrentProcessId()) + L".dll";
    EXPECT_TRUE(CopyFileW(DllPath().c_str(), copy.c_str(), FALSE)) << GetLastError();
    return copy;
}

void Receive(const pdthost::PdtLibrary& library, std::vector<pdthost::Step> plan, Received& out,
             int timeoutMillis) {
    VariantClear(&out.value);
    V_VT(&out.value) = VT_I4;
    V_I4(&out.value) = kMarker;
    pdthost::Autopilot autopilot(GetCurrentThreadId(), std::move(plan), timeoutMillis);
    library.ReceiveData(&out.value);
    out.report = autopilot.Finish();
    EXPECT_EQ(out.report.failure, "") << "memo:\n" << Utf8(out.report.memo);
}

std::vector<Pair> Decode(const VARIANT& value) {
    std::vector<Pair> pairs;
    EXPECT_EQ(V_VT(&value), VT_ARRAY | VT_VARIANT);
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT)) return pairs;
    SAFEARRAY* outer = V_ARRAY(&value);
    LONG lower = -1, upper = -1;
    EXPECT_EQ(SafeArrayGetDim(outer), 1u);
    SafeArrayGetLBound(outer, 1, &lower);
    SafeArrayGetUBound(outer, 1, &upper);
    EXPECT_EQ(lower, 0);
    for (LONG i = lower; i <= upper; ++i) {
        VARIANT element;
        VariantInit(&element);
        EXPECT_EQ(SafeArrayGetElement(outer, &i, &element), S_OK);
        EXPECT_EQ(V_VT(&element), VT_ARRAY | VT_VARIANT) << "element " << i;
        if (V_VT(&element) == (VT_ARRAY | VT_VARIANT)) {
            SAFEARRAY* pair = V_ARRAY(&element);
            LONG pairLower = -1, pairUpper = -1;
            SafeArrayGetLBound(pair, 1, &pairLower);
            SafeArrayGetUBound(pair, 1, &pairUpper);
            EXPECT_EQ(SafeArrayGetDim(pair), 1u);
            EXPECT_EQ(pairLower, 0);
            EXPECT_EQ(pairUpper, 1);
            VARIANT barcode, quantity;
            VariantInit(&barcode);
            VariantInit(&quantity);
            LONG index = 0;
            SafeArrayGetElement(pair, &index, &barcode);
            index = 1;
            SafeArrayGetElement(pair, &index, &quantity);
            EXPECT_EQ(V_VT(&barcode), VT_BSTR) << "element " << i;
            EXPECT_EQ(V_VT(&quantity), VT_I4) << "element " << i;
            if (V_VT(&barcode) == VT_BSTR && V_VT(&quantity) == VT_I4)
                pairs.emplace_back(std::wstring(V_BSTR(&barcode), SysStringLen(V_BSTR(&barcode))),
                                   V_I4(&quantity));
            VariantClear(&barcode);
            VariantClear(&quantity);
        }
        VariantClear(&element);
    }
    return pairs;
}

std::vector<Pair> ExpectedFromCsv(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Pair> pairs;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, ';');) fields.push_back(field);
        std::wstring barcode(fields[0].size() * 2 + 1, L'\0');
        const int length =
            MultiByteToWideChar(CP_ACP, 0, fields[0].data(), static_cast<int>(fields[0].size()),
                                barcode.data(), static_cast<int>(barcode.size()));
        barcode.resize(static_cast<size_t>(length));
        pairs.emplace_back(barcode, std::stoi(fields[2]));
    }
    return pairs;
}

}  // namespace pdt::test
