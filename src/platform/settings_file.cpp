// The settings sequences bound to this platform's settings file and log.
#include "core/settings/settings_file.h"

#include "core/log/log.h"

namespace pdt {

void ReadSettingsFile() {
    const std::unique_ptr<IniStore> store = OpenIniStore(SettingsFilePath());
    ReadSettingsFrom(*store);
}

void WriteSettingsFile() {
    const std::unique_ptr<IniStore> store = OpenIniStore(SettingsFilePath());
    WriteSettingsTo(*store);
}

void LoadSettings() {
    InitLog();
    try {
        ReadSettingsFile();
    } catch (...) {
        // The library loads on with the values read so far.
        WriteLog(2, kSettingsNotFoundMessage);
    }
}

}  // namespace pdt
