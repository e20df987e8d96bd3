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

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Once loaded, the library stays loaded until the process ends: a host
        // that frees and loads it again gets the same copy. Unloading a DLL
        // that carries a static runtime with thread-local storage and loading
        // it again crashed the host's process on the third load (seen under
        // Wine); keeping it costs nothing a host can notice, except that the
        // settings file is then read at the first load only (the settings
        // dialog still reads it at every showing).
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(instance), &self);
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
