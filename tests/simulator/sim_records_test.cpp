#include "sim_records.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace pdt::sim {
namespace {

std::vector<Record> Parse(const std::string& text) {
    std::istringstream in(text);
    return ReadCsv(in);
}

TEST(SimRecordsTest, ReadsSemicolonSeparatedLines) {
    struct Case {
        const char* text;
        std::vector<Record> records;
    };
    const std::vector<Case> cases = {
        {"4600000000015;Milk;12\n", {{"4600000000015", "Milk", "12"}}},
        {"a;b\r\nc;d\r\n", {{"a", "b"}, {"c", "d"}}},
        {"a;b\n\n\nc\n", {{"a", "b"}, {"c"}}},
        {"a;;c\n", {{"a", "", "c"}}},
        {"a;b;\n", {{"a", "b", ""}}},
        {"no newline at the end", {{"no newline at the end"}}},
        {" spaced ; kept \n", {{" spaced ", " kept "}}},
        {"", {}},
    };
    for (const Case& test : cases) EXPECT_EQ(Parse(test.text), test.records) << test.text;
}

TEST(SimRecordsTest, RefusesAFieldLongerThanAFrame) {
    EXPECT_NO_THROW(Parse("ok\n" + std::string(255, 'x') + "\n"));
    try {
        Parse("ok\nshort;" + std::string(256, 'x') + "\n");
        FAIL() << "a 256-byte field was accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find("line 2, field 2"), std::string::npos)
            << error.what();
    }
}

TEST(SimRecordsTest, GeneratedRecordsHaveValidDistinctBarcodes) {
    const std::vector<Record> records = GenerateRecords(25);
    ASSERT_EQ(records.size(), 25u);
    std::set<std::string> barcodes;
    for (const Record& record : records) {
        ASSERT_EQ(record.size(), 3u);
        const std::string& barcode = record[0];
        ASSERT_EQ(barcode.size(), 13u);
        EXPECT_EQ(barcode.substr(0, 3), "460");
        EXPECT_EQ(barcode[12], Ean13CheckDigit(barcode.substr(0, 12))) << barcode;
        EXPECT_GT(std::stoi(record[2]), 0);
        barcodes.insert(barcode);
    }
    EXPECT_EQ(barcodes.size(), records.size());
    EXPECT_EQ(Ean13CheckDigit("460000000001"), '5');
    EXPECT_EQ(Ean13CheckDigit("400638133393"), '1');  // a well-known EAN-13
}

}  // namespace
}  // namespace pdt::sim
