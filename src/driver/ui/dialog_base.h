// Base of the driver's modal dialogs.
//
// A dialog is built at run time from an empty in-memory template; its controls
// are created in pixels (the dialog's client size, every control's position
// and size), so the layout does not depend on dialog units or the system font.
// The dialog has a fixed dialog border, the button-face background and the
// dialog font "MS Sans Serif" 8 pt (11-pixel character height). Enter presses
// the default button (IDOK), Escape and the close box mean IDCANCEL. The
// window's position is remembered per user between showings when the dialog
// names a placement key.
//
// Every handler runs on the UI thread inside GuardedCall: an exception that
// leaves a handler is shown in the standard error box and never crosses into
// Windows' code. A failure while the dialog is being created (OnCreate) ends
// the dialog and is rethrown by ShowModal, so the caller sees it.
#pragma once

#include <windows.h>

#include <exception>
#include <optional>
#include <string>

#include "driver/ui/win_handles.h"

namespace pdt::ui {

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct DialogLayout {
    std::wstring caption;
    SIZE client{};                  // client area in pixels
    std::optional<POINT> position;  // designed top-left of the window; none: centre of the screen
    std::wstring placementName;     // key of the remembered position; empty: not remembered
};

class TDialogBase {
  public:
    TDialogBase(const TDialogBase&) = delete;
    TDialogBase& operator=(const TDialogBase&) = delete;
    virtual ~TDialogBase() = default;

    // Shows the dialog modally on the calling thread and returns the result it
    // was ended with (IDOK, IDCANCEL or another id given to Close). Throws
    // std::system_error when the window cannot be made, and rethrows a failure
    // of OnCreate.
    int ShowModal();

    // First message number free for a derived dialog's own posted messages.
    static constexpr UINT kFirstOwnMessage = WM_APP + 16;

    // The dialog window while it is shown, else null.
    HWND Handle() const { return window_; }

  protected:
    explicit TDialogBase(DialogLayout layout);

    // The window exists, is placed and not yet visible: create the controls.
    virtual void OnCreate() {}
    // The window has just become visible (once per showing).
    virtual void OnShow() {}
    // WM_COMMAND for every control except IDOK and IDCANCEL, which close.
    virtual void OnCommand(int /*id*/, int /*code*/, HWND /*control*/) {}
    // Asked before closing with `result`; false keeps the dialog open.
    virtual bool OnCloseQuery(int /*result*/) { return true; }
    // The dialog is closing with `result`; the window still exists.
    virtual void OnClose(int /*result*/) {}
    // Any other message; return a value to mark it handled (the value goes
    // back to the dialog manager as the dialog procedure's result).
    virtual std::optional<INT_PTR> OnMessage(UINT /*message*/, WPARAM, LPARAM) {
        return std::nullopt;
    }
    // The control that gets the focus when the dialog opens; null: the first
    // control in tab order. By default the default button, so Enter means OK.
    virtual HWND InitialFocus() const { return Item(IDOK); }

    // Creates a child control in pixels, with the dialog font. Controls are
    // created in tab order. `parent` null means the dialog itself.
    HWND AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style,
                    const PixelRect& bounds, int id, HWND parent = nullptr, DWORD exStyle = 0);
    // A push button; `isDefault` makes it the button Enter presses.
    HWND AddButton(int id, const std::wstring& text, const PixelRect& bounds,
                   bool isDefault = false);

    HWND Item(int id) const { return window_ ? GetDlgItem(window_, id) : nullptr; }
    HFONT Font() const { return font_.get(); }

    // Closes the dialog with `result` if OnCloseQuery agrees.
    void Close(int result);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    bool InitDialog(HWND window) noexcept;
    void PlaceWindow();
    POINT StartPosition(SIZE frame) const;

    DialogLayout layout_;
    HWND window_ = nullptr;
    UniqueFont font_;
    std::exception_ptr createFailure_;
};

}  // namespace pdt::ui
