#include "core/settings/ini_file_store.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/settings/ini_text.h"

namespace pdt {

IniFileStore::IniFileStore(std::string path) : path_(std::move(path)) {}

std::optional<std::string> IniFileStore::ReadString(std::string_view section,
                                                    std::string_view key) {
    return IniText(Load()).Get(section, key);
}

void IniFileStore::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
    IniText text(Load());
    try {
        text.Set(section, key, value);
    } catch (const std::invalid_argument& error) {
        throw SettingsFileError(error.what());
    }
    std::ofstream file(path_, std::ios::binary | std::ios::trunc);
    file.write(text.Text().data(), static_cast<std::streamsize>(text.Text().size()));
    file.close();
    if (!file) {
        throw SettingsFileError("Cannot write key " + std::string(key) + " to the settings file " +
                                path_);
    }
}

std::string IniFileStore::Load() const {
    std::error_code error;
    const auto status = std::filesystem::status(path_, error);
    if (status.type() == std::filesystem::file_type::not_found) return {};
    if (error) {
        throw SettingsFileError("Cannot reach the settings file " + path_ + ": " + error.message());
    }
    std::ifstream file(path_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad() || !std::filesystem::is_regular_file(status)) {
        throw SettingsFileError("Cannot read the settings file " + path_);
    }
    return bytes;
}

}  // namespace pdt
