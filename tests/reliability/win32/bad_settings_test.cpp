// PDT.dll with a Driver_.ini whose every key is absurd: the library loads,
// the reception dialog opens and closes, and the settings dialog shows values
// within its controls' ranges. COM2 has the simulated terminal (12 records),
// for the cases whose line settings are sound.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "driver_session.h"

namespace pdt::reliability {
namespace {

using namespace pdthost;

constexpr int kTerminalPort = 2;
const std::string kTenThousandDigits(10000, '7');
const std::string kTenThousandLetters(10000, 'x');

SettingsText AllKeys(const std::string& value) {
    SettingsText keys = TerminalSettings(0);
    for (auto& key : keys) key.second = value;
    return keys;
}

struct LoadedDriver {
    explicit LoadedDriver(const SettingsText& settings) {
        WriteSettingsFile(settings);
        library.emplace(WinePath(PDT_DLL_PATH));
        library->InitDll();
    }
    std::optional<PdtLibrary> library;
};

// What the settings dialog shows, read from its controls.
struct ShownSettings {
    int tableNumber = -1;
    long long timeOut = -1;
    std::wstring baud;
    int parityIndex = -2;
    std::wstring dataBits;  // the checked radio button's text
    std::wstring stopBits;
};

std::wstring Text(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::vector<HWND> ChildrenOfClass(HWND parent, const wchar_t* className) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (lstrcmpiW(name, className) == 0) found.push_back(child);
    }
    return found;
}

std::wstring CheckedOf(HWND dialog, std::initializer_list<const wchar_t*> texts) {
    for (HWND button : ChildrenOfClass(dialog, L"Button"))
        for (const wchar_t* text : texts)
            if (Text(button) == text && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED)
                return text;
    return L"";
}

// Spin edits in creation order: code field, count field, table, waiting time.
// Combo boxes: port, speed, parity.
ShownSettings ReadShown(HWND dialog) {
    ShownSettings shown;
    const std::vector<HWND> edits = ChildrenOfClass(dialog, L"Edit");
    const std::vector<HWND> combos = ChildrenOfClass(dialog, L"ComboBox");
    if (edits.size() != 4 || combos.size() != 3) return shown;
    try {
        shown.tableNumber = std::stoi(Text(edits[2]));
        shown.timeOut = std::stoll(Text(edits[3]));
    } catch (const std::exception&) {
    }
    shown.baud = Text(combos[1]);
    shown.parityIndex = static_cast<int>(SendMessageW(combos[2], CB_GETCURSEL, 0, 0));
    shown.dataBits = CheckedOf(dialog, {L"7", L"8"});
    shown.stopBits = CheckedOf(dialog, {L"1", L"2"});
    return shown;
}

struct DialogSearch {
    HWND found = nullptr;
};

// A named callback, not a lambda: on 32-bit Windows the callback must be
// stdcall, which a lambda's conversion to a function pointer is not.
BOOL CALLBACK MatchSettingsDialog(HWND window, LPARAM param) {
    if (Text(window) == L"Настройка Zibex Z-2030" && IsWindowVisible(window)) {
        reinterpret_cast<DialogSearch*>(param)->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindSettingsDialog(DWORD thread) {
    DialogSearch search;
    EnumThreadWindows(thread, &MatchSettingsDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs Configure while a watcher waits for the dialog's values to settle
// (the port probe comes first), reads them and cancels the dialog.
std::optional<ShownSettings> ShowSettingsDialog(const PdtLibrary& library) {
    const DWORD uiThread = GetCurrentThreadId();
    std::optional<ShownSettings> shown;
    std::atomic<bool> done{false};
    // Runs until Configure has returned: once the values are read, or the
    // dialog has not settled in time, it cancels the dialog (again if needed).
    std::thread watcher([&] {
        const ULONGLONG deadline = GetTickCount64() + 30000;
        std::optional<ShownSettings> previous;
        bool finished = false;
        while (!done) {
            Sleep(200);
            HWND dialog = FindSettingsDialog(uiThread);
            if (!dialog) continue;
            if (!finished) {
                const ShownSettings now = ReadShown(dialog);
                if (previous && previous->tableNumber == now.tableNumber &&
                    previous->timeOut == now.timeOut && previous->baud == now.baud &&
                    !now.baud.empty()) {
                    shown = now;
                    finished = true;
                }
                previous = now;
                finished = finished || GetTickCount64() > deadline;
            }
            if (finished) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    library.Configure();
    done = true;
    watcher.join();
    return shown;
}

struct AbsurdCase {
    const char* name;
    SettingsText settings;
};

// Every key absurd: the port cannot be opened, the dialog shows an error box
// and still closes, and nothing reaches the host.
TEST(BadSettings, AbsurdFilesLoadAndBothDialogsStillWork) {
    const AbsurdCase cases[] = {
        {"huge", AllKeys("2147483647")},
        {"beyond 32 bits", AllKeys("99999999999999999999")},
        {"negative", AllKeys("-2147483648")},
        {"text", AllKeys("abc")},
        {"empty", AllKeys("")},
        {"10,000 digits", AllKeys(kTenThousandDigits)},
        {"10,000 letters", AllKeys(kTenThousandLetters)},
    };
    for (const AbsurdCase& absurd : cases) {
        SCOPED_TRACE(absurd.name);
        LoadedDriver driver(absurd.settings);
        Outcome outcome;
        Receive(*driver.library, {WaitDialog(), WaitQuiet(300), Press(Button::Cancel)}, outcome);
        EXPECT_EQ(outcome.report.failure, "");
        EXPECT_TRUE(outcome.Untouched());

        const std::optional<ShownSettings> shown = ShowSettingsDialog(*driver.library);
        ASSERT_TRUE(shown) << "the settings dialog did not settle";
        EXPECT_GE(shown->tableNumber, 0);
        EXPECT_LE(shown->tableNumber, 8);
        EXPECT_GE(shown->timeOut, 0);
        EXPECT_LE(shown->timeOut, 2147483647LL);
        const std::wstring speeds[] = {L"300", L"1200", L"2400", L"4800", L"9600", L"19200"};
        EXPECT_NE(std::find(std::begin(speeds), std::end(speeds), shown->baud), std::end(speeds))
            << "speed shown: " << std::string(shown->baud.begin(), shown->baud.end());
        EXPECT_GE(shown->parityIndex, -1);
        EXPECT_LE(shown->parityIndex, 4);
        EXPECT_NE(shown->dataBits, L"");
        EXPECT_NE(shown->stopBits, L"");
    }
}

TEST(BadSettings, OutOfRangeValuesAreShownClamped) {
    struct Expected {
        const char* name;
        std::string value;
        int tableNumber;
        long long timeOut;
    };
    const Expected cases[] = {
        {"huge", "2147483647", 8, 2147483647LL},
        {"negative", "-2147483648", 0, 0},
    };
    for (const Expected& expected : cases) {
        SCOPED_TRACE(expected.name);
        LoadedDriver driver(AllKeys(expected.value));
        const std::optional<ShownSettings> shown = ShowSettingsDialog(*driver.library);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->tableNumber, expected.tableNumber);
        EXPECT_EQ(shown->timeOut, expected.timeOut);
        EXPECT_EQ(shown->baud, L"300");
        EXPECT_EQ(shown->parityIndex, -1);
        EXPECT_EQ(shown->dataBits, L"7");
        EXPECT_EQ(shown->stopBits, L"1");
    }
}

// Sound line settings, absurd protocol settings: the exchange runs against
// the terminal without reading outside its buffers. A table number far
// outside the header finds no table; field numbers that match no field give
// records with empty sides, which the host gets as Null (no quantity).
TEST(BadSettings, AbsurdProtocolSettingsStillEndCleanly) {
    const std::pair<const char*, SettingsText> cases[] = {
        {"table 2147483647",
         [] {
             SettingsText keys = TerminalSettings(kTerminalPort);
             keys[8].second = "2147483647";
             return keys;
         }()},
        {"table -2147483648",
         [] {
             SettingsText keys = TerminalSettings(kTerminalPort);
             keys[8].second = "-2147483648";
             return keys;
         }()},
        {"fields -1 and 2147483647",
         [] {
             SettingsText keys = TerminalSettings(kTerminalPort);
             keys[5].second = "-1";
             keys[6].second = "2147483647";
             return keys;
         }()},
    };
    // One load for all cases, as a host keeps the library: showing the
    // settings dialog re-reads the file, so each case's settings take effect.
    LoadedDriver driver(cases[0].second);
    for (const auto& [name, settings] : cases) {
        SCOPED_TRACE(name);
        WriteSettingsFile(settings);
        ASSERT_TRUE(ShowSettingsDialog(*driver.library));
        Outcome outcome;
        Receive(*driver.library, {WaitDialog(), WaitQuiet(1000), Press(Button::Ok)}, outcome);
        EXPECT_EQ(outcome.report.failure, "");
        EXPECT_TRUE(outcome.Untouched() || outcome.Null())
            << "no record can be read with these settings";
    }
}

}  // namespace
}  // namespace pdt::reliability
