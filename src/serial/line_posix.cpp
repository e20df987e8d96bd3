// The POSIX line: a tty through termios, poll and a pair of wake-up pipes.
//
// The descriptor stays non-blocking; every wait is a poll that also watches
// the wake pipe (the event mask changed: WakeEventWait) and the cancel pipe
// (the port is stopping: CancelIo; never drained, so every later call returns
// at once). EV_RXCHAR is reported like a Win32 driver does, once per arrival:
// bytes that were already reported and still wait (the port's ring is full)
// are re-checked at a slow pace instead of waking the event thread in a loop.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include "serial/line_posix.h"

namespace pdt::serial {
namespace {

struct SpeedCode {
    uint32_t baud;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},       {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

// How often bytes that wait unread are re-checked for new arrivals.
constexpr int kStaleRecheckMs = 20;

bool SpeedFor(uint32_t baud, speed_t& code) {
    for (const SpeedCode& s : kSpeeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

uint32_t BaudFor(speed_t code) {
    for (const SpeedCode& s : kSpeeds) {
        if (s.code == code) return s.baud;
    }
    return 0;
}

bool IsHangUp(short revents) {
    return revents & (POLLHUP | POLLERR | POLLNVAL);
}

class PosixLine : public Line {
  public:
    explicit PosixLine(std::string devicePath) : path_(std::move(devicePath)) {}
    ~PosixLine() override { Close(); }

    bool Open(uint16_t portNumber) override {
        if (path_.empty()) path_ = "/dev/ttyS" + std::to_string(portNumber - 1);
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return Fail(path_);
        // TIOCEXCL keeps other openers out (not root); the lock also keeps out
        // a second instance of ours running as root.
        if (::ioctl(fd_, TIOCEXCL) != 0 && errno != ENOTTY) return FailAndClose(path_);
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return FailAndClose(path_ + " is in use");
        if (::tcgetattr(fd_, &saved_) != 0) return FailAndClose(path_);
        savedValid_ = true;
        termios raw = saved_;
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(fd_, TCSANOW, &raw) != 0) return FailAndClose(path_);
        if (::pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0 ||
            ::pipe2(cancelPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
            return FailAndClose("pipe");
        }
        return true;
    }

    bool SetupQueues(uint32_t, uint32_t) override { return true; }

    bool GetState(LineState& state) override {
        termios t;
        if (::tcgetattr(fd_, &t) != 0) return Fail("tcgetattr");
        state = StateFromTermios(t);
        state.Flags = flags_;
        return true;
    }

    bool SetState(const LineState& state) override {
        termios t;
        if (::tcgetattr(fd_, &t) != 0) return Fail("tcgetattr");
        std::string whyNot;
        if (!StateToTermios(state, t, whyNot)) return SetError(whyNot);
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) return Fail("tcsetattr");
        flags_ = state.Flags;
        ApplyRts();
        return true;
    }

    bool ClearError(uint32_t& errors, LineStatus& status) override {
        errors = 0;
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) != 0) return Fail("FIONREAD");
        int unsent = 0;
        if (::ioctl(fd_, TIOCOUTQ, &unsent) != 0) unsent = 0;
        status.cbInQue = static_cast<uint32_t>(waiting);
        status.cbOutQue = static_cast<uint32_t>(unsent);
        return true;
    }

    bool SetEventMask(uint32_t mask) override {
        mask_.store(mask);
        ++wakeGeneration_;
        Poke(wakePipe_[1]);
        return true;
    }

    bool SetTimeouts() override { return true; }

    WaitOutcome WaitEvent(uint32_t& events) override {
        const uint64_t wake = wakeGeneration_.load();
        for (;;) {
            if (cancelled_) return WaitOutcome::kAborted;
            if (wake != wakeGeneration_.load()) {
                events = 0;
                return WaitOutcome::kEvents;
            }
            int waiting = 0;
            if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
                Fail("FIONREAD");
                return errno == EIO || errno == EBADF ? WaitOutcome::kDeviceLost
                                                      : WaitOutcome::kFailed;
            }
            const bool wantChars = mask_.load() & kEvRxChar;
            if (wantChars && static_cast<uint32_t>(waiting) > reported_) {
                reported_ = static_cast<uint32_t>(waiting);
                events = kEvRxChar;
                return WaitOutcome::kEvents;
            }
            if (waiting == 0) reported_ = 0;
            // Nothing new: sleep until bytes, a hang-up or a wake-up; while
            // old bytes wait unread, look again now and then.
            pollfd fds[3] = {{fd_, static_cast<short>(waiting == 0 && wantChars ? POLLIN : 0), 0},
                             {wakePipe_[0], POLLIN, 0},
                             {cancelPipe_[0], POLLIN, 0}};
            const int ready = ::poll(fds, 3, waiting == 0 ? -1 : kStaleRecheckMs);
            if (ready < 0 && errno != EINTR) {
                Fail("poll");
                return WaitOutcome::kFailed;
            }
            if (fds[1].revents & POLLIN) Drain(wakePipe_[0]);
            if (IsHangUp(fds[0].revents)) {
                SetError("the device hung up");
                return WaitOutcome::kDeviceLost;
            }
        }
    }

    void WakeEventWait() override { SetEventMask(0); }

    IoResult Read(uint8_t* buffer, uint32_t count) override {
        if (cancelled_) return {IoOutcome::kAborted, 0};
        const ssize_t n = ::read(fd_, buffer, count);
        if (n > 0) {
            reported_ = reported_ > n ? reported_ - static_cast<uint32_t>(n) : 0;
            return {IoOutcome::kDone, static_cast<uint32_t>(n)};
        }
        if (n == 0) {
            SetError("end of file");
            return {IoOutcome::kDeviceLost, 0};
        }
        if (errno == EAGAIN || errno == EINTR) return {IoOutcome::kDone, 0};
        Fail("read");
        return {errno == EIO ? IoOutcome::kDeviceLost : IoOutcome::kFailed, 0};
    }

    IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        uint32_t done = 0;
        while (done < count) {
            if (cancelled_) return {IoOutcome::kAborted, done};
            const ssize_t n = ::write(fd_, data + done, count - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Fail("write");
                return {errno == EIO ? IoOutcome::kDeviceLost : IoOutcome::kFailed, done};
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return {IoOutcome::kTimedOut, done};
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancelPipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
                Fail("poll");
                return {IoOutcome::kFailed, done};
            }
            if (IsHangUp(fds[0].revents)) {
                SetError("the device hung up");
                return {IoOutcome::kDeviceLost, done};
            }
        }
        return {IoOutcome::kDone, done};
    }

    void CancelIo() override {
        cancelled_ = true;
        Poke(cancelPipe_[1]);
    }

    void Close() override {
        if (fd_ >= 0) {
            if (savedValid_) ::tcsetattr(fd_, TCSANOW, &saved_);
            ::close(fd_);
            fd_ = -1;
        }
        for (int* pipe : {wakePipe_, cancelPipe_}) {
            for (int i = 0; i < 2; ++i) {
                if (pipe[i] >= 0) ::close(pipe[i]);
                pipe[i] = -1;
            }
        }
    }

    void RaiseThreadPriority() override {
        // Needs privileges; without them the thread keeps its priority.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -5);
    }

    std::string SystemError() const override {
        std::lock_guard guard(errorMutex_);
        return lastError_;
    }

  private:
    void ApplyRts() {
        // A pseudo-terminal has no modem lines: the failure is expected there.
        int rts = TIOCM_RTS;
        const bool on = (flags_ & kRtsControlMask) == kRtsControlEnable;
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &rts);
    }

    static void Poke(int fd) {
        if (fd < 0) return;
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }

    static void Drain(int fd) {
        char bytes[64];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
    }

    // Keeps errno for the caller's own look at it.
    bool Fail(const std::string& what) {
        const int error = errno;
        std::lock_guard guard(errorMutex_);
        lastError_ = what + ": " + std::strerror(error);
        errno = error;
        return false;
    }

    bool FailAndClose(const std::string& what) {
        Fail(what);
        Close();
        return false;
    }

    bool SetError(const std::string& why) {
        std::lock_guard guard(errorMutex_);
        lastError_ = path_ + ": " + why;
        return false;
    }

    std::string path_;
    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int cancelPipe_[2] = {-1, -1};
    termios saved_{};
    bool savedValid_ = false;
    uint32_t flags_ = 0x0001;  // fBinary
    std::atomic<uint32_t> mask_{0};
    std::atomic<uint64_t> wakeGeneration_{0};
    std::atomic<bool> cancelled_{false};
    uint32_t reported_ = 0;  // bytes waiting when EV_RXCHAR was last reported, minus those read
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

uint8_t ParityCode(tcflag_t cflag) {
    if (!(cflag & PARENB)) return 0;
#ifdef CMSPAR
    if (cflag & CMSPAR) return (cflag & PARODD) ? 3 : 4;
#endif
    return (cflag & PARODD) ? 1 : 2;
}

bool SetByteSize(termios& t, uint8_t size) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (size < 5 || size > 8) return false;
    t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[size - 5];
    return true;
}

bool SetParity(termios& t, uint8_t parity) {
    tcflag_t bits;
    switch (parity) {
        case 0:
            bits = 0;
            break;
        case 1:
            bits = PARENB | PARODD;
            break;
        case 2:
            bits = PARENB;
            break;
#ifdef CMSPAR
        case 3:
            bits = PARENB | PARODD | CMSPAR;
            break;
        case 4:
            bits = PARENB | CMSPAR;
            break;
#endif
        default:
            return false;
    }
    tcflag_t all = PARENB | PARODD;
#ifdef CMSPAR
    all |= CMSPAR;
#endif
    t.c_cflag = (t.c_cflag & ~all) | bits;
    return true;
}

}  // namespace

LineState StateFromTermios(const termios& t) {
    LineState state;
    state.BaudRate = BaudFor(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            state.ByteSize = 5;
            break;
        case CS6:
            state.ByteSize = 6;
            break;
        case CS7:
            state.ByteSize = 7;
            break;
        default:
            state.ByteSize = 8;
            break;
    }
    state.Parity = ParityCode(t.c_cflag);
    state.StopBits = (t.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
    return state;
}

bool StateToTermios(const LineState& state, termios& t, std::string& whyNot) {
    speed_t speed;
    if (!SpeedFor(state.BaudRate, speed)) {
        whyNot = "baud rate " + std::to_string(state.BaudRate) + " is not supported";
        return false;
    }
    if (!SetByteSize(t, state.ByteSize)) {
        whyNot = std::to_string(state.ByteSize) + " data bits are not supported";
        return false;
    }
    if (!SetParity(t, state.Parity)) {
        whyNot = "parity code " + std::to_string(state.Parity) + " is not supported";
        return false;
    }
    if (state.StopBits == kOneStopBit) {
        t.c_cflag &= ~CSTOPB;
    } else if (state.StopBits == kTwoStopBits) {
        t.c_cflag |= CSTOPB;
    } else {
        whyNot = "1.5 stop bits are not supported";
        return false;
    }
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return true;
}

LineFactory SystemLineFactory() {
    return [] { return std::make_unique<PosixLine>(std::string()); };
}

LineFactory DeviceLineFactory(std::string devicePath) {
    return [devicePath] { return std::make_unique<PosixLine>(devicePath); };
}

}  // namespace pdt::serial
