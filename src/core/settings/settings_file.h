// The settings file: section "PDT" of "Driver_.ini" holding the nine driver
// settings as decimal integers.
//
// Reading passes over the keys in a fixed order and stores each value as soon
// as it is read; a missing file, section or key, or a value that is not an
// integer, keeps the setting's current value. Values are not range-checked.
// Writing stores all nine keys and leaves the rest of the file alone.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings/driver_settings.h"
#include "core/settings/ini_store.h"

namespace pdt {

inline constexpr std::string_view kSettingsSection = "PDT";
inline constexpr std::string_view kSettingsFileName = "Driver_.ini";
// Written to the log at level 2 when LoadSettings cannot read the file.
inline constexpr std::string_view kSettingsNotFoundMessage = "Не найден конфигурационный файл.";

struct SettingKey {
    std::string_view name;
    int32_t DriverSettings::*field;
};

// The keys in the order in which they are read and written.
inline constexpr std::array<SettingKey, 9> kSettingKeys = {{
    {"iComNum", &DriverSettings::iComNum},
    {"iBaud", &DriverSettings::iBaud},
    {"iParity", &DriverSettings::iParity},
    {"iDataBit", &DriverSettings::iDataBit},
    {"iStopBit", &DriverSettings::iStopBit},
    {"c_CodeFldNum", &DriverSettings::c_CodeFldNum},
    {"c_CountFldNum", &DriverSettings::c_CountFldNum},
    {"c_TimeOut", &DriverSettings::c_TimeOut},
    {"c_FormNum", &DriverSettings::c_FormNum},
}};

// An optional sign and decimal digits that fit 32 bits, blanks around allowed;
// anything else is not an integer.
std::optional<int32_t> ParseIniInteger(std::string_view text);

// The read and write sequences over any INI store. Failures of the store
// propagate; a failed read leaves the keys before it updated.
void ReadSettingsFrom(IniStore& store, DriverSettings& settings = Settings);
void WriteSettingsTo(IniStore& store, const DriverSettings& settings = Settings);

// --- Bound to this platform's settings file (defined in pdt_platform) ---

// Where the settings live: on Windows the Windows directory, a separator and
// "Driver_.ini"; elsewhere the path set with SetSettingsFilePath (throws
// SettingsFileError when none was set).
std::string SettingsFilePath();
// Chooses the settings file (on Windows: overrides the Windows directory, for
// tests). An empty path restores the platform's choice.
void SetSettingsFilePath(std::string path);
// The platform's INI store for a file: the profile service on Windows.
std::unique_ptr<IniStore> OpenIniStore(const std::string& path);

void ReadSettingsFile();
void WriteSettingsFile();
// At library load: InitLog, then ReadSettingsFile; a failed read writes the
// level-2 log line kSettingsNotFoundMessage and goes no further.
void LoadSettings();

}  // namespace pdt
