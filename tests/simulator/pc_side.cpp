#include "pc_side.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace pdt::sim::test {

using Clock = std::chrono::steady_clock;

PcSide::PcSide(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
}

PcSide::~PcSide() {
    if (fd_ >= 0) close(fd_);
}

void PcSide::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EINTR) {
            pollfd pfd{fd_, POLLOUT, 0};
            poll(&pfd, 1, 100);
        } else {
            throw std::system_error(errno, std::generic_category(), "write");
        }
    }
}

std::vector<uint8_t> PcSide::Read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        uint8_t buffer[512];
        const size_t want = std::min(sizeof buffer, count - got.size());
        const ssize_t n = read(fd_, buffer, want);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if (n == 0 || errno == EIO) {
            break;
        }
    }
    return got;
}

std::vector<uint8_t> PcSide::ReadUntilQuiet(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    while (true) {
        const std::vector<uint8_t> more = Read(4096, quiet);
        if (more.empty()) return got;
        got.insert(got.end(), more.begin(), more.end());
    }
}

bool PcSide::LineDropped(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd pfd{fd_, POLLIN, 0};
        poll(&pfd, 1, 50);
        uint8_t byte;
        const ssize_t n = read(fd_, &byte, 1);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
    return false;
}

}  // namespace pdt::sim::test
