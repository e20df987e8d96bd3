// Reading the driver's settings file (Driver_.ini format, section "PDT") for
// the command-line tool.
#pragma once

#include <string>

#include "core/settings/driver_settings.h"

namespace pdt::cli {

// Reads the nine keys of section "PDT" over `settings`: a key that is missing
// or not an integer keeps its current value, as the driver does. Unlike the
// driver, a file that cannot be read is an error here (the user named it):
// false, with the reason in `problem`.
bool ReadIniSettings(const std::string& path, DriverSettings& settings, std::string& problem);

}  // namespace pdt::cli
