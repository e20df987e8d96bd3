// What the log needs of the operating system: the host executable's path, the
// local clock, the file code page and a handful of file operations.
//
// The logger itself stays portable; each platform supplies one environment
// (PlatformLogEnvironment), and tests supply their own to fix the time or to
// make a file operation fail.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pdt {

// Local date and time of one log entry.
struct LocalTime {
    int day = 1;    // 1..31
    int month = 1;  // 1..12
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// An open log file. Each entry opens the file, writes and closes it again.
class LogFile {
  public:
    virtual ~LogFile() = default;
    // Writes all bytes; false when the system refused some of them.
    virtual bool Write(std::string_view bytes) = 0;
    // Closes the file; false when closing failed. Called once.
    virtual bool Close() = 0;
};

class LogEnvironment {
  public:
    virtual ~LogEnvironment() = default;

    // Full path of the running executable, in the system's file-name encoding.
    virtual std::string ExecutablePath() = 0;
    // Characters that end a directory name in a path ("/" on POSIX).
    virtual std::string_view PathSeparators() = 0;
    virtual LocalTime Now() = 0;
    // UTF-8 text as the log file stores it (the ANSI code page on Windows).
    virtual std::string ToFileText(std::string_view utf8) = 0;

    // Size of the file found under this name (any attributes), or nothing.
    virtual std::optional<uint64_t> FindFileSize(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    // Renames a file; fails instead of replacing an existing target.
    virtual bool RenameNoReplace(const std::string& from, const std::string& to) = 0;
    // Opens an existing file for appending; nullptr when it does not exist or
    // cannot be opened.
    virtual std::unique_ptr<LogFile> OpenForAppend(const std::string& path) = 0;
    // Creates the file, emptying an existing one; nullptr on failure.
    virtual std::unique_ptr<LogFile> CreateEmpty(const std::string& path) = 0;
};

// The environment of the platform this library was built for (pdt_platform).
LogEnvironment& PlatformLogEnvironment();

}  // namespace pdt
