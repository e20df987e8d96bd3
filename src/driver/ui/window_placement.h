// The screen position a dialog remembers between showings, per user.
//
// Kept under HKEY_CURRENT_USER in a key of the driver's own, one subkey per
// dialog, so every user of the computer finds the dialog where they left it.
// The settings file is for the driver's settings only and is never used here.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace pdt::ui {

inline constexpr wchar_t kPlacementRoot[] = L"Software\\Zebex\\PDT\\Placement";

// The remembered top-left corner of dialog `name`, if any was stored.
std::optional<POINT> LoadWindowPosition(const std::wstring& name);
// Stores the window's current top-left corner for dialog `name`; failures are
// ignored (the next showing simply starts at the designed position).
void SaveWindowPosition(const std::wstring& name, HWND window) noexcept;

}  // namespace pdt::ui
