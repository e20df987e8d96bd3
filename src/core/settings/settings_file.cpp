#include "core/settings/settings_file.h"

#include <limits>

namespace pdt {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);

    const bool negative = text.front() == '-';
    if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;

    // Accumulate the magnitude in 64 bits; the digit count bound keeps it safe.
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

void ReadSettingsFrom(IniStore& store, DriverSettings& settings) {
    for (const SettingKey& key : kSettingKeys) {
        const std::optional<std::string> text = store.ReadString(kSettingsSection, key.name);
        if (!text) continue;
        if (const std::optional<int32_t> value = ParseIniInteger(*text))
            settings.*key.field = *value;
    }
}

void WriteSettingsTo(IniStore& store, const DriverSettings& settings) {
    for (const SettingKey& key : kSettingKeys) {
        store.WriteString(kSettingsSection, key.name, std::to_string(settings.*key.field));
    }
}

}  // namespace pdt
