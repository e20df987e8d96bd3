// The INI codec: what it reads, and that an edit changes nothing but the value.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/settings/ini_text.h"

namespace pdt {
namespace {

TEST(IniTextTest, ReadsValuesLikeTheProfileService) {
    const IniText ini(
        "top=outside\r\n"
        "[Other]\r\n"
        "iBaud=1\r\n"
        "  [ pdt ]  \r\n"
        "; iBaud=2\r\n"
        "  IBAUD  =  19200  \r\n"
        "iBaud=3\r\n"
        "quoted=\"  5 \"\r\n"
        "single='x'\r\n"
        "half=\"x\r\n"
        "empty=\r\n"
        "no value line\r\n"
        "[PDT]\r\n"
        "late=in the second section of the name\r\n"
        "last=no line end");
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"PDT", "iBaud", "19200"},  // names ignore case; the first key counts
        {"Other", "iBaud", "1"},
        {"PDT", "quoted", "  5 "},
        {"PDT", "single", "x"},
        {"PDT", "half", "\"x"},
        {"PDT", "empty", ""},
        {"PDT", "top", std::nullopt},   // before any section
        {"PDT", "late", std::nullopt},  // only the first section of a name counts
        {"PDT", "no value line", std::nullopt},
        {"PDT", "; iBaud", std::nullopt},
        {"Missing", "iBaud", std::nullopt},
        {"PDT", "last", std::nullopt},
        {"pdt", "IBAUD", "19200"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ini.Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
    }
    EXPECT_EQ(IniText("[PDT]\nlast=no line end").Get("PDT", "last"), "no line end");
}

TEST(IniTextTest, ReadsPastAByteOrderMark) {
    EXPECT_EQ(IniText("\xEF\xBB\xBF[PDT]\r\niBaud=300\r\n").Get("PDT", "iBaud"), "300");
}

TEST(IniTextTest, EditsTouchNothingButTheValue) {
    struct Case {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const Case cases[] = {
        {"replaces the value, keeps spelling and blanks",
         "; c\r\n[pdt]\r\n  IBAUD =  9600  \r\nx=1\r\n", "PDT", "iBaud", "19200",
         "; c\r\n[pdt]\r\n  IBAUD =  19200\r\nx=1\r\n"},
        {"replaces only the first key of the name", "[PDT]\na=1\na=2\n", "PDT", "a", "3",
         "[PDT]\na=3\na=2\n"},
        {"adds a key after the last key of the section", "[PDT]\na=1\n\n; next\n[B]\nb=2\n", "PDT",
         "c", "3", "[PDT]\na=1\nc=3\n\n; next\n[B]\nb=2\n"},
        {"adds a key under a bare header", "[B]\r\n[PDT]\r\n[C]\r\n", "PDT", "k", "1",
         "[B]\r\n[PDT]\r\nk=1\r\n[C]\r\n"},
        {"ends an unended last line first", "[PDT]\na=1", "PDT", "b", "2", "[PDT]\na=1\nb=2\n"},
        {"appends a section after an empty line", "[B]\nb=2\n", "PDT", "k", "-5",
         "[B]\nb=2\n\n[PDT]\nk=-5\n"},
        {"appends a section to an unended file", "[B]\r\nb=2", "PDT", "k", "1",
         "[B]\r\nb=2\r\n\r\n[PDT]\r\nk=1\r\n"},
        {"does not double an empty last line", "[B]\nb=2\n\n", "PDT", "k", "1",
         "[B]\nb=2\n\n[PDT]\nk=1\n"},
        {"starts an empty file with CR LF", "", "PDT", "k", "1", "[PDT]\r\nk=1\r\n"},
        {"keeps a byte order mark", "\xEF\xBB\xBF[PDT]\na=1\n", "PDT", "a", "2",
         "\xEF\xBB\xBF[PDT]\na=2\n"},
    };
    for (const Case& c : cases) {
        IniText ini(c.before);
        ini.Set(c.section, c.key, c.value);
        EXPECT_EQ(ini.Text(), c.after) << c.name;
        EXPECT_EQ(ini.Get(c.section, c.key), c.value) << c.name;
    }
}

TEST(IniTextTest, RefusesNamesAndValuesItCannotHold) {
    const std::pair<const char*, const char*> badNames[] = {
        {"", "k"},      {" PDT", "k"}, {"P]DT", "k"}, {"P\nDT", "k"}, {"PDT", ""},
        {"PDT", "k=v"}, {"PDT", "[k"}, {"PDT", ";k"}, {"PDT", "k "},
    };
    for (const auto& [section, key] : badNames) {
        IniText ini("[PDT]\n");
        EXPECT_THROW(ini.Set(section, key, "1"), std::invalid_argument) << section << "/" << key;
        EXPECT_EQ(ini.Text(), "[PDT]\n");
    }
    IniText ini;
    EXPECT_THROW(ini.Set("PDT", "k", "1\r\nx=2"), std::invalid_argument);
}

}  // namespace
}  // namespace pdt
