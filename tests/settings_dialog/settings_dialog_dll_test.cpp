// Configure as a host reaches it: PDT.dll loaded, InitDll called, slot 1 of the
// driver object's table called with the object. The settings file in the
// Windows directory is shared with other programs under the same Wine prefix,
// so what Cancel leaves there is checked by settings_dialog_test instead.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "dialog_remote.h"
#include "wine_paths.h"

namespace {

using InitDllEntry = void**(__stdcall*)();
using ConfigureEntry = void(__stdcall*)(void* self);

TEST(SettingsDialogThroughTheLibrary, ConfigureShowsTheDialogOnTheFirstPageAndCancelCloses) {
    HMODULE library = LoadLibraryA(pdt::test::WinePath(PDT_DLL).c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    const auto initDll = reinterpret_cast<InitDllEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "InitDll")));
    ASSERT_NE(initDll, nullptr);

    void** reference = initDll();                  // P
    void* object = *reference;                     // O = *P
    void** table = *static_cast<void***>(object);  // T = *O
    const auto configure = reinterpret_cast<ConfigureEntry>(table[1]);

    bool shown = false;
    pdt::test::RunWithScript([&] { configure(object); }, L"Настройка Zibex Z-2030",
                             [&](pdt::test::DialogRemote& d) {
                                 shown = true;
                                 constexpr int kPageControlId = 1101;
                                 EXPECT_EQ(
                                     SendMessageW(d.Item(kPageControlId), TCM_GETCURSEL, 0, 0), 0);
                                 d.Press(IDCANCEL);
                                 EXPECT_TRUE(d.WaitClosed());
                             });
    EXPECT_TRUE(shown);
    FreeLibrary(library);
}

}  // namespace
