// The standard error report of the driver's dialogs.
//
// Windows calls our dialog procedures from its own code, so an exception must
// never leave one: every handler runs inside GuardedCall, which turns any
// exception into the error box, the way the user has always been told about a
// failure in these dialogs.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

namespace pdt::ui {

// Modal message box with the error icon and one OK button; the caption is the
// host program's name. `text` is UTF-8.
void ShowErrorBox(HWND owner, std::string_view text);

// The text to show for the exception being handled (UTF-8).
std::string CurrentExceptionText(std::exception_ptr error);

// Runs `action`; an exception of any kind ends in the error box instead.
// Returns false when `action` threw.
template <class Action>
bool GuardedCall(HWND owner, Action&& action) noexcept {
    try {
        action();
        return true;
    } catch (...) {
        try {
            ShowErrorBox(owner, CurrentExceptionText(std::current_exception()));
        } catch (...) {
            // Nothing is left to report with (out of memory); the dialog goes on.
        }
        return false;
    }
}

}  // namespace pdt::ui
