#include "core/log/log.h"

#include <cstdio>

namespace pdt {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string GenerationName(const std::string& fileName, int generation) {
    return fileName + "." + std::to_string(generation);
}

// Closes the file on every path out of an entry, also when a write throws.
class ClosingGuard {
  public:
    explicit ClosingGuard(LogFile& file) : file_(file) {}
    ~ClosingGuard() {
        try {
            file_.Close();
        } catch (...) {
        }
    }
    ClosingGuard(const ClosingGuard&) = delete;
    ClosingGuard& operator=(const ClosingGuard&) = delete;

  private:
    LogFile& file_;
};

}  // namespace

std::string FormatTimestamp(const LocalTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d %02d:%02d:%02d.%03d", time.day % 100,
                  time.month % 100, time.hour % 100, time.minute % 100, time.second % 100,
                  time.millisecond % 1000);
    return text;
}

std::string WithLogExtension(std::string_view path, std::string_view separators) {
    const size_t nameStart = [&] {
        const size_t lastSeparator = path.find_last_of(separators);
        return lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
    }();
    const size_t dot = path.rfind('.');
    // A dot that starts the name (".profile") does not begin an extension.
    const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
    std::string result(hasExtension ? path.substr(0, dot) : path);
    return result + ".LOG";
}

void Logger::Init(LogEnvironment& environment) {
    std::lock_guard lock(mutex_);
    environment_ = &environment;
    try {
        logFileName_ = WithLogExtension(environment.ExecutablePath(), environment.PathSeparators());
    } catch (...) {
        logFileName_.clear();
    }
}

void Logger::Write(uint8_t level, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (environment_ == nullptr || logFileName_.empty()) return;
    try {
        const char mark = LevelMarks[level < LevelMarks.size() ? level : LevelMarks.size() - 1];
        std::string line(1, mark);
        line += ' ';
        line += FormatTimestamp(environment_->Now());
        line += ' ';
        line += environment_->ToFileText(text);
        line += kLineEnd;
        RotateLocked(LogSizeLimit);
        WriteEntryLocked(line);
    } catch (...) {
        // The log never disturbs its caller; the entry is missing from the file.
    }
}

void Logger::Rotate(int32_t limit) {
    std::lock_guard lock(mutex_);
    if (environment_ == nullptr || logFileName_.empty()) return;
    try {
        RotateLocked(limit);
    } catch (...) {
    }
}

std::string Logger::FileName() const {
    std::lock_guard lock(mutex_);
    return logFileName_;
}

void Logger::RotateLocked(int32_t limit) {
    const std::optional<uint64_t> size = environment_->FindFileSize(logFileName_);
    if (!size) return;
    const bool tooLarge = limit < 0 || *size > static_cast<uint64_t>(limit);
    if (!tooLarge) return;

    // Renames never replace, so the oldest generation has to go first; any
    // step that fails just leaves that generation where it is.
    const std::string oldest = GenerationName(logFileName_, LogGenerations - 1);
    if (environment_->FileExists(oldest)) environment_->RemoveFile(oldest);
    for (int generation = LogGenerations - 2; generation >= 0; --generation) {
        environment_->RenameNoReplace(GenerationName(logFileName_, generation),
                                      GenerationName(logFileName_, generation + 1));
    }
    environment_->RenameNoReplace(logFileName_, GenerationName(logFileName_, 0));
}

void Logger::WriteEntryLocked(std::string_view line) {
    std::unique_ptr<LogFile> file = environment_->OpenForAppend(logFileName_);
    if (!file) file = environment_->CreateEmpty(logFileName_);
    if (!file) {
        // Neither there nor creatable: stop touching the file for this load.
        logFileName_.clear();
        return;
    }
    ClosingGuard closing(*file);
    if (blankLinePending_) {
        if (!file->Write(kLineEnd)) return;  // tried again with the next entry
        blankLinePending_ = false;
    }
    file->Write(line);
}

Logger& ModuleLog() {
    static Logger instance;
    return instance;
}

void InitLog(LogEnvironment& environment) {
    ModuleLog().Init(environment);
}

void WriteLog(uint8_t level, std::string_view text) {
    ModuleLog().Write(level, text);
}

void RotateLog(int32_t limit) {
    ModuleLog().Rotate(limit);
}

}  // namespace pdt
