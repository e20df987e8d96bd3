// The read and write sequences over a recording store, and the integer rules.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "core/settings/settings_file.h"
#include "settings_test_support.h"

namespace pdt {
namespace {

TEST(ParseIniIntegerTest, AcceptsOnlyASignAndDigitsThatFit32Bits) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"0", 0},
        {"19200", 19200},
        {"-1", -1},
        {"+7", 7},
        {" \t 42 \t", 42},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"$10", std::nullopt},
        {"1.5", std::nullopt},
        {"девять", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseIniInteger(text), expected) << '"' << text << '"';
    }
}

// Answers reads from a map and records every call in order.
class RecordingStore : public IniStore {
  public:
    std::map<std::string, std::string> values;  // key -> text, all in section PDT
    std::vector<std::string> calls;
    std::string failOn;  // a key whose read or write fails

    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
        calls.push_back("read " + std::string(section) + "/" + std::string(key));
        if (key == failOn) throw SettingsFileError("read refused");
        const auto found = values.find(std::string(key));
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override {
        calls.push_back("write " + std::string(section) + "/" + std::string(key) + "=" +
                        std::string(value));
        if (key == failOn) throw SettingsFileError("write refused");
        values[std::string(key)] = value;
    }
};

using testing::DistinctSettings;
using testing::ExpectSameSettings;

TEST(SettingsSequenceTest, ReadsTheNineKeysInOrderIntoTheCurrentValues) {
    RecordingStore store;
    store.values = {{"iBaud", "19200"}, {"iDataBit", "seven"}, {"c_FormNum", " 12 "}};
    DriverSettings settings = DistinctSettings();
    settings.iBaud = 300;
    settings.iDataBit = 6;
    ReadSettingsFrom(store, settings);

    DriverSettings expected = DistinctSettings();
    expected.iBaud = 19200;
    expected.iDataBit = 6;  // not an integer: kept
    expected.c_FormNum = 12;
    ExpectSameSettings(settings, expected);
    EXPECT_EQ(store.calls,
              (std::vector<std::string>{"read PDT/iComNum", "read PDT/iBaud", "read PDT/iParity",
                                        "read PDT/iDataBit", "read PDT/iStopBit",
                                        "read PDT/c_CodeFldNum", "read PDT/c_CountFldNum",
                                        "read PDT/c_TimeOut", "read PDT/c_FormNum"}));
}

TEST(SettingsSequenceTest, FailedReadLeavesEarlierKeysUpdatedAndLaterOnesAsTheyWere) {
    RecordingStore store;
    for (const SettingKey& key : kSettingKeys) store.values[std::string(key.name)] = "77";
    store.failOn = "iDataBit";
    DriverSettings settings;
    EXPECT_THROW(ReadSettingsFrom(store, settings), SettingsFileError);
    DriverSettings expected;
    expected.iComNum = expected.iBaud = expected.iParity = 77;
    ExpectSameSettings(settings, expected);
}

TEST(SettingsSequenceTest, WritesAllNineKeysInOrderAsDecimalText) {
    RecordingStore store;
    WriteSettingsTo(store, DistinctSettings());
    EXPECT_EQ(store.calls,
              (std::vector<std::string>{"write PDT/iComNum=3", "write PDT/iBaud=19200",
                                        "write PDT/iParity=4", "write PDT/iDataBit=7",
                                        "write PDT/iStopBit=2", "write PDT/c_CodeFldNum=-5",
                                        "write PDT/c_CountFldNum=2147483647",
                                        "write PDT/c_TimeOut=0", "write PDT/c_FormNum=12"}));
}

TEST(SettingsSequenceTest, RefusedWriteStopsTheSequenceAndRaises) {
    RecordingStore store;
    store.failOn = "iStopBit";
    EXPECT_THROW(WriteSettingsTo(store, DistinctSettings()), SettingsFileError);
    EXPECT_EQ(store.calls.size(), 5u);
    EXPECT_EQ(store.values.size(), 4u);
}

}  // namespace
}  // namespace pdt
