// The settings dialog, shown through Configure (slot 1 of the driver object)
// and driven from a second thread with window messages. Runs under Wine with
// COM3 on a pty with an echo peer and COM4 likewise (held by another process
// in the port tests).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings/driver_settings.h"
#include "core/settings/settings_file.h"
#include "dialog_remote.h"
#include "driver/main_form.h"
#include "driver/pdt_driver.h"
#include "driver/ui/text_convert.h"
#include "driver/ui/window_placement.h"
#include "wine_paths.h"

namespace pdt {
namespace {

using test::DialogRemote;
using Ids = TMainFrm::ControlId;
using KeyValues = std::map<std::string, int32_t>;

constexpr int kMappedPort = 3;
constexpr int kHeldPort = 4;
// Wine's mount manager maps COM1..COM9 to the bench's links and the machine's
// own serial devices from COM10 on; a mapped port opens even with nothing
// behind its link, so a port well above those is the one that is not there.
constexpr int kMissingPort = 40;

std::wstring W(const char* utf8) {
    return ui::Utf8ToWide(utf8);
}
const std::wstring kCaption = W("Настройка Zibex Z-2030");

KeyValues AsKeys(const DriverSettings& s) {
    KeyValues keys;
    for (const SettingKey& key : kSettingKeys) keys[std::string(key.name)] = s.*key.field;
    return keys;
}

// Runs Configure the way the host does: P = InitDll(); O = *P; T = *O; T[1](O).
void RunConfigure() {
    CPDTDriver** reference = NewDriver();
    CPDTDriver* object = *reference;
    const auto* table = *reinterpret_cast<const CPDTDriverTable* const*>(object);
    table->configure(object);
}

// Waits until FormShow has shown the values (the table number is set last).
void WaitForValues(const DialogRemote& dialog) {
    ASSERT_TRUE(test::WaitUntil([&] { return !dialog.Text(Ids::kTableNumId).empty(); }));
}

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "pdt_settings_dialog_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
        path_ = dir_ + "\\Driver_.ini";
        DeleteFileA(path_.c_str());
        SetSettingsFilePath(path_);
        Settings = DriverSettings{};
    }

    void TearDown() override {
        SetSettingsFilePath("");
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    void PrepareFile(const KeyValues& keys) {
        DeleteFileA(path_.c_str());
        for (const auto& [key, value] : keys)
            WritePrivateProfileStringA("PDT", key.c_str(), std::to_string(value).c_str(),
                                       path_.c_str());
    }

    // The keys the file holds, with their values.
    KeyValues FileKeys() const {
        KeyValues keys;
        for (const SettingKey& key : kSettingKeys) {
            char value[64] = {};
            const std::string name(key.name);
            if (GetPrivateProfileStringA("PDT", name.c_str(), "", value, sizeof(value),
                                         path_.c_str()) > 0)
                keys[name] = std::stoi(value);
        }
        return keys;
    }

    std::string FileBytes() const {
        std::ifstream stream(path_, std::ios::binary);
        std::ostringstream bytes;
        bytes << stream.rdbuf();
        return bytes.str();
    }

    void Configure(const std::function<void(DialogRemote&)>& script) {
        test::RunWithScript(&RunConfigure, kCaption, [&](DialogRemote& dialog) {
            WaitForValues(dialog);
            script(dialog);
        });
    }

    std::string dir_;
    std::string path_;
};

const KeyValues kTypicalFile = {
    {"iComNum", kMappedPort}, {"iBaud", 4800},   {"iParity", 1},
    {"iDataBit", 7},          {"iStopBit", 2},   {"c_CodeFldNum", 2},
    {"c_CountFldNum", 3},     {"c_TimeOut", 30}, {"c_FormNum", 1},
};

// --- What the dialog shows for a file, and what OK then stores ---

struct ShownCase {
    const char* name;
    KeyValues file;
    int baudIndex;
    int parityIndex;
    int dataBitId;
    int stopBitId;
    std::wstring code, count, timeOut, table;
    KeyValues stored;
};

TEST_F(SettingsDialogTest, ShowsTheFileAndOkStoresWhatIsShown) {
    const std::vector<ShownCase> cases = {
        {"values out of the dialog's ranges",
         {{"iComNum", 3},
          {"iBaud", 600},
          {"iParity", 7},
          {"iDataBit", 6},
          {"iStopBit", 5},
          {"c_CodeFldNum", -4},
          {"c_CountFldNum", 12345},
          {"c_TimeOut", 90},
          {"c_FormNum", 12}},
         0,
         -1,
         Ids::kDataBit7Id,
         Ids::kStopBit1Id,
         L"-4",
         L"12345",
         L"90",
         L"8",
         {{"iComNum", 3},
          {"iBaud", 300},
          {"iParity", -1},
          {"iDataBit", 7},
          {"iStopBit", 1},
          {"c_CodeFldNum", -4},
          {"c_CountFldNum", 12345},
          {"c_TimeOut", 90},
          {"c_FormNum", 8}}},
        {"values in range",
         {{"iComNum", 3},
          {"iBaud", 19200},
          {"iParity", 2},
          {"iDataBit", 8},
          {"iStopBit", 2},
          {"c_CodeFldNum", 1},
          {"c_CountFldNum", 2},
          {"c_TimeOut", 0},
          {"c_FormNum", 5}},
         5,
         2,
         Ids::kDataBit8Id,
         Ids::kStopBit2Id,
         L"1",
         L"2",
         L"0",
         L"5",
         {{"iComNum", 3},
          {"iBaud", 19200},
          {"iParity", 2},
          {"iDataBit", 8},
          {"iStopBit", 2},
          {"c_CodeFldNum", 1},
          {"c_CountFldNum", 2},
          {"c_TimeOut", 0},
          {"c_FormNum", 5}}},
        {"negative table and waiting time",
         {{"iComNum", 3},
          {"iBaud", 2400},
          {"iParity", 4},
          {"iDataBit", 7},
          {"iStopBit", 1},
          {"c_CodeFldNum", 0},
          {"c_CountFldNum", -2},
          {"c_TimeOut", -5},
          {"c_FormNum", -3}},
         2,
         4,
         Ids::kDataBit7Id,
         Ids::kStopBit1Id,
         L"0",
         L"-2",
         L"0",
         L"0",
         {{"iComNum", 3},
          {"iBaud", 2400},
          {"iParity", 4},
          {"iDataBit", 7},
          {"iStopBit", 1},
          {"c_CodeFldNum", 0},
          {"c_CountFldNum", -2},
          {"c_TimeOut", 0},
          {"c_FormNum", 0}}},
    };
    for (const ShownCase& c : cases) {
        SCOPED_TRACE(c.name);
        PrepareFile(c.file);
        Configure([&](DialogRemote& d) {
            EXPECT_EQ(d.Text(Ids::kPortComboBoxId), L"COM3");
            EXPECT_EQ(d.Selected(Ids::kBaudCBId), c.baudIndex);
            EXPECT_EQ(d.Selected(Ids::kParityCBId), c.parityIndex);
            EXPECT_TRUE(d.Checked(c.dataBitId));
            EXPECT_TRUE(d.Checked(c.stopBitId));
            EXPECT_EQ(d.Text(Ids::kCodeNumId), c.code);
            EXPECT_EQ(d.Text(Ids::kCountNumId), c.count);
            EXPECT_EQ(d.Text(Ids::kTimeOutId), c.timeOut);
            EXPECT_EQ(d.Text(Ids::kTableNumId), c.table);
            d.Press(IDOK);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(FileKeys(), c.stored);
        EXPECT_EQ(AsKeys(Settings), c.stored);
    }
}

TEST_F(SettingsDialogTest, EditingAndOkWritesAllNineKeys) {
    PrepareFile({{"iBaud", 4800}});
    Configure([](DialogRemote& d) {
        d.SetText(Ids::kPortComboBoxId,
                  L"ab:17");  // the first three characters go, whatever they are
        d.Select(Ids::kBaudCBId, 5);
        d.Select(Ids::kParityCBId, 1);
        d.Check(Ids::kDataBit7Id, Ids::kDataBit8Id, Ids::kDataBit8Id);
        d.Check(Ids::kStopBit1Id, Ids::kStopBit2Id, Ids::kStopBit2Id);
        d.SetText(Ids::kCodeNumId, L"3");
        d.SetText(Ids::kCountNumId, L"5");
        d.SetText(Ids::kTimeOutId, L"120");
        d.SetText(Ids::kTableNumId, L"4");
        d.Press(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    const KeyValues expected = {{"iComNum", 17},      {"iBaud", 19200},   {"iParity", 1},
                                {"iDataBit", 8},      {"iStopBit", 2},    {"c_CodeFldNum", 3},
                                {"c_CountFldNum", 5}, {"c_TimeOut", 120}, {"c_FormNum", 4}};
    EXPECT_EQ(FileKeys(), expected);
    EXPECT_EQ(AsKeys(Settings), expected);
}

TEST_F(SettingsDialogTest, ParityListReadsAsThePortAppliesIt) {
    PrepareFile(kTypicalFile);
    Configure([](DialogRemote& d) {
        // 1 is odd and 2 even on the line.
        const std::vector<std::wstring> labels = {W("НЕТ"), W("НЕЧЕТ"), W("ЧЕТ"), W("МЕТКА"),
                                                  W("ПРОП.")};
        EXPECT_EQ(d.Items(Ids::kParityCBId), labels);
        EXPECT_EQ(d.Text(Ids::kParityCBId), W("НЕЧЕТ"));
        d.SetText(Ids::kParityCBId, W("ЧЕТ"));  // typed rather than picked
        d.Press(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(Settings.iParity, 2);
}

TEST_F(SettingsDialogTest, SpeedTypedIntoTheSpeedBox) {
    struct SpeedCase {
        std::wstring typed;
        int32_t stored;
    };
    const std::vector<SpeedCase> cases = {{L"600", 600}, {L"57600", 57600}, {L"abc", 4800},
                                          {L"-5", 4800}, {L"0", 4800},      {L"", 4800}};
    for (const SpeedCase& c : cases) {
        SCOPED_TRACE(ui::WideToUtf8(c.typed));
        PrepareFile(kTypicalFile);
        Configure([&](DialogRemote& d) {
            d.SetText(Ids::kBaudCBId, c.typed);
            d.Press(IDOK);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(FileKeys().at("iBaud"), c.stored);
        EXPECT_EQ(Settings.iBaud, c.stored);
    }
}

TEST_F(SettingsDialogTest, SpinEditsKeepTheirRange) {
    struct SpinCase {
        int id;
        std::wstring typed;
        std::wstring shownAfterLeaving;
        const char* key;
        int32_t stored;
    };
    const std::vector<SpinCase> cases = {
        {Ids::kTableNumId, L"20", L"8", "c_FormNum", 8},
        {Ids::kTableNumId, L"abc", L"0", "c_FormNum", 0},
        {Ids::kTimeOutId, L"-1", L"0", "c_TimeOut", 0},
        {Ids::kTimeOutId, L"2147483647", L"2147483647", "c_TimeOut", 2147483647},
        {Ids::kCodeNumId, L"-7", L"-7", "c_CodeFldNum", -7},  // no limit
        {Ids::kCountNumId, L"99999", L"99999", "c_CountFldNum", 99999},
    };
    for (const SpinCase& c : cases) {
        SCOPED_TRACE(ui::WideToUtf8(c.typed));
        PrepareFile(kTypicalFile);
        Configure([&](DialogRemote& d) {
            d.ShowPage(Ids::kPageControlId, TMainFrm::kProtocolPage);
            d.Focus(c.id);
            d.SetText(c.id, c.typed);
            d.Focus(IDCANCEL);  // the focus leaves the spin edit
            EXPECT_EQ(d.Text(c.id), c.shownAfterLeaving);
            d.Press(IDOK);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(FileKeys().at(c.key), c.stored);
    }
}

TEST_F(SettingsDialogTest, TypedValueIsRangedAlsoWhenOkIsPressedWithEnter) {
    PrepareFile(kTypicalFile);
    Configure([](DialogRemote& d) {
        d.ShowPage(Ids::kPageControlId, TMainFrm::kProtocolPage);
        d.Focus(Ids::kTableNumId);
        d.SetText(Ids::kTableNumId, L"9");
        d.Press(IDOK);  // the focus is still in the spin edit
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(Settings.c_FormNum, 8);
}

TEST_F(SettingsDialogTest, CancelWritesNothingAndLeavesTheSettingsEqualToTheFile) {
    PrepareFile(kTypicalFile);
    const std::string before = FileBytes();
    Settings.iBaud = 1200;  // held before the dialog opened, not in the file
    Settings.c_FormNum = 7;
    Configure([](DialogRemote& d) {
        d.Select(Ids::kBaudCBId, 0);
        d.SetText(Ids::kTableNumId, L"2");
        d.Press(IDCANCEL);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(FileBytes(), before);
    EXPECT_EQ(AsKeys(Settings), kTypicalFile);
}

TEST_F(SettingsDialogTest, FailedWriteIsReportedAndTheDialogClosesWithTheNewValues) {
    PrepareFile(kTypicalFile);
    Configure([&](DialogRemote& d) {
        // From now on the file cannot be written: its folder does not exist.
        SetSettingsFilePath(dir_ + "\\missing\\Driver_.ini");
        d.SetText(Ids::kTableNumId, L"3");
        d.Press(IDOK);
        const auto box = d.AnswerMessageBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->caption, W(kSettingsFileErrorCaption));
        EXPECT_EQ(box->text, W(kSettingsFileErrorText));
        EXPECT_TRUE(box->stopIcon);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(Settings.c_FormNum, 3);
    EXPECT_EQ(FileKeys().at("c_FormNum"), 1);
}

// --- Layout ---

std::wstring PageCaption(HWND tabs, int page) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(page), reinterpret_cast<LPARAM>(&item));
    return text;
}

// Where the pages' controls are placed from: the page control's display area.
POINT PageOrigin(HWND tabs) {
    RECT display{};
    GetClientRect(tabs, &display);
    SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    return {display.left, display.top};
}

std::vector<int> TabOrder(const DialogRemote& d, int first, size_t count) {
    std::vector<int> order;
    HWND control = d.Item(first);
    for (size_t i = 0; i < count; ++i) {
        order.push_back(GetDlgCtrlID(control));
        control = GetNextDlgTabItem(d.Handle(), control, FALSE);
    }
    return order;
}

TEST_F(SettingsDialogTest, LayoutTextsAndTabOrder) {
    PrepareFile(kTypicalFile);
    Configure([](DialogRemote& d) {
        RECT client{};
        GetClientRect(d.Handle(), &client);
        EXPECT_EQ(client.right, 316);
        EXPECT_EQ(client.bottom, 323);
        EXPECT_EQ((GetWindowLongW(d.Handle(), GWL_STYLE) &
                   (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
                  0);

        HWND tabs = d.Item(Ids::kPageControlId);
        EXPECT_EQ(d.CurrentPage(Ids::kPageControlId), TMainFrm::kComPage);
        EXPECT_EQ(PageCaption(tabs, 0), W("СОМ-порт"));
        EXPECT_EQ(PageCaption(tabs, 0)[0], L'\u0421');  // Cyrillic Es, not Latin C
        EXPECT_EQ(PageCaption(tabs, 1), W("Протокол"));
        EXPECT_EQ(PageCaption(tabs, 2), W("О терминале"));
        EXPECT_EQ(d.Bounds(Ids::kPageControlId).right, 316);
        EXPECT_EQ(d.Bounds(Ids::kPageControlId).bottom, 285);

        const RECT ok = d.Bounds(IDOK);
        const RECT cancel = d.Bounds(IDCANCEL);
        EXPECT_EQ((std::vector<LONG>{ok.left, ok.top, ok.right - ok.left, ok.bottom - ok.top}),
                  (std::vector<LONG>{136, 291, 75, 25}));
        EXPECT_EQ((std::vector<LONG>{cancel.left, cancel.top, cancel.right - cancel.left,
                                     cancel.bottom - cancel.top}),
                  (std::vector<LONG>{236, 291, 75, 25}));
        EXPECT_EQ(d.Text(IDCANCEL), W("Отмена"));

        const std::vector<std::wstring> speeds = {L"300",  L"1200", L"2400",
                                                  L"4800", L"9600", L"19200"};
        EXPECT_EQ(d.Items(Ids::kBaudCBId), speeds);
        EXPECT_EQ(d.Text(Ids::kDataBit7Id) + d.Text(Ids::kDataBit8Id), L"78");
        EXPECT_EQ(d.Text(Ids::kStopBit1Id) + d.Text(Ids::kStopBit2Id), L"12");

        struct Place {
            int id;
            LONG left, top, width;
        };
        const POINT origin = PageOrigin(tabs);
        auto expectPlace = [&](const Place& p) {
            SCOPED_TRACE(p.id);
            const RECT r = d.Bounds(p.id);
            EXPECT_EQ(r.left - origin.x, p.left);
            EXPECT_EQ(r.top - origin.y, p.top);
            if (p.width) {
                EXPECT_EQ(r.right - r.left, p.width);
            }
        };
        for (const Place& p :
             {Place{Ids::kPortComboBoxId, 144, 8, 121}, Place{Ids::kBaudCBId, 144, 40, 121},
              Place{Ids::kParityCBId, 144, 72, 121}})
            expectPlace(p);
        EXPECT_EQ(TabOrder(d, Ids::kPortComboBoxId, 3),
                  (std::vector<int>{Ids::kPortComboBoxId, Ids::kBaudCBId, Ids::kParityCBId}));
        EXPECT_FALSE(d.Visible(Ids::kTableNumId));

        d.ShowPage(Ids::kPageControlId, TMainFrm::kProtocolPage);
        EXPECT_TRUE(d.Visible(Ids::kTableNumId));
        EXPECT_FALSE(d.Visible(Ids::kPortComboBoxId));
        // A spin edit's width holds its edit and its up-down.
        for (const Place& p :
             {Place{Ids::kCodeNumId, 144, 66, 0}, Place{Ids::kCountNumId, 144, 90, 0},
              Place{Ids::kTableNumId, 152, 17, 0}, Place{Ids::kTimeOutId, 144, 128, 0}})
            expectPlace(p);
        EXPECT_EQ(TabOrder(d, Ids::kCodeNumId, 4),
                  (std::vector<int>{Ids::kCodeNumId, Ids::kCountNumId, Ids::kTableNumId,
                                    Ids::kTimeOutId}));

        d.ShowPage(Ids::kPageControlId, TMainFrm::kAboutPage);
        EXPECT_TRUE(d.Visible(Ids::kImageId));
        EXPECT_EQ(d.Text(Ids::kHeadingId), W("Описание"));
        d.Press(IDCANCEL);
    });
}

TEST_F(SettingsDialogTest, ScreenshotOfEachPage) {
    PrepareFile(kTypicalFile);
    const std::string dir = test::WinePath(PDT_SCREENSHOT_DIR);
    CreateDirectoryA(dir.c_str(), nullptr);
    Configure([&](DialogRemote& d) {
        for (int page = 0; page < TMainFrm::kPageCount; ++page) {
            d.ShowPage(Ids::kPageControlId, page);
            const std::string file =
                dir + "\\settings_dialog_page" + std::to_string(page + 1) + ".png";
            d.Screenshot(file);
            EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
        }
        d.Press(IDCANCEL);
    });
}

TEST_F(SettingsDialogTest, OpensCentredThenWhereTheUserLeftIt) {
    const std::wstring key = std::wstring(ui::kPlacementRoot) + L"\\TMainFrm";
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    PrepareFile(kTypicalFile);
    Configure([](DialogRemote& d) {
        RECT frame{};
        GetWindowRect(d.Handle(), &frame);
        EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
        EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
        SetWindowPos(d.Handle(), nullptr, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        d.ShowPage(Ids::kPageControlId, TMainFrm::kAboutPage);
        d.Press(IDCANCEL);
        EXPECT_TRUE(d.WaitClosed());
    });
    Configure([](DialogRemote& d) {
        RECT frame{};
        GetWindowRect(d.Handle(), &frame);
        EXPECT_EQ(frame.left, 100);
        EXPECT_EQ(frame.top, 80);
        EXPECT_EQ(d.CurrentPage(Ids::kPageControlId), TMainFrm::kComPage);
        d.Press(IDCANCEL);
    });
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// --- The port list ---

// Another program holding a COM port open until it is destroyed.
class PortHolder {
  public:
    explicit PortHolder(int port) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE childInput = nullptr;
        HANDLE childOutput = nullptr;
        CreatePipe(&childInput, &input_, &inherit, 0);
        CreatePipe(&output_, &childOutput, &inherit, 0);
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string command = "\"" + test::WinePath(PDT_PORT_HOLDER) + "\" " + std::to_string(port);
        PROCESS_INFORMATION process{};
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            process_ = process.hProcess;
            CloseHandle(process.hThread);
        }
        CloseHandle(childInput);
        CloseHandle(childOutput);
        // Its first line says whether it holds the port.
        char c = 0;
        DWORD read = 0;
        while (process_ && ReadFile(output_, &c, 1, &read, nullptr) && read == 1 && c != '\n')
            answer_ += c;
    }
    ~PortHolder() {
        CloseHandle(input_);  // its input ends: it lets the port go and exits
        if (process_) {
            WaitForSingleObject(process_, 10000);
            CloseHandle(process_);
        }
        CloseHandle(output_);
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    const std::string& Answer() const { return answer_; }

  private:
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HANDLE process_ = nullptr;
    std::string answer_;
};

TEST(ComPortProbe, DeviceNamesAndPresence) {
    EXPECT_EQ(ComDeviceName(3), L"\\\\.\\COM3");
    EXPECT_EQ(ComDeviceName(12), L"\\\\.\\COM12");
    EXPECT_FALSE(ComPortExists(0));
    EXPECT_TRUE(ComPortExists(kMappedPort));
    EXPECT_FALSE(ComPortExists(kMissingPort));
    // The probe lets the port go again: it can be opened right after.
    EXPECT_TRUE(ComPortExists(kMappedPort));
}

TEST(ComPortProbe, PortHeldByAnotherProgramIsPresent) {
    const PortHolder holder(kHeldPort);
    ASSERT_EQ(holder.Answer(), "held");
    EXPECT_TRUE(ComPortExists(kHeldPort));
}

TEST_F(SettingsDialogTest, ListsThePortsFoundAndSelectsTheFirstWhenTheConfiguredOneIsMissing) {
    const PortHolder holder(kHeldPort);
    ASSERT_EQ(holder.Answer(), "held");
    KeyValues file = kTypicalFile;
    file["iComNum"] = kMissingPort;
    PrepareFile(file);
    std::wstring first;
    Configure([&](DialogRemote& d) {
        const std::vector<std::wstring> ports = d.Items(Ids::kPortComboBoxId);
        auto listed = [&](int n) {
            return std::find(ports.begin(), ports.end(), L"COM" + std::to_wstring(n)) !=
                   ports.end();
        };
        EXPECT_TRUE(listed(kMappedPort));
        EXPECT_TRUE(listed(kHeldPort));
        EXPECT_FALSE(listed(kMissingPort));
        EXPECT_TRUE(d.Enabled(Ids::kPortComboBoxId));
        ASSERT_FALSE(ports.empty());
        first = ports.front();
        EXPECT_EQ(d.Selected(Ids::kPortComboBoxId), 0);
        EXPECT_EQ(d.Text(Ids::kPortComboBoxId), first);
        d.Press(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    ASSERT_GT(first.size(), 3u);
    EXPECT_EQ(Settings.iComNum, std::stoi(first.substr(3)));
    EXPECT_EQ(FileKeys().at("iComNum"), Settings.iComNum);
}

// Wine always maps the machine's own serial devices (/dev/ttyS*) to COM
// ports, so a machine without any port cannot be had under it; the dialog is
// given a probe that finds none instead.
TEST_F(SettingsDialogTest, NoPortFoundLeavesThePortBoxEmptyAndOkKeepsTheDialogOpen) {
    PrepareFile(kTypicalFile);
    TMainFrm form([](int) { return false; });
    test::RunWithScript([&] { form.ShowModal(); }, kCaption,
                        [&](DialogRemote& d) {
                            WaitForValues(d);
                            EXPECT_TRUE(d.Items(Ids::kPortComboBoxId).empty());
                            EXPECT_EQ(d.Text(Ids::kPortComboBoxId), L"");
                            EXPECT_FALSE(d.Enabled(Ids::kPortComboBoxId));
                            d.SetText(Ids::kTableNumId, L"5");
                            d.Press(IDOK);
                            const auto report = d.AnswerMessageBox();
                            ASSERT_TRUE(report.has_value());
                            EXPECT_NE(report->text.find(L"''"), std::wstring::npos)
                                << ui::WideToUtf8(report->text);
                            EXPECT_TRUE(d.Open());
                            d.Press(IDCANCEL);
                            EXPECT_TRUE(d.WaitClosed());
                        });
    EXPECT_EQ(AsKeys(Settings), kTypicalFile);  // nothing taken back, nothing written
    EXPECT_EQ(FileKeys(), kTypicalFile);
}

}  // namespace
}  // namespace pdt
