// The settings file on Windows: the system's profile service on the file in
// the Windows directory.
#include <windows.h>

#include <mutex>
#include <vector>

#include "core/settings/settings_file.h"

namespace pdt {

namespace {

std::mutex pathMutex;
std::string chosenPath;

std::string WindowsDirectory() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const UINT length = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) {
            throw SettingsFileError("Cannot find the Windows directory (error " +
                                    std::to_string(GetLastError()) + ")");
        }
        if (length < buffer.size()) return {buffer.data(), length};
        buffer.resize(length + 1);  // `length` is the size needed
    }
}

// The profile service: GetPrivateProfileStringA to read (numbers are
// converted by the caller, since GetPrivateProfileIntA answers 0 rather than
// the default for text that is not a number), WritePrivateProfileStringA to
// write.
class ProfileStore : public IniStore {
  public:
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
        const std::string sectionText(section);
        const std::string keyText(key);
        std::vector<char> buffer(256);
        for (;;) {
            const DWORD length =
                GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), "", buffer.data(),
                                         static_cast<DWORD>(buffer.size()), path_.c_str());
            if (length + 1 < buffer.size()) {
                // An empty value reads like a missing key; neither is a number.
                if (length == 0) return std::nullopt;
                return std::string(buffer.data(), length);
            }
            buffer.resize(buffer.size() * 4);  // truncated
        }
    }

    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override {
        const std::string sectionText(section);
        const std::string keyText(key);
        const std::string valueText(value);
        if (!WritePrivateProfileStringA(sectionText.c_str(), keyText.c_str(), valueText.c_str(),
                                        path_.c_str())) {
            throw SettingsFileError("Cannot write key " + keyText + " to the settings file " +
                                    path_ + " (error " + std::to_string(GetLastError()) + ")");
        }
    }

  private:
    std::string path_;
};

}  // namespace

std::string SettingsFilePath() {
    {
        std::lock_guard lock(pathMutex);
        if (!chosenPath.empty()) return chosenPath;
    }
    std::string path = WindowsDirectory();
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    return path + std::string(kSettingsFileName);
}

void SetSettingsFilePath(std::string path) {
    std::lock_guard lock(pathMutex);
    chosenPath = std::move(path);
}

std::unique_ptr<IniStore> OpenIniStore(const std::string& path) {
    return std::make_unique<ProfileStore>(path);
}

}  // namespace pdt
