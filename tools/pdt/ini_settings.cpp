#include "ini_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/settings/ini_file_store.h"
#include "core/settings/settings_file.h"

namespace pdt::cli {

bool ReadIniSettings(const std::string& path, DriverSettings& settings, std::string& problem) {
    if (!std::ifstream(path, std::ios::binary)) {
        problem = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    try {
        IniFileStore store(path);
        ReadSettingsFrom(store, settings);
        return true;
    } catch (const SettingsFileError& error) {
        problem = error.what();
        return false;
    }
}

}  // namespace pdt::cli
