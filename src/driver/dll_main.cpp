// PDT.dll's entry points: the loader's DllMain and the one export, InitDll.
#include <windows.h>

#include "core/settings/settings_file.h"
#include "driver/pdt_driver.h"

extern "C" {

// Exported as "InitDll" at ordinal 1 (PDT.def). It takes no arguments, so the
// cdecl and stdcall conventions are the same call.
void* InitDll() {
    return pdt::NewDriver();
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Settings are read once, at load; no port, object or window yet.
        // Nothing may leave DllMain: a failure just leaves the defaults.
        try {
            pdt::LoadSettings();
        } catch (...) {
        }
    }
    return TRUE;
}

}  // extern "C"
