// Text conversions at the boundary to Win32's UTF-16 API.
//
// The system's own texts (labels, messages, exception texts) are UTF-8; the
// terminal's bytes are shown through the ANSI code page, as the terminal's
// Windows software always did.
#pragma once

#include <string>
#include <string_view>

namespace pdt::ui {

std::wstring Utf8ToWide(std::string_view text);
std::wstring AnsiToWide(std::string_view bytes);
std::string WideToUtf8(std::wstring_view text);

}  // namespace pdt::ui
