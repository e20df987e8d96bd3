#include "sim_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace pdt::sim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd, long baud, const std::string& what) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) ThrowErrno(what + ": not a terminal");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    struct Rate {
        long baud;
        speed_t speed;
    };
    static constexpr Rate kRates[] = {{1200, B1200},   {2400, B2400},     {4800, B4800},
                                      {9600, B9600},   {19200, B19200},   {38400, B38400},
                                      {57600, B57600}, {115200, B115200}, {230400, B230400}};
    for (const Rate& rate : kRates) {
        if (rate.baud == baud) cfsetspeed(&tio, rate.speed);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno(what + ": cannot set raw mode");
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
}

}  // namespace

void SimLine::OpenPty(const std::string& link) {
    Close();
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0) ThrowErrno("posix_openpt");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        const int saved = errno;
        Close();
        errno = saved;
        ThrowErrno("grantpt/unlockpt");
    }
    char name[PATH_MAX];
    if (ptsname_r(fd_, name, sizeof name) != 0) ThrowErrno("ptsname");
    path_ = name;
    slaveHold_ = open(name, O_RDWR | O_NOCTTY);
    if (slaveHold_ < 0) ThrowErrno("open " + path_);
    MakeRaw(slaveHold_, 0, path_);
    SetNonBlocking(fd_);
    if (!link.empty()) MakeLink(link);
}

void SimLine::OpenDevice(const std::string& path, long baud) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) ThrowErrno("open " + path);
    path_ = path;
    MakeRaw(fd_, baud, path);
}

// The link is made under a temporary name and renamed over the old one, so a
// PC that opens the link never finds it missing.
void SimLine::MakeLink(const std::string& link) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::invalid_argument(link + " exists and is not a symlink; not replacing it");
    }
    const std::string temporary = link + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(path_.c_str(), temporary.c_str()) != 0) ThrowErrno("symlink " + link);
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        ThrowErrno("rename to " + link);
    }
    link_ = link;
}

void SimLine::Drain(std::chrono::milliseconds limit) const {
    if (slaveHold_ < 0) {
        if (fd_ >= 0) tcdrain(fd_);
        return;
    }
    // The pty's input queue is shared by every opener of the slave, so our own
    // slave descriptor shows how much the PC has not read yet. Written bytes
    // reach that queue a moment later (the kernel pushes them from a worker),
    // hence the pause before the first look.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int unread = 0;
    while (ioctl(slaveHold_, FIONREAD, &unread) == 0 && unread > 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SimLine::Close() {
    if (!link_.empty()) {
        // Only our own link goes; another simulator may have taken the name since.
        char target[PATH_MAX];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == path_) unlink(link_.c_str());
        link_.clear();
    }
    if (slaveHold_ >= 0) close(slaveHold_);
    if (fd_ >= 0) close(fd_);
    slaveHold_ = fd_ = -1;
    path_.clear();
}

}  // namespace pdt::sim
