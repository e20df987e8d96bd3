// Configure as a host reaches it: PDT.dll loaded, InitDll called, slot 1 of the
// driver object's table called with the object. Cancel leaves the settings
// file in the Windows directory as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "dialog_remote.h"
#include "wine_paths.h"

namespace {

using InitDllEntry = void**(__stdcall*)();
using ConfigureEntry = void(__stdcall*)(void* self);

std::string SettingsFileBytes() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::ifstream stream(std::string(windows) + "\\Driver_.ini", std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

TEST(SettingsDialogThroughTheLibrary, ConfigureShowsTheDialogAndCancelChangesNothing) {
    HMODULE library = LoadLibraryA(pdt::test::WinePath(PDT_DLL).c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    const auto initDll = reinterpret_cast<InitDllEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "InitDll")));
    ASSERT_NE(initDll, nullptr);

    void** reference = initDll();                  // P
    void* object = *reference;                     // O = *P
    void** table = *static_cast<void***>(object);  // T = *O
    const auto configure = reinterpret_cast<ConfigureEntry>(table[1]);

    const std::string before = SettingsFileBytes();
    bool shown = false;
    pdt::test::RunWithScript([&] { configure(object); }, L"Настройка Zibex Z-2030",
                             [&](pdt::test::DialogRemote& d) {
                                 shown = true;
                                 d.Press(IDCANCEL);
                                 EXPECT_TRUE(d.WaitClosed());
                             });
    EXPECT_TRUE(shown);
    EXPECT_EQ(SettingsFileBytes(), before);
    FreeLibrary(library);
}

}  // namespace
