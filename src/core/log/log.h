// The driver's log: one timestamped line per entry in a text file beside the
// host's executable, rotated by size into ten older generations.
//
// Line format: level mark, space, "dd.mm hh:mm:ss.zzz", space, text, CR LF.
// The first entry after each load of the library is preceded by an empty line.
// Nothing is buffered between entries, and no failure of the file ever reaches
// the caller: a file that can be neither appended to nor created switches file
// logging off until the library is loaded again.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/log/log_environment.h"

namespace pdt {

// Size in bytes above which the log file is rotated before the next entry.
inline constexpr int32_t LogSizeLimit = 2 * 1024 * 1024;
// Mark of each level 0..4 at the start of a line.
inline constexpr std::string_view LevelMarks = "-+?!#";
// Number of older generations kept: ".0" (newest) to ".9".
inline constexpr int LogGenerations = 10;

// "dd.mm hh:mm:ss.zzz", always 18 characters.
std::string FormatTimestamp(const LocalTime& time);
// The path with its extension replaced by ".LOG" (appended when the file name
// has none). `separators` are the characters that end a directory name.
std::string WithLogExtension(std::string_view path, std::string_view separators);

// The log state of one load of the library. A new Logger is a new load: it has
// no file until Init and writes the empty line again before its first entry.
// All members may be called from several threads at once; entries are written
// whole, one after another.
class Logger {
  public:
    // Takes the log file name from the environment's executable path.
    void Init(LogEnvironment& environment);
    // Writes one entry; levels above 4 are written with the mark of level 4.
    void Write(uint8_t level, std::string_view text);
    // Moves the file to ".0" (shifting the older generations) when it is larger
    // than `limit` bytes. Failed steps are ignored.
    void Rotate(int32_t limit);
    // Full path of the log file; empty while file logging is off.
    std::string FileName() const;

  private:
    void RotateLocked(int32_t limit);
    void WriteEntryLocked(std::string_view line);

    mutable std::mutex mutex_;
    LogEnvironment* environment_ = nullptr;
    std::string logFileName_;
    bool blankLinePending_ = true;
};

// The library's log (one per loaded library).
Logger& ModuleLog();

// Points the library's log at the file beside the host executable
// (PlatformLogEnvironment; defined in pdt_platform). Runs first in LoadSettings.
void InitLog();
// Same, with another environment (tests, tools).
void InitLog(LogEnvironment& environment);
// One entry in the library's log; level 0..4 with the marks "-+?!#".
void WriteLog(uint8_t level, std::string_view text);
void RotateLog(int32_t limit);

}  // namespace pdt
