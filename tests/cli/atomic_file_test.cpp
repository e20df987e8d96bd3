#include "atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pdt::cli {
namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pdt-atomic-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    size_t Entries() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }
    fs::path dir_;
};

TEST_F(AtomicFile, WritesAndReplacesWholeLeavingNoTemporaryFile) {
    fs::path target = dir_ / "records.csv";
    WriteFileAtomically(target.string(), "old\n");
    WriteFileAtomically(target.string(), "barcode,quantity\r\nA1,5\r\n");
    EXPECT_EQ(Read(target), "barcode,quantity\r\nA1,5\r\n");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFile, FailureKeepsTheOldFileAndNamesIt) {
    fs::path target = dir_ / "records.csv";
    WriteFileAtomically(target.string(), "old\n");
    // A directory where the file should go cannot be replaced by a file.
    fs::path blocked = dir_ / "blocked";
    fs::create_directory(blocked);
    try {
        WriteFileAtomically(blocked.string(), "new\n");
        FAIL() << "no error";
    } catch (const FileWriteError& error) {
        EXPECT_NE(std::string(error.what()).find(blocked.string()), std::string::npos);
    }
    EXPECT_EQ(Read(target), "old\n");
    EXPECT_EQ(Entries(), 2u);  // the file and the directory, no leftovers

    EXPECT_THROW(WriteFileAtomically((dir_ / "missing" / "x.csv").string(), "x"), FileWriteError);
}

}  // namespace
}  // namespace pdt::cli
