#include "dialog_remote.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "png_writer.h"

namespace pdt::test {
namespace {

constexpr auto kPollInterval = 10ms;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static that holds a message box's text

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedSearch*>(param);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wstring(className) == L"#32770" && GetWindow(window, GW_OWNER) == search->owner &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND OwnedDialog(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), &FindOwnedDialog,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    const LRESULT length = SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return std::wstring(buffer, static_cast<size_t>(length));
}

std::optional<DialogRemote> DialogRemote::Find(const std::wstring& caption) {
    HWND found = nullptr;
    const bool seen = WaitUntil([&] {
        found = FindWindowW(L"#32770", caption.c_str());
        return found && GetWindowThreadProcessId(found, nullptr) != GetCurrentThreadId() &&
               IsWindowVisible(found);
    });
    if (!seen) return std::nullopt;
    return DialogRemote(found);
}

void DialogRemote::SetText(int id, const std::wstring& text) const {
    SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<std::wstring> DialogRemote::Items(int comboId) const {
    std::vector<std::wstring> items;
    const auto count = SendMessageW(Item(comboId), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t buffer[256] = {};
        SendMessageW(Item(comboId), CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(buffer));
        items.emplace_back(buffer);
    }
    return items;
}

int DialogRemote::Selected(int comboId) const {
    return static_cast<int>(SendMessageW(Item(comboId), CB_GETCURSEL, 0, 0));
}

void DialogRemote::Select(int comboId, int index) const {
    SendMessageW(Item(comboId), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool DialogRemote::Checked(int id) const {
    return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogRemote::Check(int firstId, int lastId, int id) const {
    for (int other = firstId; other <= lastId; ++other)
        SendMessageW(Item(other), BM_SETCHECK, other == id ? BST_CHECKED : BST_UNCHECKED, 0);
}

RECT DialogRemote::Bounds(int id) const {
    RECT bounds{};
    GetWindowRect(Item(id), &bounds);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void DialogRemote::Focus(int id) const {
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

void DialogRemote::ShowPage(int tabId, int page) const {
    // What the tab control does on a click: select, then tell its parent.
    SendMessageW(Item(tabId), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    NMHDR header{Item(tabId), static_cast<UINT_PTR>(tabId), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(dialog_, WM_NOTIFY, static_cast<WPARAM>(tabId), reinterpret_cast<LPARAM>(&header));
}

int DialogRemote::CurrentPage(int tabId) const {
    return static_cast<int>(SendMessageW(Item(tabId), TCM_GETCURSEL, 0, 0));
}

void DialogRemote::Press(int id) const {
    PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

bool DialogRemote::WaitClosed() const {
    return WaitUntil([&] { return !Open(); });
}

std::optional<MessageBoxSeen> DialogRemote::AnswerMessageBox() const {
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = OwnedDialog(dialog_)) != nullptr; })) return std::nullopt;
    MessageBoxSeen seen;
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, kMessageBoxTextId));
    // The icon is a static showing the system's stop icon.
    const HICON stop = LoadIconW(nullptr, MAKEINTRESOURCEW(32513));  // IDI_HAND
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (icon && icon == stop) seen.stopIcon = true;
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitUntil([&] { return !IsWindow(box); });
    return seen;
}

void DialogRemote::Screenshot(const std::string& path) const {
    SetForegroundWindow(dialog_);
    RedrawWindow(dialog_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::this_thread::sleep_for(300ms);  // let the X server show what was painted
    RECT frame{};
    GetWindowRect(dialog_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgra(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::vector<uint8_t> rgb;
    rgb.reserve(bgra.size() / 4 * 3);
    for (size_t i = 0; i < bgra.size(); i += 4)
        rgb.insert(rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
    WritePng(path, width, height, rgb);
}

void RunWithScript(const std::function<void()>& showDialog, const std::wstring& caption,
                   const std::function<void(DialogRemote&)>& script) {
    std::atomic<bool> returned = false;
    std::thread driver([&] {
        std::optional<DialogRemote> dialog = DialogRemote::Find(caption);
        if (!dialog) {
            ADD_FAILURE() << "the dialog did not show within the time limit";
            // Should it show late, it is still closed, or this test would hang.
            while (!returned && !dialog) {
                if (HWND late = FindWindowW(L"#32770", caption.c_str())) dialog.emplace(late);
                std::this_thread::sleep_for(kPollInterval);
            }
            if (!dialog) return;
        } else {
            try {
                script(*dialog);
            } catch (const std::exception& error) {
                ADD_FAILURE() << "script failed: " << error.what();
            }
        }
        // Whatever the script left open is closed, so the dialog's thread returns.
        while (!returned && dialog->Open()) {
            if (HWND box = OwnedDialog(dialog->Handle()))
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            dialog->Press(IDCANCEL);
            WaitUntil([&] { return returned || !dialog->Open(); }, 2s);
        }
    });
    showDialog();
    returned = true;
    driver.join();
}

}  // namespace pdt::test
