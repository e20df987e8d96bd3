// Owners for the Win32 handles the driver's UI holds.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace pdt::ui {

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

struct RegKeyDeleter {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyDeleter>;

struct HandleDeleter {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
// For handles whose "none" is null (threads, events); not for file handles.
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleDeleter>;

}  // namespace pdt::ui
