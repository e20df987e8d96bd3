// Drives a modal dialog of this process from a second thread, through window
// messages only, the way a user's clicks and keys would reach it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pdt::test {

using namespace std::chrono_literals;
// Generous: the machine may be busy with other Wine programs.
inline constexpr auto kWaitLimit = 60s;

// Polls `condition` every few milliseconds until it holds or `limit` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = kWaitLimit);

std::wstring TextOf(HWND window);

// A message box (or other dialog) owned by `owner`, once it shows.
struct MessageBoxSeen {
    std::wstring caption;
    std::wstring text;
    bool stopIcon = false;
};

class DialogRemote {
  public:
    explicit DialogRemote(HWND dialog) : dialog_(dialog) {}
    // Waits for a top-level dialog with this caption in this process.
    static std::optional<DialogRemote> Find(const std::wstring& caption);

    HWND Handle() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool Open() const { return IsWindow(dialog_) && IsWindowVisible(dialog_); }

    std::wstring Text(int id) const { return TextOf(Item(id)); }
    void SetText(int id, const std::wstring& text) const;
    std::vector<std::wstring> Items(int comboId) const;
    int Selected(int comboId) const;
    void Select(int comboId, int index) const;
    bool Checked(int id) const;
    void Check(int firstId, int lastId, int id) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    RECT Bounds(int id) const;  // in the dialog's client coordinates
    // Moves the keyboard focus to control `id`, as a click would.
    void Focus(int id) const;

    // A click on the tab of `page` of tab control `tabId`.
    void ShowPage(int tabId, int page) const;
    int CurrentPage(int tabId) const;

    // Presses a button; the dialog handles it in its own time.
    void Press(int id) const;
    // Waits until the dialog has gone; false if it is still there.
    bool WaitClosed() const;

    // Waits for a message box owned by the dialog, reads it and presses its OK.
    std::optional<MessageBoxSeen> AnswerMessageBox() const;

    // Saves the whole dialog window as a PNG picture.
    void Screenshot(const std::string& path) const;

  private:
    HWND dialog_;
};

// Runs `showDialog` (which shows a modal dialog and returns when it closes)
// on this thread, and `script` on a second thread meanwhile. Should the script
// end with the dialog still open, the dialog is cancelled, so nothing hangs.
void RunWithScript(const std::function<void()>& showDialog, const std::wstring& caption,
                   const std::function<void(DialogRemote&)>& script);

}  // namespace pdt::test
