// The log over this platform's real file services, in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "core/log/log.h"

namespace pdt {
namespace {

namespace fs = std::filesystem;

// The platform's services with the executable moved into a scratch directory.
class ScratchEnvironment : public LogEnvironment {
  public:
    explicit ScratchEnvironment(std::string executable) : executable_(std::move(executable)) {}

    std::string ExecutablePath() override { return executable_; }
    std::string_view PathSeparators() override { return base_.PathSeparators(); }
    LocalTime Now() override { return base_.Now(); }
    std::string ToFileText(std::string_view utf8) override { return base_.ToFileText(utf8); }
    std::optional<uint64_t> FindFileSize(const std::string& path) override {
        return base_.FindFileSize(path);
    }
    bool FileExists(const std::string& path) override { return base_.FileExists(path); }
    bool RemoveFile(const std::string& path) override { return base_.RemoveFile(path); }
    bool RenameNoReplace(const std::string& from, const std::string& to) override {
        return base_.RenameNoReplace(from, to);
    }
    std::unique_ptr<LogFile> OpenForAppend(const std::string& path) override {
        return base_.OpenForAppend(path);
    }
    std::unique_ptr<LogFile> CreateEmpty(const std::string& path) override {
        return base_.CreateEmpty(path);
    }

  private:
    LogEnvironment& base_ = PlatformLogEnvironment();
    std::string executable_;
};

// Mark, space, timestamp, space, text, CR LF.
size_t EntrySize(std::string_view text) { return 21 + text.size() + 2; }

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class LogPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("pdt-log-" + std::string(test->name()) + "-" +
                                           std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string At(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
};

TEST_F(LogPlatformTest, RenameNeverReplacesAnExistingFile) {
    LogEnvironment& os = PlatformLogEnvironment();
    WriteFile(At("a"), "A");
    WriteFile(At("b"), "B");
    EXPECT_FALSE(os.RenameNoReplace(At("a"), At("b")));
    EXPECT_EQ(ReadFile(At("a")), "A");
    EXPECT_EQ(ReadFile(At("b")), "B");
    EXPECT_TRUE(os.RenameNoReplace(At("a"), At("c")));
    EXPECT_FALSE(os.FileExists(At("a")));
    EXPECT_EQ(ReadFile(At("c")), "A");
    EXPECT_FALSE(os.RenameNoReplace(At("missing"), At("d")));
}

TEST_F(LogPlatformTest, FileServicesAppendCreateAndMeasure) {
    LogEnvironment& os = PlatformLogEnvironment();
    EXPECT_EQ(os.OpenForAppend(At("log")), nullptr);
    EXPECT_EQ(os.FindFileSize(At("log")), std::nullopt);

    WriteFile(At("log"), "old");
    auto file = os.OpenForAppend(At("log"));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write("+new"));
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadFile(At("log")), "old+new");
    EXPECT_EQ(os.FindFileSize(At("log")), 7u);

    file = os.CreateEmpty(At("log"));
    ASSERT_NE(file, nullptr);
    file->Close();
    EXPECT_EQ(os.FindFileSize(At("log")), 0u);
    EXPECT_TRUE(os.RemoveFile(At("log")));
    EXPECT_FALSE(os.FileExists(At("log")));
}

TEST_F(LogPlatformTest, TextIsStoredInTheSystemsEightBitCodePage) {
    const std::string text = "Не найден конфигурационный файл.";
    const std::string stored = PlatformLogEnvironment().ToFileText(text);
#ifdef _WIN32
    EXPECT_EQ(stored.size(), 32u);  // one byte per character
#else
    EXPECT_EQ(stored, text);  // UTF-8 as is
#endif
    EXPECT_EQ(PlatformLogEnvironment().ToFileText("plain ASCII"), "plain ASCII");
}

TEST_F(LogPlatformTest, EntriesLandBesideTheExecutableAndRotateOverTheLimit) {
    ScratchEnvironment os(At("host.exe"));
    Logger logger;
    logger.Init(os);
    ASSERT_EQ(logger.FileName(), At("host.LOG"));
    logger.Write(2, "first");
    const std::string first = ReadFile(At("host.LOG"));
    ASSERT_EQ(first.size(), 2 + EntrySize("first"));
    EXPECT_EQ(first.substr(0, 4), "\r\n? ");
    EXPECT_EQ(first.substr(first.size() - 8), " first\r\n");

    WriteFile(At("host.LOG"), std::string(LogSizeLimit, 'x'));
    logger.Write(2, "at the limit");
    EXPECT_FALSE(fs::exists(At("host.LOG.0")));

    logger.Write(2, "over the limit");
    EXPECT_GT(fs::file_size(At("host.LOG.0")), static_cast<uintmax_t>(LogSizeLimit));
    EXPECT_EQ(fs::file_size(At("host.LOG")), EntrySize("over the limit"));
}

TEST_F(LogPlatformTest, AllTenGenerationsShiftOnDisk) {
    ScratchEnvironment os(At("host"));
    Logger logger;
    logger.Init(os);
    WriteFile(At("host.LOG"), "current");
    for (int n = 0; n < LogGenerations; ++n)
        WriteFile(At("host.LOG." + std::to_string(n)), std::to_string(n));
    logger.Rotate(1);
    EXPECT_FALSE(fs::exists(At("host.LOG")));
    EXPECT_EQ(ReadFile(At("host.LOG.0")), "current");
    for (int n = 1; n < LogGenerations; ++n) {
        EXPECT_EQ(ReadFile(At("host.LOG." + std::to_string(n))), std::to_string(n - 1));
    }
    EXPECT_FALSE(fs::exists(At("host.LOG.10")));
}

TEST_F(LogPlatformTest, UnwritableDirectorySwitchesFileLoggingOff) {
    WriteFile(At("plain-file"), "");
    // A directory that cannot exist: its parent is a regular file.
    ScratchEnvironment os((dir / "plain-file" / "host.exe").string());
    Logger logger;
    logger.Init(os);
    logger.Write(3, "nowhere to go");
    EXPECT_EQ(logger.FileName(), "");
    logger.Write(3, "still nowhere");
    EXPECT_EQ(ReadFile(At("plain-file")), "");
}

TEST_F(LogPlatformTest, TwoThreadsLoggingAtOnceLoseNoLine) {
    ScratchEnvironment os(At("host.exe"));
    Logger logger;
    logger.Init(os);
    constexpr int kEntries = 200;
    auto writer = [&](char tag) {
        for (int i = 0; i < kEntries; ++i) logger.Write(3, std::string(30, tag));
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    const std::string content = ReadFile(At("host.LOG"));
    const size_t lineSize = EntrySize(std::string(30, 'a'));
    ASSERT_EQ(content.size(), 2 + 2 * kEntries * lineSize);
    for (size_t at = 2; at < content.size(); at += lineSize) {
        const std::string line = content.substr(at, lineSize);
        ASSERT_EQ(line.substr(0, 2), "! ") << at;
        ASSERT_TRUE(line.substr(21, 30) == std::string(30, 'a') ||
                    line.substr(21, 30) == std::string(30, 'b'))
            << at;
        ASSERT_EQ(line.substr(51), "\r\n") << at;
    }
}

TEST(LogModuleTest, InitLogNamesTheFileAfterThisExecutable) {
    InitLog();
    LogEnvironment& os = PlatformLogEnvironment();
    const std::string executable = os.ExecutablePath();
    ASSERT_FALSE(executable.empty());
    EXPECT_NE(executable.find("log_test"), std::string::npos);
    EXPECT_EQ(ModuleLog().FileName(), WithLogExtension(executable, os.PathSeparators()));
    EXPECT_TRUE(ModuleLog().FileName().ends_with("log_test.LOG"));
}

}  // namespace
}  // namespace pdt
