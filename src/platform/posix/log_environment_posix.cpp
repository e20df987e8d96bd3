// The log's OS services on POSIX: /proc/self/exe, the local clock, UTF-8 text
// as is, and file operations on file descriptors.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "core/log/log_environment.h"

namespace pdt {

namespace {

class PosixLogFile : public LogFile {
  public:
    explicit PosixLogFile(int descriptor) : descriptor_(descriptor) {}
    ~PosixLogFile() override { Close(); }

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(written));
        }
        return true;
    }

    bool Close() override {
        if (descriptor_ < 0) return true;
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0;
    }

  private:
    int descriptor_;
};

std::unique_ptr<LogFile> OpenDescriptor(const std::string& path, int flags) {
    const int descriptor = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    return std::make_unique<PosixLogFile>(descriptor);
}

class PosixLogEnvironment : public LogEnvironment {
  public:
    std::string ExecutablePath() override {
        std::vector<char> buffer(256);
        for (;;) {
            const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (length < 0) return {};
            if (static_cast<size_t>(length) < buffer.size()) return {buffer.data(), size_t(length)};
            buffer.resize(buffer.size() * 2);
        }
    }

    std::string_view PathSeparators() override { return "/"; }

    LocalTime Now() override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        tm local{};
        ::localtime_r(&now.tv_sec, &local);
        return {local.tm_mday, local.tm_mon + 1, local.tm_hour,
                local.tm_min,  local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
    }

    std::string ToFileText(std::string_view utf8) override { return std::string(utf8); }

    std::optional<uint64_t> FindFileSize(const std::string& path) override {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) return std::nullopt;
        return static_cast<uint64_t>(info.st_size);
    }

    bool FileExists(const std::string& path) override {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0;
    }

    bool RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    bool RenameNoReplace(const std::string& from, const std::string& to) override {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
        // The file system cannot refuse to replace by itself: a hard link can,
        // since it fails when the target exists.
        if (::link(from.c_str(), to.c_str()) != 0) return false;
        return ::unlink(from.c_str()) == 0;
    }

    std::unique_ptr<LogFile> OpenForAppend(const std::string& path) override {
        return OpenDescriptor(path, O_APPEND);
    }

    std::unique_ptr<LogFile> CreateEmpty(const std::string& path) override {
        return OpenDescriptor(path, O_CREAT | O_TRUNC);
    }
};

}  // namespace

LogEnvironment& PlatformLogEnvironment() {
    static PosixLogEnvironment environment;
    return environment;
}

}  // namespace pdt
