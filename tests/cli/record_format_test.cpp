#include "record_format.h"

#include <gtest/gtest.h>

namespace pdt::cli {
namespace {

TEST(RecordFormat, Utf8Validity) {
    const std::pair<std::string, bool> cases[] = {
        {"4600000000015", true},
        {"\xD0\x9C\xD0\xBE\xD0\xBB", true},  // "Мол"
        {"\xF0\x9F\x98\x80", true},          // U+1F600
        {"\x80", false},                     // stray continuation byte
        {"\xC0\xAF", false},                 // overlong "/"
        {"\xED\xA0\x80", false},             // surrogate
        {"\xE2\x82", false},                 // cut short
        {"\xCC\xEE\xEB", false},             // cp1251 "Мол"
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidUtf8(text), valid) << text;
}

TEST(RecordFormat, CsvQuotesOnlyWhatNeedsIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"4600000000015", "4600000000015"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"A=B", "A=B"},
        {"\xCC\xEE\xEB", "\xCC\xEE\xEB"},  // bytes as they came
    };
    for (const auto& [field, expected] : cases) EXPECT_EQ(CsvField(field), expected);
    EXPECT_EQ(FormatCsv({{"A1", "5"}, {"B,2", "7"}}), "barcode,quantity\r\nA1,5\r\n\"B,2\",7\r\n");
}

TEST(RecordFormat, JsonStaysValidForAnyBytes) {
    EXPECT_EQ(JsonString("A\"\\\n\x01"), "\"A\\\"\\\\\\n\\u0001\"");
    EXPECT_EQ(JsonString("\xD0\x9C"), "\"\xD0\x9C\"");  // valid UTF-8 passes through
    EXPECT_EQ(JsonString("\xCC\xEE"), "\"\\u00cc\\u00ee\"");
    EXPECT_EQ(FormatJson({}), "[]\n");
    // A barcode that is not UTF-8 also carries its exact bytes.
    EXPECT_EQ(FormatJson({{"A=1", "5"}, {"\xFF", "7"}}),
              "[\n  {\"barcode\": \"A=1\", \"quantity\": \"5\"},\n"
              "  {\"barcode\": \"\\u00ff\", \"barcode_hex\": \"ff\", \"quantity\": \"7\"}\n]\n");
}

TEST(RecordFormat, TableAlignsByCharactersNotBytes) {
    std::string table = FormatTable({{"Молоко", "12"}, {"4600000000015", "7"}});
    EXPECT_EQ(table,
              "#  Barcode        Quantity\n"
              "-  -------------  --------\n"
              "1  Молоко               12\n"
              "2  4600000000015         7\n");
}

}  // namespace
}  // namespace pdt::cli
