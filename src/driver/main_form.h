// TMainFrm, the settings dialog: the COM port, the line parameters and the
// protocol parameters of the driver.
//
// Every showing probes COM1..COM50, re-reads the settings file into the
// driver settings and shows them; OK takes the values back into the settings
// and writes the file. Cancel changes nothing, so the settings then equal the
// file's content.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/main_form_spin_edit.h"
#include "driver/ui/dialog_base.h"
#include "driver/ui/win_handles.h"

namespace pdt {

// The line speeds the speed list offers, in the order it lists them.
inline constexpr std::array<int32_t, 6> BaudRates = {300, 1200, 2400, 4800, 9600, 19200};

// The ports the dialog looks for: COM1 to COM50.
inline constexpr int kFirstProbedPort = 1;
inline constexpr int kLastProbedPort = 50;

// "\\.\COMn": the device name that opens port n, also above COM9.
std::wstring ComDeviceName(int port);
// True when port n can be opened exclusively, or is there but held by another
// program. Port 0 is never present.
bool ComPortExists(int port);

using PortProbe = std::function<bool(int port)>;

// Texts the dialog shows in its own boxes (UTF-8).
inline constexpr char kSettingsFileErrorText[] =
    "Не найден конфигурационный файл. Обратитесь за помощью к разработчикам.";
inline constexpr char kSettingsFileErrorCaption[] = "Ошибка...";

class TMainFrm final : public ui::TDialogBase {
  public:
    // Control ids; OK and Cancel are the dialog manager's IDOK and IDCANCEL.
    enum ControlId : int {
        kPageControlId = 1101,
        kPortComboBoxId,
        kBaudCBId,
        kParityCBId,
        kDataBit7Id,  // rgDataBit's items "7" and "8"
        kDataBit8Id,
        kStopBit1Id,  // rgStopBit's items "1" and "2"
        kStopBit2Id,
        kCodeNumId,
        kCountNumId,
        kTableNumId,
        kTimeOutId,
        kImageId,
        kHeadingId,
        kFirstLabelId,  // labels, group boxes and other text without behaviour
    };
    // The pages, in the order of their tabs.
    enum Page : int { kComPage, kProtocolPage, kAboutPage, kPageCount };

    // `probe` tells which ports exist; the system's serial ports by default.
    explicit TMainFrm(PortProbe probe = ComPortExists);

  private:
    void OnCreate() override;
    void OnShow() override { FormShow(); }
    void OnCommand(int id, int code, HWND control) override;
    bool OnCloseQuery(int result) override { return FormCloseQuery(result); }
    void OnClose(int result) override;
    std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND InitialFocus() const override { return nullptr; }

    void FormCreate();
    void FormShow();
    bool FormCloseQuery(int result);

    // FormShow's phases; FillLists returns false when the dialog was closed
    // while the ports were being probed.
    bool FillLists();
    void ReadSettings();
    void ShowValues();
    void ShowSettingsFileError();

    void CreateComPage(POINT origin);
    void CreateProtocolPage(POINT origin);
    void CreateAboutPage(POINT origin);
    HWND AddPageControl(Page page, const wchar_t* windowClass, const std::wstring& text,
                        DWORD style, const ui::PixelRect& bounds, int id, DWORD exStyle = 0);
    // One line of text unless `style` says otherwise.
    HWND AddLabel(Page page, const char* text, const ui::PixelRect& bounds,
                  DWORD style = SS_LEFTNOWORDWRAP);
    HWND AddComboBox(int id, const ui::PixelRect& bounds);
    void AddRadioGroup(const char* caption, const ui::PixelRect& bounds, int firstId,
                       const std::array<const wchar_t*, 2>& items);
    void AddSpinEdit(Page page, TSpinEdit& spin, int id, const ui::PixelRect& bounds);
    void ShowPage(int page);
    void DrawItem(const DRAWITEMSTRUCT& item);

    // Lets waiting messages through; false when the dialog has been closed.
    bool ProcessWaitingMessages();

    PortProbe probe_;
    HWND pageControl_ = nullptr;
    HWND portComboBox_ = nullptr;
    HWND baudCB_ = nullptr;
    HWND parityCB_ = nullptr;
    TSpinEdit edCodeNum_{0, 0};
    TSpinEdit edCountNum_{0, 0};
    TSpinEdit edTableNum_{0, 8};
    TSpinEdit edTimeOut_{0, 2147483647};
    std::array<std::vector<HWND>, kPageCount> pages_;
    ui::UniqueFont headingFont_;
    int nextLabelId_ = kFirstLabelId;
    bool closed_ = false;
};

}  // namespace pdt
