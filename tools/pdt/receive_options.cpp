#include "receive_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <map>

#include "ini_settings.h"

namespace pdt::cli {
namespace {

// One driver setting as the command line and the settings file name it.
struct SettingField {
    const char* option;
    const char* key;
    int32_t DriverSettings::*member;
};

constexpr std::array kSettingFields = {
    SettingField{"--baud", "iBaud", &DriverSettings::iBaud},
    SettingField{"--parity", "iParity", &DriverSettings::iParity},
    SettingField{"--data-bits", "iDataBit", &DriverSettings::iDataBit},
    SettingField{"--stop-bits", "iStopBit", &DriverSettings::iStopBit},
    SettingField{"--table", "c_FormNum", &DriverSettings::c_FormNum},
    SettingField{"--barcode-field", "c_CodeFldNum", &DriverSettings::c_CodeFldNum},
    SettingField{"--quantity-field", "c_CountFldNum", &DriverSettings::c_CountFldNum},
    SettingField{"--timeout", "c_TimeOut", &DriverSettings::c_TimeOut},
};

constexpr std::array kParityNames = {"none", "odd", "even", "mark", "space"};

// Options that take a value, besides the settings above.
constexpr std::array kValueOptions = {"--device", "--ini",        "--format",
                                      "--output", "--transcript", "--progress"};

bool IsSettingOption(const std::string& name) {
    return std::any_of(kSettingFields.begin(), kSettingFields.end(),
                       [&](const SettingField& f) { return name == f.option; });
}

bool IsValueOption(const std::string& name) {
    return IsSettingOption(name) ||
           std::find(kValueOptions.begin(), kValueOptions.end(), name) != kValueOptions.end();
}

std::optional<int64_t> ParseWholeNumber(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

int32_t ParseSettingValue(const SettingField& field, const std::string& text) {
    if (field.member == &DriverSettings::iParity) {
        if (auto code = ParityCode(text)) return *code;
        throw UsageError(std::string(field.option) + ": \"" + text +
                         "\" is not a parity; use none, odd, even, mark or space");
    }
    auto value = ParseWholeNumber(text);
    if (!value || *value < std::numeric_limits<int32_t>::min() ||
        *value > std::numeric_limits<int32_t>::max()) {
        throw UsageError(std::string(field.option) + ": \"" + text + "\" is not a whole number");
    }
    return static_cast<int32_t>(*value);
}

// Where a setting's value came from, for the messages of the checks.
using Origins = std::map<std::string, std::string>;  // option -> origin

std::string JoinBaudRates() {
    std::string out;
    for (int rate : AllowedBaudRates()) {
        if (!out.empty()) out += ", ";
        out += std::to_string(rate);
    }
    return out;
}

void CheckRange(const std::string& origin, int32_t value, int32_t low, int32_t high,
                const char* what) {
    if (value >= low && value <= high) return;
    throw UsageError(origin + ": " + std::to_string(value) + " is out of range; " + what +
                     " must be from " + std::to_string(low) + " to " + std::to_string(high));
}

void Validate(const DriverSettings& s, const Origins& origins) {
    auto origin = [&](int32_t DriverSettings::*member) {
        for (const auto& field : kSettingFields) {
            if (field.member == member) return origins.at(field.option);
        }
        return std::string();
    };
    const auto& rates = AllowedBaudRates();
    if (std::find(rates.begin(), rates.end(), s.iBaud) == rates.end()) {
        throw UsageError(origin(&DriverSettings::iBaud) + ": " + std::to_string(s.iBaud) +
                         " is not a supported speed; use one of " + JoinBaudRates());
    }
    if (s.iParity < 0 || s.iParity > 4) {
        throw UsageError(origin(&DriverSettings::iParity) + ": " + std::to_string(s.iParity) +
                         " is out of range; the parity code must be from 0 (none) to 4 (space)");
    }
    CheckRange(origin(&DriverSettings::iDataBit), s.iDataBit, 5, 8, "data bits");
    CheckRange(origin(&DriverSettings::iStopBit), s.iStopBit, 1, 2, "stop bits");
    CheckRange(origin(&DriverSettings::c_FormNum), s.c_FormNum, 0, 8, "the table number");
    CheckRange(origin(&DriverSettings::c_CodeFldNum), s.c_CodeFldNum, 1, 99,
               "the barcode field number");
    CheckRange(origin(&DriverSettings::c_CountFldNum), s.c_CountFldNum, 1, 99,
               "the quantity field number");
    CheckRange(origin(&DriverSettings::c_TimeOut), s.c_TimeOut, 0,
               std::numeric_limits<int32_t>::max(), "the time-out in seconds");
}

OutputFormat ParseFormat(const std::string& text) {
    if (text == "table") return OutputFormat::kTable;
    if (text == "csv") return OutputFormat::kCsv;
    if (text == "json") return OutputFormat::kJson;
    throw UsageError("--format: \"" + text + "\" is not a format; use table, csv or json");
}

ProgressMode ParseProgress(const std::string& text) {
    if (text == "auto") return ProgressMode::kAuto;
    if (text == "bar") return ProgressMode::kBar;
    if (text == "lines") return ProgressMode::kLines;
    if (text == "none") return ProgressMode::kNone;
    throw UsageError("--progress: \"" + text + "\" is not a mode; use auto, bar, lines or none");
}

// Splits "--name=value" and "--name value"; collects every option, the last
// one of a name winning.
std::map<std::string, std::string> CollectOptions(const std::vector<std::string>& args,
                                                  bool& help) {
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") {
            help = true;
            continue;
        }
        std::optional<std::string> value;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (!IsValueOption(name)) {
            throw UsageError(name.rfind("-", 0) == 0 ? "unknown option " + name
                                                     : "unexpected argument \"" + name + "\"");
        }
        if (!value) {
            if (i + 1 >= args.size()) throw UsageError(name + ": a value is missing");
            value = args[++i];
        }
        values[name] = *value;
    }
    return values;
}

}  // namespace

const std::vector<int>& AllowedBaudRates() {
    static const std::vector<int> rates = {300,  600,   1200,  2400,  4800,
                                           9600, 19200, 38400, 57600, 115200};
    return rates;
}

std::optional<int> ParityCode(const std::string& name) {
    for (size_t i = 0; i < kParityNames.size(); ++i) {
        if (name == kParityNames[i]) return static_cast<int>(i);
    }
    return std::nullopt;
}

const char* ParityName(int code) {
    if (code < 0 || code >= static_cast<int>(kParityNames.size())) return "?";
    return kParityNames[static_cast<size_t>(code)];
}

ReceiveOptions ParseReceiveOptions(const std::vector<std::string>& args) {
    ReceiveOptions options;
    auto values = CollectOptions(args, options.help);
    if (options.help) return options;

    Origins origins;
    for (const auto& field : kSettingFields) origins[field.option] = field.option;
    if (auto it = values.find("--ini"); it != values.end()) {
        options.iniFile = it->second;
        std::string problem;
        if (!ReadIniSettings(it->second, options.settings, problem)) {
            throw UsageError("--ini: " + problem);
        }
        for (const auto& field : kSettingFields) {
            origins[field.option] =
                std::string(field.key) + " in " + it->second + " (or " + field.option + ")";
        }
    }
    for (const auto& field : kSettingFields) {
        if (auto it = values.find(field.option); it != values.end()) {
            options.settings.*field.member = ParseSettingValue(field, it->second);
            origins[field.option] = field.option;
        }
    }
    Validate(options.settings, origins);

    if (auto it = values.find("--device"); it != values.end()) {
        if (it->second.empty()) throw UsageError("--device: the device path is empty");
        options.device = it->second;
    }
    if (auto it = values.find("--format"); it != values.end()) {
        options.format = ParseFormat(it->second);
    }
    if (auto it = values.find("--output"); it != values.end()) {
        if (it->second.empty()) throw UsageError("--output: the file name is empty");
        options.outputFile = it->second;
    }
    if (auto it = values.find("--transcript"); it != values.end()) {
        if (it->second.empty()) throw UsageError("--transcript: the file name is empty");
        options.transcriptFile = it->second;
    }
    if (auto it = values.find("--progress"); it != values.end()) {
        options.progress = ParseProgress(it->second);
    }
    return options;
}

void ValidateSettings(const DriverSettings& settings) {
    Origins origins;
    for (const auto& field : kSettingFields) origins[field.option] = field.option;
    Validate(settings, origins);
}

OutputFormat ChooseFormat(const ReceiveOptions& options, bool stdoutIsTerminal) {
    if (options.format) return *options.format;
    if (options.outputFile) {
        const std::string& name = *options.outputFile;
        const std::string json = ".json";
        bool isJson = name.size() >= json.size() &&
                      std::equal(json.rbegin(), json.rend(), name.rbegin(),
                                 [](char a, char b) { return a == (b | 0x20); });
        return isJson ? OutputFormat::kJson : OutputFormat::kCsv;
    }
    return stdoutIsTerminal ? OutputFormat::kTable : OutputFormat::kCsv;
}

}  // namespace pdt::cli

namespace pdt::cli {

const char* ReceiveHelp() {
    return R"(usage: pdt receive --device PATH [options]

Downloads one table from a Zebex Z-2030 terminal in its cradle, with the same
exchange as PDT.dll, and prints the records (barcode and quantity).

Line and protocol (defaults: the driver's, or the --ini file; options win):
  --device PATH           the serial device: /dev/ttyUSB0, a stable name such as
                          /dev/serial/by-id/usb-FTDI_..., /dev/ttyS0 (see pdt ports)
  --ini FILE              read the settings from FILE, a Driver_.ini of PDT.dll
                          (section "PDT"; iBaud, iParity, iDataBit, iStopBit,
                          c_FormNum, c_CodeFldNum, c_CountFldNum, c_TimeOut)
  --baud N                speed: 300, 600, 1200, 2400, 4800, 9600 (default),
                          19200, 38400, 57600 or 115200
  --parity P              none (default), odd, even, mark or space
  --data-bits N           5 to 8 (default 8)
  --stop-bits N           1 (default) or 2
  --table N               the terminal's table to read, 0 (default) to 8
  --barcode-field N       field of a record holding the barcode, 1 (default) to 99
  --quantity-field N      field holding the quantity, 1 to 99 (default 2)
  --timeout SECONDS       give up when the terminal sends nothing for this long,
                          0 to 2147483647 (default 60; 0 waits without limit)

Output:
  --format F              table (default on a terminal), csv (RFC 4180, default
                          otherwise) or json; barcodes are printed as the
                          terminal sent them, JSON escapes bytes that are not
                          UTF-8 and adds "barcode_hex" for such a barcode
  --output FILE           write the records into FILE instead (whole or not at
                          all); FILE ending in .json selects JSON
  --progress MODE         auto (default: a bar on a terminal, else the exchange's
                          lines "Файл: ...", "Записей: ...", "Запись: ..."),
                          bar, lines or none; progress goes to standard error
  --transcript FILE       write a timestamped hex dump of both directions
  -h, --help              this text

Ctrl-C sends ESC to the terminal, closes the port and keeps the records
received so far.

Exit codes:
  0    every record the terminal announced was received
  1    the records could not be written
  2    bad option or settings file (nothing was opened)
  3    the port could not be opened or programmed
  4    the exchange ended early or timed out (records so far are still written)
  130  interrupted
)";
}

}  // namespace pdt::cli
