#include "driver/ui/dialog_base.h"

#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "driver/ui/error_box.h"
#include "driver/ui/window_placement.h"

namespace pdt::ui {
namespace {

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
// Posted from WM_INITDIALOG: arrives once the modal loop has shown the window.
constexpr UINT kShownMessage = WM_APP + 1;
constexpr int kFontHeightPixels = 11;  // 8 pt at 96 dpi

// An in-memory DLGTEMPLATE without controls: header, no menu, the standard
// dialog class, the caption. Returned as WORDs, which keeps it WORD-aligned;
// vector storage is also DWORD-aligned, as the header needs.
std::vector<WORD> EmptyTemplate(const std::wstring& caption) {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    DLGTEMPLATE header{};
    header.style = kDialogStyle;
    header.dwExtendedStyle = kDialogExStyle;
    std::memcpy(words.data(), &header, sizeof(header));
    words.push_back(0);  // no menu
    words.push_back(0);  // predefined dialog class
    words.insert(words.end(), caption.begin(), caption.end());
    words.push_back(0);
    return words;
}

// The module this code lives in (the DLL, or a test program).
HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

UniqueFont MakeDialogFont() {
    return UniqueFont(CreateFontW(-kFontHeightPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif"));
}

bool IsOnSomeMonitor(POINT topLeft, SIZE frame) {
    const RECT rect{topLeft.x, topLeft.y, topLeft.x + frame.cx, topLeft.y + frame.cy};
    return MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) != nullptr;
}

}  // namespace

TDialogBase::TDialogBase(DialogLayout layout) : layout_(std::move(layout)) {}

int TDialogBase::ShowModal() {
    const std::vector<WORD> dialogTemplate = EmptyTemplate(layout_.caption);
    createFailure_ = nullptr;
    // Like any modal window, the dialog disables the host's active window.
    HWND owner = GetActiveWindow();
    const INT_PTR result = DialogBoxIndirectParamW(
        OwnModule(), reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), owner,
        &TDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    font_.reset();
    if (createFailure_) std::rethrow_exception(std::exchange(createFailure_, nullptr));
    if (result == -1)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "DialogBoxIndirectParamW");
    return static_cast<int>(result);
}

HWND TDialogBase::AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style,
                             const PixelRect& bounds, int id, HWND parent, DWORD exStyle) {
    HWND control = CreateWindowExW(
        exStyle, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, bounds.left, bounds.top,
        bounds.width, bounds.height, parent ? parent : window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), OwnModule(), nullptr);
    if (!control)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateWindowExW");
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return control;
}

HWND TDialogBase::AddButton(int id, const std::wstring& text, const PixelRect& bounds,
                            bool isDefault) {
    const DWORD kind = isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    return AddControl(L"BUTTON", text, WS_TABSTOP | kind, bounds, id);
}

void TDialogBase::Close(int result) {
    bool mayClose = false;
    GuardedCall(window_, [&] { mayClose = OnCloseQuery(result); });
    if (!mayClose) return;
    // A failing close handler is reported, and the dialog closes all the same:
    // the user asked to leave and must not be held in the dialog.
    GuardedCall(window_, [&] { OnClose(result); });
    if (!layout_.placementName.empty()) SaveWindowPosition(layout_.placementName, window_);
    EndDialog(window_, result);
}

INT_PTR CALLBACK TDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TDialogBase*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return self->InitDialog(window) ? FALSE : TRUE;
    }
    auto* self = reinterpret_cast<TDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

// Returns true when it has set the focus itself.
bool TDialogBase::InitDialog(HWND window) noexcept {
    window_ = window;
    try {
        font_ = MakeDialogFont();
        PlaceWindow();
        OnCreate();
    } catch (...) {
        createFailure_ = std::current_exception();
        EndDialog(window, IDCANCEL);
        return true;
    }
    HWND focus = nullptr;
    GuardedCall(window_, [&] { focus = InitialFocus(); });
    if (!focus) focus = GetNextDlgTabItem(window_, nullptr, FALSE);
    if (focus) SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    PostMessageW(window_, kShownMessage, 0, 0);
    return focus != nullptr;
}

INT_PTR TDialogBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case kShownMessage:
            GuardedCall(window_, [&] { OnShow(); });
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {
                Close(id);
            } else {
                GuardedCall(window_,
                            [&] { OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam)); });
            }
            return TRUE;
        }
        default: {
            std::optional<INT_PTR> handled;
            GuardedCall(window_, [&] { handled = OnMessage(message, wParam, lParam); });
            if (!handled) return FALSE;
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, *handled);
            return TRUE;
        }
    }
}

void TDialogBase::PlaceWindow() {
    RECT frame{0, 0, layout_.client.cx, layout_.client.cy};
    AdjustWindowRectEx(&frame, kDialogStyle, FALSE, kDialogExStyle);
    const SIZE frameSize{frame.right - frame.left, frame.bottom - frame.top};
    const POINT topLeft = StartPosition(frameSize);
    SetWindowPos(window_, nullptr, topLeft.x, topLeft.y, frameSize.cx, frameSize.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT TDialogBase::StartPosition(SIZE frame) const {
    if (!layout_.placementName.empty()) {
        // A remembered position wins, unless the screen it was on is gone.
        if (const auto remembered = LoadWindowPosition(layout_.placementName);
            remembered && IsOnSomeMonitor(*remembered, frame))
            return *remembered;
    }
    if (layout_.position) return *layout_.position;
    return POINT{(GetSystemMetrics(SM_CXSCREEN) - frame.cx) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - frame.cy) / 2};
}

}  // namespace pdt::ui
