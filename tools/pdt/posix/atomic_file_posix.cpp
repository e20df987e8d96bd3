#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../atomic_file.h"

namespace pdt::cli {
namespace {

[[noreturn]] void Fail(const std::string& path, const char* step, int error) {
    throw FileWriteError("cannot write \"" + path + "\" (" + step + "): " + std::strerror(error));
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t n = write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The temporary file sits in the same directory, so the rename stays on one
// file system and replaces the target in one step.
std::string TemporaryTemplate(const std::string& path) {
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + ".XXXXXX";
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view content) {
    std::string temporary = TemporaryTemplate(path);
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) Fail(path, "create a temporary file", errno);

    // mkstemp makes the file private; give it the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    const char* step = nullptr;
    if (fchmod(fd, 0666 & ~mask) != 0) {
        step = "set its mode";
    } else if (!WriteAll(fd, content)) {
        step = "write";
    } else if (fsync(fd) != 0) {
        step = "flush";
    }
    int error = errno;
    if (close(fd) != 0 && !step) {
        step = "close";
        error = errno;
    }
    if (!step && rename(name.data(), path.c_str()) != 0) {
        step = "rename";
        error = errno;
    }
    if (step) {
        unlink(name.data());
        Fail(path, step, error);
    }
}

}  // namespace pdt::cli
