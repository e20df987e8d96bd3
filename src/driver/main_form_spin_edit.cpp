#include "driver/main_form_spin_edit.h"

#include <commctrl.h>

#include <limits>
#include <string>

#include "core/settings/settings_file.h"
#include "driver/ui/text_convert.h"

namespace pdt {
namespace {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

void TSpinEdit::Attach(HWND edit, HWND upDown) {
    edit_ = edit;
    const int32_t low = Unlimited() ? std::numeric_limits<int32_t>::min() : min_;
    const int32_t high = Unlimited() ? std::numeric_limits<int32_t>::max() : max_;
    SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    SendMessageW(upDown, UDM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

int32_t TSpinEdit::Clamp(int64_t value) const {
    if (Unlimited()) return static_cast<int32_t>(value);
    if (value < min_) return min_;
    if (value > max_) return max_;
    return static_cast<int32_t>(value);
}

void TSpinEdit::SetValue(int32_t value) {
    SetWindowTextW(edit_, std::to_wstring(Clamp(value)).c_str());
}

int32_t TSpinEdit::Value() const {
    const std::optional<int32_t> typed = ParseIniInteger(ui::WideToUtf8(WindowText(edit_)));
    return typed ? Clamp(*typed) : min_;
}

void TSpinEdit::OnExit() {
    const std::wstring shown = std::to_wstring(Value());
    if (WindowText(edit_) != shown) SetWindowTextW(edit_, shown.c_str());
}

}  // namespace pdt
