// The logger's algorithm over an in-memory file system with a fixed clock.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/log/log.h"
#include "fake_log_environment.h"

namespace pdt {
namespace {

using testing::FakeLogEnvironment;

constexpr char kLogPath[] = "/opt/host/host.LOG";

std::string Generation(int n) {
    return std::string(kLogPath) + "." + std::to_string(n);
}

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { logger.Init(fs); }

    FakeLogEnvironment fs;
    Logger logger;
};

TEST(LogLineTest, TimestampIsAlwaysEighteenCharacters) {
    struct Case {
        LocalTime time;
        const char* expected;
    };
    const Case cases[] = {
        {{1, 1, 0, 0, 0, 0}, "01.01 00:00:00.000"},
        {{7, 3, 9, 5, 2, 41}, "07.03 09:05:02.041"},
        {{31, 12, 23, 59, 59, 999}, "31.12 23:59:59.999"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimestamp(c.time), c.expected);
    }
}

TEST_F(LoggerTest, WritesMarkTimestampAndTextPerLevel) {
    const std::pair<uint8_t, const char*> cases[] = {{0, "-"}, {1, "+"}, {2, "?"},
                                                     {3, "!"}, {4, "#"}, {200, "#"}};
    std::string expected = "\r\n";
    for (const auto& [level, mark] : cases) {
        logger.Write(level, "текст " + std::to_string(level));
        expected +=
            std::string(mark) + " 07.03 09:05:02.041 текст " + std::to_string(level) + "\r\n";
    }
    EXPECT_EQ(fs.File(kLogPath), expected);
}

TEST_F(LoggerTest, EmptyTextLeavesTheTrailingSpace) {
    logger.Write(1, "");
    EXPECT_EQ(fs.File(kLogPath), "\r\n+ 07.03 09:05:02.041 \r\n");
}

TEST_F(LoggerTest, BlankLineOnlyBeforeTheFirstEntryOfEachLoad) {
    logger.Write(0, "a");
    logger.Write(0, "b");
    Logger nextLoad;
    nextLoad.Init(fs);
    nextLoad.Write(0, "c");
    EXPECT_EQ(fs.File(kLogPath),
              "\r\n- 07.03 09:05:02.041 a\r\n- 07.03 09:05:02.041 b\r\n"
              "\r\n- 07.03 09:05:02.041 c\r\n");
}

TEST_F(LoggerTest, NothingIsWrittenBeforeInit) {
    Logger notInitialised;
    notInitialised.Write(2, "lost");
    EXPECT_EQ(fs.files.size(), 0u);
    EXPECT_EQ(notInitialised.FileName(), "");
}

TEST_F(LoggerTest, FailedBlankLineIsTriedAgainWithTheNextEntry) {
    fs.files[kLogPath] = "old\r\n";
    fs.failWritesLeft = 1;
    logger.Write(0, "dropped");
    logger.Write(0, "kept");
    EXPECT_EQ(fs.File(kLogPath), "old\r\n\r\n- 07.03 09:05:02.041 kept\r\n");
}

TEST_F(LoggerTest, FileThatCannotBeAppendedToIsCreatedAnew) {
    fs.files[kLogPath] = "locked content\r\n";
    fs.refuseAppend.insert(kLogPath);
    logger.Write(0, "x");
    EXPECT_EQ(fs.File(kLogPath), "\r\n- 07.03 09:05:02.041 x\r\n");
}

TEST_F(LoggerTest, FileThatCanBeNeitherAppendedToNorCreatedSwitchesFileLoggingOff) {
    fs.refuseCreate.insert(kLogPath);
    logger.Write(0, "first");
    EXPECT_EQ(logger.FileName(), "");
    fs.refuseCreate.clear();
    const int opensBefore = fs.appendOpens;
    logger.Write(0, "second");
    EXPECT_EQ(fs.appendOpens, opensBefore);
    EXPECT_EQ(fs.files.count(kLogPath), 0u);
}

TEST_F(LoggerTest, FileOfExactlyTheLimitIsNotRotated) {
    fs.files[kLogPath] = std::string(LogSizeLimit, 'x');
    logger.Write(0, "next");
    EXPECT_EQ(fs.files.count(Generation(0)), 0u);
    const std::string entry = "\r\n- 07.03 09:05:02.041 next\r\n";
    EXPECT_EQ(fs.files[kLogPath].size(), LogSizeLimit + entry.size());
    EXPECT_TRUE(fs.files[kLogPath].ends_with("x" + entry));
}

TEST_F(LoggerTest, FileOneByteOverTheLimitMovesToGenerationZero) {
    logger.Write(0, "first");  // the blank line of this load is behind us
    fs.files[kLogPath] = std::string(LogSizeLimit + 1, 'x');
    logger.Write(0, "next");
    EXPECT_EQ(fs.files[Generation(0)].size(), LogSizeLimit + 1u);
    // A file started by a rotation has no blank line at its top.
    EXPECT_EQ(fs.File(kLogPath), "- 07.03 09:05:02.041 next\r\n");
    EXPECT_EQ(fs.files.size(), 2u);
}

TEST_F(LoggerTest, RotationShiftsAllTenGenerationsAndDropsTheOldest) {
    fs.files[kLogPath] = "current";
    for (int n = 0; n < LogGenerations; ++n) fs.files[Generation(n)] = "gen" + std::to_string(n);
    logger.Rotate(3);
    EXPECT_EQ(fs.files.count(kLogPath), 0u);
    EXPECT_EQ(fs.File(Generation(0)), "current");
    for (int n = 1; n < LogGenerations; ++n) {
        EXPECT_EQ(fs.File(Generation(n)), "gen" + std::to_string(n - 1)) << n;
    }
    EXPECT_EQ(fs.files.size(), 10u);
}

TEST_F(LoggerTest, RotationOfTheCurrentFileAloneMakesGenerationZeroOnly) {
    fs.files[kLogPath] = "current";
    logger.Rotate(3);
    EXPECT_EQ(fs.files.size(), 1u);
    EXPECT_EQ(fs.File(Generation(0)), "current");
}

TEST_F(LoggerTest, RotationDoesNothingWithoutAFile) {
    logger.Rotate(0);
    EXPECT_TRUE(fs.files.empty());
}

TEST(LogPathTest, ExtensionBecomesLogOrIsAppended) {
    struct Case {
        const char* executable;
        const char* separators;
        const char* expected;
    };
    const Case cases[] = {
        {"/opt/host/host", "/", "/opt/host/host.LOG"},
        {"/opt/host/host.bin", "/", "/opt/host/host.LOG"},
        {"/opt/ho.st/host", "/", "/opt/ho.st/host.LOG"},
        {"/opt/host/archive.tar.gz", "/", "/opt/host/archive.tar.LOG"},
        {"/opt/host/.hidden", "/", "/opt/host/.hidden.LOG"},
        {"C:\\Shop\\HOST.EXE", "\\/:", "C:\\Shop\\HOST.LOG"},
        {"C:\\Sh.op\\host", "\\/:", "C:\\Sh.op\\host.LOG"},
        {"host", "/", "host.LOG"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithLogExtension(c.executable, c.separators), c.expected) << c.executable;
    }
}

TEST_F(LoggerTest, TwoThreadsWriteWholeEntriesOneAfterAnother) {
    constexpr int kEntries = 300;
    auto writer = [&](char tag) {
        for (int i = 0; i < kEntries; ++i) logger.Write(1, std::string(20, tag));
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    EXPECT_EQ(fs.maxOpenAtOnce, 1);
    const std::string content = fs.File(kLogPath);
    const std::string lineA = "+ 07.03 09:05:02.041 " + std::string(20, 'a') + "\r\n";
    const std::string lineB = "+ 07.03 09:05:02.041 " + std::string(20, 'b') + "\r\n";
    ASSERT_EQ(content.size(), 2 + 2 * kEntries * lineA.size());
    EXPECT_EQ(content.substr(0, 2), "\r\n");
    for (size_t at = 2; at < content.size(); at += lineA.size()) {
        const std::string line = content.substr(at, lineA.size());
        ASSERT_TRUE(line == lineA || line == lineB) << "at " << at;
    }
}

}  // namespace
}  // namespace pdt
