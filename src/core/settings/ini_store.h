// Access to one INI file by section and key: the platform's profile service on
// Windows, our own IniText codec elsewhere. The settings sequences run over
// this interface, so both behave alike.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pdt {

// A settings file that could not be read or was refused a write.
class SettingsFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IniStore {
  public:
    virtual ~IniStore() = default;
    // The value's text (trimmed, unquoted), or nothing when the file, the
    // section or the key is missing. Throws SettingsFileError when the file
    // exists but cannot be read.
    virtual std::optional<std::string> ReadString(std::string_view section,
                                                  std::string_view key) = 0;
    // Stores the value, creating the file and the section when missing and
    // touching nothing else. Throws SettingsFileError when the write is refused.
    virtual void WriteString(std::string_view section, std::string_view key,
                             std::string_view value) = 0;
};

}  // namespace pdt
