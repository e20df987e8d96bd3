#include "driver/ui/window_placement.h"

#include "driver/ui/win_handles.h"

namespace pdt::ui {
namespace {

std::wstring KeyPath(const std::wstring& name) {
    return std::wstring(kPlacementRoot) + L"\\" + name;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return data;
}

void WriteDword(HKEY key, const wchar_t* value, LONG data) {
    const DWORD raw = static_cast<DWORD>(data);
    RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&raw), sizeof(raw));
}

}  // namespace

std::optional<POINT> LoadWindowPosition(const std::wstring& name) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(name).c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
        return std::nullopt;
    const UniqueRegKey key(raw);
    const auto left = ReadDword(key.get(), L"Left");
    const auto top = ReadDword(key.get(), L"Top");
    if (!left || !top) return std::nullopt;
    return POINT{static_cast<LONG>(*left), static_cast<LONG>(*top)};
}

void SaveWindowPosition(const std::wstring& name, HWND window) noexcept {
    RECT frame{};
    if (!GetWindowRect(window, &frame)) return;
    try {
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(name).c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &raw, nullptr) != ERROR_SUCCESS)
            return;
        const UniqueRegKey key(raw);
        WriteDword(key.get(), L"Left", frame.left);
        WriteDword(key.get(), L"Top", frame.top);
    } catch (...) {
        // Out of memory building the key name: the position is simply not kept.
    }
}

}  // namespace pdt::ui
