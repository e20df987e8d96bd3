#include "driver/ui/error_box.h"

#include <stdexcept>
#include <string>

#include "driver/ui/text_convert.h"

namespace pdt::ui {
namespace {

// The host program's file name without folder and extension, as in its title.
std::wstring HostTitle() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    if (const size_t slash = name.find_last_of(L"\\/"); slash != std::wstring::npos)
        name.erase(0, slash + 1);
    if (const size_t dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace

void ShowErrorBox(HWND owner, std::string_view text) {
    const std::wstring message = Utf8ToWide(text);
    const std::wstring caption = HostTitle();
    MessageBoxW(owner, message.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

std::string CurrentExceptionText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Внутренняя ошибка драйвера";
    }
}

}  // namespace pdt::ui
