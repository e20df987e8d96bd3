// The command line of `pdt receive`: parsing, the settings file merge and the
// checks, all before any port is touched.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/settings/driver_settings.h"

namespace pdt::cli {

// A bad command line or settings file; the message names the option (or the
// file and key) and what is allowed. Exit code 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class OutputFormat { kTable, kCsv, kJson };
enum class ProgressMode { kAuto, kBar, kLines, kNone };

struct ReceiveOptions {
    bool help = false;
    std::string device;  // empty on Windows: COMn from iComNum
    std::optional<std::string> iniFile;
    DriverSettings settings;             // defaults, then the settings file, then the options
    std::optional<OutputFormat> format;  // unset: chosen by where the output goes
    std::optional<std::string> outputFile;
    std::optional<std::string> transcriptFile;
    ProgressMode progress = ProgressMode::kAuto;
};

// Parses the arguments after "receive". Reads the settings file when --ini is
// given. Throws UsageError.
ReceiveOptions ParseReceiveOptions(const std::vector<std::string>& args);

// Checks settings against what the tool accepts, naming the options in the
// messages. Throws UsageError.
void ValidateSettings(const DriverSettings& settings);

// The format when none was asked for: a table for a terminal, CSV for a pipe
// or a file, JSON for a file named *.json.
OutputFormat ChooseFormat(const ReceiveOptions& options, bool stdoutIsTerminal);

// The allowed values, shared by the checks and the help text.
const std::vector<int>& AllowedBaudRates();
std::optional<int> ParityCode(const std::string& name);  // "none" -> 0 ... "space" -> 4
const char* ParityName(int code);

const char* ReceiveHelp();

}  // namespace pdt::cli
