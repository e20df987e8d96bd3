#include "receive_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pdt::cli {
namespace {

using Args = std::vector<std::string>;

std::string UsageMessage(const Args& args) {
    try {
        ParseReceiveOptions(args);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(ReceiveOptions, DefaultsAreTheDriversAndOptionsOverrideThem) {
    auto defaults = ParseReceiveOptions({"--device", "/dev/ttyUSB0"});
    EXPECT_EQ(defaults.device, "/dev/ttyUSB0");
    EXPECT_EQ(defaults.settings.iBaud, 9600);
    EXPECT_EQ(defaults.settings.c_TimeOut, 60);
    EXPECT_EQ(defaults.settings.c_CountFldNum, 2);

    auto set =
        ParseReceiveOptions({"--device=/dev/x",  "--baud", "19200",           "--parity=even",
                             "--data-bits",      "7",      "--stop-bits",     "2",
                             "--table",          "3",      "--barcode-field", "2",
                             "--quantity-field", "5",      "--timeout",       "0",
                             "--format",         "json",   "--progress",      "lines"});
    EXPECT_EQ(set.device, "/dev/x");
    EXPECT_EQ(set.settings.iBaud, 19200);
    EXPECT_EQ(set.settings.iParity, 2);  // the line's code: 1 odd, 2 even
    EXPECT_EQ(set.settings.iDataBit, 7);
    EXPECT_EQ(set.settings.iStopBit, 2);
    EXPECT_EQ(set.settings.c_FormNum, 3);
    EXPECT_EQ(set.settings.c_CodeFldNum, 2);
    EXPECT_EQ(set.settings.c_CountFldNum, 5);
    EXPECT_EQ(set.settings.c_TimeOut, 0);
    EXPECT_EQ(set.format, OutputFormat::kJson);
    EXPECT_EQ(set.progress, ProgressMode::kLines);
}

TEST(ReceiveOptions, ParityNamesMatchTheLineCodes) {
    const char* names[] = {"none", "odd", "even", "mark", "space"};
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(ParityCode(names[code]), code);
        EXPECT_STREQ(ParityName(code), names[code]);
    }
}

struct BadCase {
    Args args;
    std::vector<std::string> mentions;  // the option and what is allowed
};

TEST(ReceiveOptions, BadValuesNameTheOptionAndWhatIsAllowed) {
    const BadCase cases[] = {
        {{"--baud", "12345"}, {"--baud", "12345", "9600", "115200"}},
        {{"--baud", "fast"}, {"--baud", "fast", "whole number"}},
        {{"--parity", "yes"}, {"--parity", "none, odd, even, mark or space"}},
        {{"--data-bits", "9"}, {"--data-bits", "5 to 8"}},
        {{"--stop-bits", "0"}, {"--stop-bits", "1 to 2"}},
        {{"--table", "9"}, {"--table", "0 to 8"}},
        {{"--barcode-field", "0"}, {"--barcode-field", "1 to 99"}},
        {{"--quantity-field", "100"}, {"--quantity-field", "1 to 99"}},
        {{"--timeout", "-1"}, {"--timeout", "0 to 2147483647"}},
        {{"--timeout", "99999999999"}, {"--timeout", "whole number"}},
        {{"--format", "xml"}, {"--format", "table, csv or json"}},
        {{"--progress", "loud"}, {"--progress", "auto, bar, lines or none"}},
        {{"--bogus"}, {"unknown option --bogus"}},
        {{"stray"}, {"unexpected argument \"stray\""}},
        {{"--baud"}, {"--baud", "missing"}},
        {{"--output", ""}, {"--output", "empty"}},
        {{"--ini", "/nonexistent/Driver_.ini"}, {"--ini", "/nonexistent/Driver_.ini"}},
    };
    for (const auto& c : cases) {
        Args args = {"--device", "/dev/ttyUSB0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string message = UsageMessage(args);
        for (const auto& part : c.mentions) {
            EXPECT_NE(message.find(part), std::string::npos)
                << "message \"" << message << "\" lacks \"" << part << "\"";
        }
    }
}

class IniFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("pdt-cli-" + std::to_string(::getpid()) + "-Driver_.ini");
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::string Write(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
        return path_.string();
    }
    std::filesystem::path path_;
};

TEST_F(IniFile, FileValuesApplyAndOptionsWin) {
    std::string ini = Write(
        "[Other]\r\niBaud=300\r\n[PDT]\r\niComNum=3\r\niBaud=4800\r\niParity=1\r\n"
        "iDataBit=7\r\niStopBit=2\r\nc_CodeFldNum=2\r\nc_CountFldNum=3\r\nc_TimeOut=5\r\n"
        "c_FormNum=4\r\n");
    auto fromFile = ParseReceiveOptions({"--device", "/dev/x", "--ini", ini});
    EXPECT_EQ(fromFile.settings.iComNum, 3);
    EXPECT_EQ(fromFile.settings.iBaud, 4800);
    EXPECT_EQ(fromFile.settings.iParity, 1);
    EXPECT_EQ(fromFile.settings.iDataBit, 7);
    EXPECT_EQ(fromFile.settings.iStopBit, 2);
    EXPECT_EQ(fromFile.settings.c_CodeFldNum, 2);
    EXPECT_EQ(fromFile.settings.c_CountFldNum, 3);
    EXPECT_EQ(fromFile.settings.c_TimeOut, 5);
    EXPECT_EQ(fromFile.settings.c_FormNum, 4);

    // Options win wherever they appear on the line.
    auto overridden = ParseReceiveOptions(
        {"--baud", "19200", "--device", "/dev/x", "--ini", ini, "--quantity-field", "2"});
    EXPECT_EQ(overridden.settings.iBaud, 19200);
    EXPECT_EQ(overridden.settings.c_CountFldNum, 2);
    EXPECT_EQ(overridden.settings.c_FormNum, 4);
}

TEST_F(IniFile, MissingKeysKeepTheDefaults) {
    std::string ini = Write("[PDT]\niBaud=19200\nc_TimeOut=soon\n");
    auto options = ParseReceiveOptions({"--device", "/dev/x", "--ini", ini});
    EXPECT_EQ(options.settings.iBaud, 19200);
    EXPECT_EQ(options.settings.c_TimeOut, 60);
    EXPECT_EQ(options.settings.iDataBit, 8);
}

TEST_F(IniFile, BadFileValueNamesTheKeyTheFileAndTheOption) {
    std::string ini = Write("[PDT]\niDataBit=6\nc_FormNum=12\n");
    // iDataBit 6 is a valid line setting; the table number is not.
    std::string message = UsageMessage({"--device", "/dev/x", "--ini", ini});
    EXPECT_NE(message.find("c_FormNum in " + ini), std::string::npos) << message;
    EXPECT_NE(message.find("--table"), std::string::npos) << message;
    EXPECT_NE(message.find("0 to 8"), std::string::npos) << message;
    // The option mends it.
    EXPECT_EQ(ParseReceiveOptions({"--device", "/dev/x", "--ini", ini, "--table", "1"})
                  .settings.c_FormNum,
              1);
}

TEST(ReceiveOptions, FormatFollowsWhereTheOutputGoes) {
    ReceiveOptions options;
    EXPECT_EQ(ChooseFormat(options, true), OutputFormat::kTable);
    EXPECT_EQ(ChooseFormat(options, false), OutputFormat::kCsv);
    options.outputFile = "records.JSON";
    EXPECT_EQ(ChooseFormat(options, true), OutputFormat::kJson);
    options.outputFile = "records.txt";
    EXPECT_EQ(ChooseFormat(options, true), OutputFormat::kCsv);
    options.format = OutputFormat::kTable;
    EXPECT_EQ(ChooseFormat(options, false), OutputFormat::kTable);
}

TEST(ReceiveOptions, HelpNamesEveryOption) {
    std::string help = ReceiveHelp();
    for (const char* option : {"--device", "--ini", "--baud", "--parity", "--data-bits",
                               "--stop-bits", "--table", "--barcode-field", "--quantity-field",
                               "--timeout", "--format", "--output", "--progress", "--transcript"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace pdt::cli
