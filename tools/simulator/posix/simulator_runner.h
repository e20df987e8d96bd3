// Serves the simulated terminal on a POSIX serial line: reads the PC's bytes,
// steps the TerminalSimulator and writes its answers with the line's timing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "posix/sim_line.h"
#include "terminal_simulator.h"

namespace pdt::sim {

struct RunnerOptions {
    std::string device;    // serve this tty; empty: a new pty
    std::string link;      // symlink to the pty's slave (pty only)
    long baud = 0;         // pacing: each byte takes bitsPerChar / baud seconds; 0: no pacing
    int bitsPerChar = 10;  // 10 for 8N1, 11 or 12 with parity or two stop bits
    std::chrono::microseconds turnaround{0};  // pause before each answer
    bool repeat = false;                      // serve one session after another until stopped
    std::string transcriptPath;               // timestamped hex of both directions; empty: none
    // Told the line's path each time a line opens (again after a hang-up fault).
    std::function<void(const std::string& path)> announce;
};

class SimulatorRunner {
  public:
    // Throws std::invalid_argument for bad options or configuration.
    SimulatorRunner(SimConfig config, RunnerOptions options);

    // Opens the line and returns the path the PC opens.
    std::string Open();
    // Serves until the session ends by ESC (or, with `repeat`, until `stop`),
    // or after a hang-up fault without `repeat`. Returns at once when `stop`
    // is set, within about 100 ms. Opens the line first if needed.
    void Run(const std::atomic<bool>& stop);

    // PC reply latencies: from the last byte of a header or frame written to
    // the PC's ACK read. Read them once Run has returned.
    const std::vector<std::chrono::microseconds>& Latencies() const { return latencies_; }
    // Sessions ended by ESC so far; safe to ask while Run serves on another thread.
    size_t SessionsEnded() const { return sessionsEnded_; }

  private:
    using Clock = std::chrono::steady_clock;

    // Each returns false when the runner is to stop serving.
    bool ServeBytes(const uint8_t* data, size_t size, const std::atomic<bool>& stop);
    bool AfterAnswer(const Answer& answer, const std::atomic<bool>& stop);
    void Send(const Answer& answer, const std::atomic<bool>& stop);
    void SendBurst(const std::vector<uint8_t>& bytes, Clock::time_point start,
                   const std::atomic<bool>& stop);
    bool SleepUntil(Clock::time_point deadline, const std::atomic<bool>& stop) const;
    void WriteAll(const uint8_t* data, size_t size, const std::atomic<bool>& stop);
    void PauseOnHangUp() const;
    void Note(const char* direction, const uint8_t* data, size_t size);
    void NoteEvent(const std::string& text);
    std::chrono::nanoseconds LineTime(size_t bytes) const;

    TerminalSimulator simulator_;
    RunnerOptions options_;
    SimLine line_;
    std::ofstream transcript_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lineFree_ = Clock::now();
    Clock::time_point blockEnd_{};
    bool awaitingAck_ = false;
    std::vector<std::chrono::microseconds> latencies_;
    std::atomic<size_t> sessionsEnded_{0};
};

}  // namespace pdt::sim
