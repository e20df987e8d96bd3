// An IniStore over a file edited with IniText: every call reads the file, and
// every write rewrites it whole with just that value changed.
#pragma once

#include <string>

#include "core/settings/ini_store.h"

namespace pdt {

class IniFileStore : public IniStore {
  public:
    explicit IniFileStore(std::string path);

    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override;

    const std::string& Path() const { return path_; }

  private:
    // The file's bytes; empty for a file that does not exist.
    std::string Load() const;

    std::string path_;
};

}  // namespace pdt
