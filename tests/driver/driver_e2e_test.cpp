// PDT.dll end to end under Wine: a host that knows only the contract loads the
// DLL, calls InitDll and ReceiveData through the pointers it reads, while the
// simulated terminal sits on a pty mapped to a COM port and the autopilot
// works the reception dialog like a user.
//
// Peers (see CMakeLists.txt): COM3 data/normal.csv, COM4 data/bad_quantity.csv,
// COM5 data/duplicates.csv, COM6 500 generated records paced at 9600 baud,
// COM7 1500 generated records at full speed. COM42 is mapped to nothing.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "driver_host.h"
#include "sim_records.h"

namespace pdt::test {
namespace {

using namespace pdthost;

constexpr int kNormalPort = 3;
constexpr int kBadQuantityPort = 4;
constexpr int kDuplicatesPort = 5;
constexpr int kPacedPort = 6;
constexpr int kLargePort = 7;
constexpr int kMissingPort = 42;
constexpr int kPacedRecords = 500;
constexpr int kLargeRecords = 1500;

// The DLL as loaded for the scenarios on one port: the DLL reads its
// settings when it is loaded, so each port gets its own copy of the file,
// loaded once and kept for the rest of the run. (Reloading one file with
// FreeLibrary/LoadLibrary crashed inside Wine's loader on the third load.)
struct LoadedDriver {
    explicit LoadedDriver(int port) {
        static std::map<int, PdtLibrary*> loaded;
        PdtLibrary*& entry = loaded[port];
        if (!entry) {
            WriteDriverSettings(port);
            // Kept until the process ends: a module is never unloaded here.
            entry = new PdtLibrary(CopyOfDll(port));
        }
        library = entry;
        library->InitDll();
    }
    PdtLibrary* library;
};
std::vector<Pair> Generated(size_t count) {
    std::vector<Pair> pairs;
    for (const sim::Record& record : sim::GenerateRecords(count))
        pairs.emplace_back(std::wstring(record[0].begin(), record[0].end()), std::stoi(record[2]));
    return pairs;
}

TEST(DriverEndToEnd, FullDownloadReturnsTheExactArray) {
    const auto expected = ExpectedFromCsv(TestDataPath("normal.csv"));
    LoadedDriver driver(kNormalPort);
    Received received;
    Receive(*driver.library, {WaitRecords(static_cast<int>(expected.size())), Press(Button::Ok)},
            received);
    EXPECT_TRUE(received.report.errorBoxes.empty());
    EXPECT_EQ(Decode(received.value), expected);
}

TEST(DriverEndToEnd, EnterMeansOk) {
    LoadedDriver driver(kNormalPort);
    Received received;
    Receive(*driver.library, {WaitRecords(5), Key(VK_RETURN)}, received, 15000);
    EXPECT_EQ(Decode(received.value).size(), 5u);
}

// Every way of leaving without OK leaves the host's variant exactly as passed,
// also when records were received.
TEST(DriverEndToEnd, LeavingWithoutOkLeavesTheVariantUntouched) {
    const std::pair<const char*, Step> exits[] = {
        {"Cancel button", Press(Button::Cancel)},
        {"close box", CloseBox()},
        {"Escape", Key(VK_ESCAPE)},
    };
    LoadedDriver driver(kNormalPort);
    for (const auto& [name, exit] : exits) {
        SCOPED_TRACE(name);
        Received received;
        Receive(*driver.library, {WaitRecords(5), exit}, received);
        EXPECT_TRUE(received.Untouched());
    }
}

TEST(DriverEndToEnd, MissingPortIsReportedAndOkLeavesTheVariantUntouched) {
    LoadedDriver driver(kMissingPort);
    Received received;
    Receive(*driver.library,
            {WaitErrors(1), Press(Button::Request), WaitErrors(2), Press(Button::Ok)}, received);
    ASSERT_EQ(received.report.errorBoxes.size(), 2u);
    EXPECT_EQ(received.report.errorBoxes[0], L"Ошибка при обращении к терминалу: Can't open COM42");
    EXPECT_EQ(received.report.errorBoxes[1], L"Связь с терминалом не установлена!");
    EXPECT_TRUE(received.Untouched());
}

TEST(DriverEndToEnd, PortHeldByAnotherOwnerFailsThenWorksOnceReleased) {
    LoadedDriver driver(kNormalPort);
    HANDLE held = CreateFileW(L"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE second = CreateFileW(L"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (second != INVALID_HANDLE_VALUE) {
        CloseHandle(second);
        CloseHandle(held);
        GTEST_SKIP() << "this system does not keep a COM port exclusive to its first opener";
    }
    Received refused;
    Receive(*driver.library, {WaitErrors(1), Press(Button::Ok)}, refused);
    CloseHandle(held);
    ASSERT_EQ(refused.report.errorBoxes.size(), 1u);
    EXPECT_EQ(refused.report.errorBoxes[0], L"Ошибка при обращении к терминалу: Can't open COM3");
    EXPECT_TRUE(refused.Untouched());

    Received accepted;
    Receive(*driver.library, {WaitRecords(5), Press(Button::Ok)}, accepted);
    EXPECT_EQ(Decode(accepted.value).size(), 5u);
}

TEST(DriverEndToEnd, OkHalfWayReturnsTheRecordsSoFar) {
    const auto all = Generated(kPacedRecords);
    LoadedDriver driver(kPacedPort);
    Received received;
    Receive(*driver.library, {WaitRecords(3), Press(Button::Ok)}, received);
    const auto got = Decode(received.value);
    ASSERT_GE(got.size(), 3u);
    ASSERT_LT(got.size(), all.size());
    EXPECT_EQ(got, std::vector<Pair>(all.begin(), all.begin() + got.size()));
}

// The barcodes of the record lines ("Запись: barcode; quantity") of a log.
std::vector<std::wstring> RecordBarcodes(const std::wstring& memo) {
    const std::wstring label = L"Запись: ";
    std::vector<std::wstring> barcodes;
    for (size_t at = memo.find(label); at != std::wstring::npos; at = memo.find(label, at + 1)) {
        const size_t start = at + label.size();
        barcodes.push_back(memo.substr(start, memo.find(L"; ", start) - start));
    }
    return barcodes;
}

// "Запрос" after a finished reading runs the exchange again: the log starts
// over and the result holds the second run's records only. (A restart in the
// middle of a transfer depends on the terminal: bytes still in flight end
// the new exchange, as the protocol has it.)
TEST(DriverEndToEnd, RequestRestartsTheExchangeWithAClearedLog) {
    const auto expected = ExpectedFromCsv(TestDataPath("normal.csv"));
    const int count = static_cast<int>(expected.size());
    LoadedDriver driver(kNormalPort);
    std::wstring memoAfterRestart;
    Received received;
    Receive(*driver.library,
            {WaitRecords(count), Press(Button::Request), WaitQuiet(300), WaitRecords(count),
             Inspect([&](HWND dialog) {
                 HWND memo = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
                 std::wstring text(1 << 16, L'\0');
                 const LRESULT length = SendMessageW(memo, WM_GETTEXT, text.size(),
                                                     reinterpret_cast<LPARAM>(text.data()));
                 memoAfterRestart = text.substr(0, static_cast<size_t>(length));
             }),
             Press(Button::Ok)},
            received);
    // Each record once, in table order: nothing of the first run is left.
    const std::vector<std::wstring> shown = RecordBarcodes(memoAfterRestart);
    ASSERT_EQ(shown.size(), expected.size()) << Utf8(memoAfterRestart);
    for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], expected[i].first) << i;
    EXPECT_EQ(Decode(received.value), expected);
}

TEST(DriverEndToEnd, DuplicateBarcodesKeepTheirOwnQuantities) {
    LoadedDriver driver(kDuplicatesPort);
    Received received;
    Receive(*driver.library, {WaitRecords(3), Press(Button::Ok)}, received);
    EXPECT_EQ(Decode(received.value), (std::vector<Pair>{{L"A1", 5}, {L"a1", 9}, {L"A1", 3}}));
}

std::string ReadLogFile() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    path = path.substr(0, path.rfind(L'.')) + L".LOG";
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DriverEndToEnd, NonIntegerQuantityGivesNullAndALogLine) {
    LoadedDriver driver(kBadQuantityPort);
    Received received;
    Receive(*driver.library, {WaitRecords(3), Press(Button::Ok)}, received);
    EXPECT_EQ(V_VT(&received.value), VT_NULL);
    // One level-2 line naming record 2 and its text (Russian words may not
    // survive the code page of the log, the number and the text do).
    const std::string log = ReadLogFile();
    const size_t at = log.rfind("\"x5\"");
    ASSERT_NE(at, std::string::npos) << log;
    const size_t lineStart = log.rfind('\n', at) + 1;
    const std::string line = log.substr(lineStart, log.find('\r', at) - lineStart);
    EXPECT_EQ(line.substr(0, 2), "? ") << line;
    EXPECT_NE(line.find(" 2"), std::string::npos) << line;
}

TEST(DriverEndToEnd, TwoInitDllCallsReturnTheSameAddressLeadingToTheNewObject) {
    LoadedDriver driver(kNormalPort);
    void** first = driver.library->InitDll();
    void* firstObject = *first;
    void** second = driver.library->InitDll();
    EXPECT_EQ(first, second);
    EXPECT_NE(*second, firstObject);
    EXPECT_EQ(*static_cast<void**>(*second), *static_cast<void**>(firstObject))
        << "both objects share the one table";
    Received received;
    Receive(*driver.library, {WaitRecords(5), Press(Button::Ok)}, received);
    EXPECT_EQ(Decode(received.value).size(), 5u);
}

// The memo holds a long download past the edit control's default 32,767
// characters and keeps the newest line in view.
TEST(DriverEndToEnd, LongDownloadStaysWholeInTheLog) {
    const auto all = Generated(kLargeRecords);
    LoadedDriver driver(kLargePort);
    int firstVisibleLine = 0, lineCount = 0, visibleLines = 0;
    Received received;
    Receive(*driver.library,
            {WaitRecords(kLargeRecords), Inspect([&](HWND dialog) {
                 HWND memo = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
                 firstVisibleLine =
                     static_cast<int>(SendMessageW(memo, EM_GETFIRSTVISIBLELINE, 0, 0));
                 lineCount = static_cast<int>(SendMessageW(memo, EM_GETLINECOUNT, 0, 0));
                 RECT area{};
                 SendMessageW(memo, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
                 visibleLines = (area.bottom - area.top) / 11;
             }),
             Press(Button::Ok)},
            received, 180000);
    EXPECT_GT(received.report.memo.size(), 32767u);
    EXPECT_NE(received.report.memo.find(L"Запись: " + all.back().first), std::wstring::npos);
    EXPECT_GE(firstVisibleLine + visibleLines, lineCount - 2)
        << "first visible " << firstVisibleLine << " of " << lineCount;
    EXPECT_EQ(Decode(received.value), all);
}

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

TEST(DriverEndToEnd, TenReadingsLeaveNoHandleOrThreadBehind) {
    LoadedDriver driver(kNormalPort);
    const std::vector<Step> plan = {WaitRecords(5), Press(Button::Ok)};
    {
        Received warmUp;  // first use loads what stays loaded (GDI, registry)
        Receive(*driver.library, plan, warmUp);
    }
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < 10; ++i) {
        Received received;
        Receive(*driver.library, plan, received);
        ASSERT_EQ(Decode(received.value).size(), 5u) << "reading " << i;
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(HandleCount(), handles);
}

// The dialog's designed layout, and the position it remembers per user.
TEST(DriverEndToEnd, DialogLayoutAndRememberedPosition) {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Zebex\\PDT\\Placement\\TConnectForm");
    LoadedDriver driver(kNormalPort);
    RECT frame{}, client{}, ok{}, cancel{}, request{}, memo{};
    auto measure = [&](HWND dialog) {
        GetWindowRect(dialog, &frame);
        GetClientRect(dialog, &client);
        auto place = [&](const wchar_t* cls, const wchar_t* text, RECT& rect) {
            HWND child = FindWindowExW(dialog, nullptr, cls, text);
            GetWindowRect(child, &rect);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        };
        place(L"Button", L"OK", ok);
        place(L"Button", L"Отмена", cancel);
        place(L"Button", L"Запрос", request);
        place(L"Edit", nullptr, memo);
    };
    Received first;
    Receive(*driver.library,
            {WaitDialog(), Inspect(measure), Inspect([](HWND dialog) {
                 SetWindowPos(dialog, nullptr, 300, 222, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
             }),
             Press(Button::Cancel)},
            first);
    EXPECT_EQ(frame.left, 210);
    EXPECT_EQ(frame.top, 160);
    EXPECT_EQ(client.right, 347);
    EXPECT_EQ(client.bottom, 235);
    EXPECT_EQ(std::make_pair(ok.left, ok.top), std::make_pair(184L, 200L));
    EXPECT_EQ(std::make_pair(cancel.left, cancel.top), std::make_pair(264L, 200L));
    EXPECT_EQ(std::make_pair(request.left, request.top), std::make_pair(8L, 200L));
    EXPECT_EQ(std::make_pair(ok.right - ok.left, ok.bottom - ok.top), std::make_pair(75L, 25L));
    EXPECT_EQ(std::make_pair(memo.right - memo.left, memo.bottom - memo.top),
              std::make_pair(347L, 193L));

    Received second;
    Receive(*driver.library, {WaitDialog(), Inspect(measure), Press(Button::Cancel)}, second);
    EXPECT_EQ(frame.left, 300);
    EXPECT_EQ(frame.top, 222);
}

}  // namespace
}  // namespace pdt::test
