// The settings file on POSIX: wherever the caller says, through our own codec.
#include <mutex>

#include "core/settings/ini_file_store.h"
#include "core/settings/settings_file.h"

namespace pdt {

namespace {

std::mutex pathMutex;
std::string chosenPath;

}  // namespace

std::string SettingsFilePath() {
    std::lock_guard lock(pathMutex);
    if (chosenPath.empty()) throw SettingsFileError("No settings file has been chosen");
    return chosenPath;
}

void SetSettingsFilePath(std::string path) {
    std::lock_guard lock(pathMutex);
    chosenPath = std::move(path);
}

std::unique_ptr<IniStore> OpenIniStore(const std::string& path) {
    return std::make_unique<IniFileStore>(path);
}

}  // namespace pdt
