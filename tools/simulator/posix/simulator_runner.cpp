#include "posix/simulator_runner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace pdt::sim {

namespace {

using namespace std::chrono_literals;

constexpr int kPollMs = 100;         // how often a waiting runner looks at its stop flag
constexpr auto kHangUpPause = 20ms;  // no PC on the line: look again after this
constexpr auto kSleepSlice = 50ms;
constexpr auto kHangUpDrainLimit = 1000ms;  // a PC that reads nothing does not hold the hang-up

}  // namespace

SimulatorRunner::SimulatorRunner(SimConfig config, RunnerOptions options)
    : simulator_(std::move(config)), options_(std::move(options)) {
    if (options_.baud < 0) throw std::invalid_argument("negative baud rate");
    if (options_.bitsPerChar < 10 || options_.bitsPerChar > 12) {
        throw std::invalid_argument("bits per character must be 10, 11 or 12");
    }
    if (options_.turnaround.count() < 0) throw std::invalid_argument("negative turnaround");
    if (!options_.device.empty() && !options_.link.empty()) {
        throw std::invalid_argument("a link is made only to a pty, not with a device");
    }
    if (!options_.transcriptPath.empty()) {
        transcript_.open(options_.transcriptPath, std::ios::out | std::ios::trunc);
        if (!transcript_) {
            throw std::invalid_argument("cannot write the transcript " + options_.transcriptPath);
        }
    }
}

std::string SimulatorRunner::Open() {
    if (options_.device.empty()) {
        line_.OpenPty(options_.link);
    } else {
        line_.OpenDevice(options_.device, options_.baud);
    }
    NoteEvent("line " + line_.Path());
    if (options_.announce) options_.announce(line_.Path());
    return line_.Path();
}

void SimulatorRunner::Run(const std::atomic<bool>& stop) {
    if (!line_.IsOpen()) Open();
    uint8_t buffer[256];
    while (!stop) {
        pollfd pfd{line_.Fd(), POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if (ready <= 0) continue;
        if (pfd.revents & POLLIN) {
            const ssize_t n = read(line_.Fd(), buffer, sizeof buffer);
            if (n > 0) {
                if (!ServeBytes(buffer, static_cast<size_t>(n), stop)) return;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n < 0 && errno != EIO) {
                throw std::system_error(errno, std::generic_category(), "read " + line_.Path());
            }
        }
        // EIO, end of file or POLLHUP: nobody on the other side for now.
        PauseOnHangUp();
    }
}

bool SimulatorRunner::ServeBytes(const uint8_t* data, size_t size, const std::atomic<bool>& stop) {
    const auto received = Clock::now();
    Note("PC>T", data, size);
    for (size_t i = 0; i < size; ++i) {
        if (awaitingAck_ && data[i] == kAck) {
            latencies_.push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(received - blockEnd_));
        }
        awaitingAck_ = false;
        const Answer answer = simulator_.Respond(data[i]);
        if (!AfterAnswer(answer, stop)) return false;
    }
    return true;
}

bool SimulatorRunner::AfterAnswer(const Answer& answer, const std::atomic<bool>& stop) {
    Send(answer, stop);
    if (answer.hangUp) {
        NoteEvent("hang-up");
        line_.Drain(kHangUpDrainLimit);
        line_.Close();
        if (!options_.repeat || stop) return false;
        simulator_.Reset();
        Open();
        return true;
    }
    if (simulator_.SessionEnded()) {
        ++sessionsEnded_;
        NoteEvent("session ended");
        if (!options_.repeat) return false;
        simulator_.Reset();
    }
    return !stop;
}

void SimulatorRunner::Send(const Answer& answer, const std::atomic<bool>& stop) {
    if (answer.bursts.empty()) return;
    auto start = std::max(Clock::now(), lineFree_) + options_.turnaround;
    for (const Burst& burst : answer.bursts) {
        start += burst.delay;
        SendBurst(burst.bytes, start, stop);
        start = lineFree_;
        if (stop) return;
    }
    if (answer.endsBlock) {
        blockEnd_ = Clock::now();
        awaitingAck_ = true;
    }
}

// With pacing each byte goes out when its line time has passed, counted from
// `start` on one clock, so rounding never accumulates into drift.
void SimulatorRunner::SendBurst(const std::vector<uint8_t>& bytes, Clock::time_point start,
                                const std::atomic<bool>& stop) {
    if (options_.baud == 0) {
        if (!SleepUntil(start, stop)) return;
        WriteAll(bytes.data(), bytes.size(), stop);
        lineFree_ = Clock::now();
    } else {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (!SleepUntil(start + LineTime(i + 1), stop)) return;
            WriteAll(&bytes[i], 1, stop);
        }
        lineFree_ = start + LineTime(bytes.size());
    }
    Note("T>PC", bytes.data(), bytes.size());
}

std::chrono::nanoseconds SimulatorRunner::LineTime(size_t bytes) const {
    const long long bits = static_cast<long long>(bytes) * options_.bitsPerChar;
    return std::chrono::nanoseconds(bits * 1'000'000'000LL / options_.baud);
}

bool SimulatorRunner::SleepUntil(Clock::time_point deadline, const std::atomic<bool>& stop) const {
    while (!stop) {
        const auto now = Clock::now();
        if (now >= deadline) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kSleepSlice));
    }
    return false;
}

void SimulatorRunner::WriteAll(const uint8_t* data, size_t size, const std::atomic<bool>& stop) {
    while (size > 0 && !stop) {
        const ssize_t n = write(line_.Fd(), data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{line_.Fd(), POLLOUT, 0};
            poll(&pfd, 1, kPollMs);
        } else if (n < 0 && errno == EIO) {
            NoteEvent("write: nobody on the line, answer dropped");
            return;
        } else {
            throw std::system_error(errno, std::generic_category(), "write " + line_.Path());
        }
    }
}

// A pty master reports POLLHUP continuously while no slave is open; wait a
// little instead of spinning.
void SimulatorRunner::PauseOnHangUp() const {
    std::this_thread::sleep_for(kHangUpPause);
}

void SimulatorRunner::Note(const char* direction, const uint8_t* data, size_t size) {
    if (!transcript_.is_open()) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%12.6f ", seconds);
    transcript_ << stamp << direction;
    for (size_t i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        transcript_ << hex;
    }
    transcript_ << '\n' << std::flush;
}

void SimulatorRunner::NoteEvent(const std::string& text) {
    if (!transcript_.is_open()) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%12.6f ", seconds);
    transcript_ << stamp << "-- " << text << '\n' << std::flush;
}

}  // namespace pdt::sim
