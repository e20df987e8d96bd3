// Where the threads of a download meet the tool's main thread: the port's
// event thread reports bytes and progress lines, the interrupt watch reports
// Ctrl-C, and the main thread waits here for any of them (or a short tick)
// instead of polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "observed_line.h"

namespace pdt::cli {

class ExchangeMonitor : public LineObserver {
  public:
    using Clock = std::chrono::steady_clock;
    using ProgressLine = std::pair<std::string, std::string>;  // label, payload

    // `forward`, when given, also sees every byte (the transcript).
    explicit ExchangeMonitor(LineObserver* forward = nullptr);

    void Received(const uint8_t* data, size_t count) override;
    void Sent(const uint8_t* data, size_t count) override;
    void AddProgress(std::string_view label, std::string_view payload);
    void Interrupt();

    // Main thread: waits until something was reported or `timeout` passed.
    void Wait(Clock::duration timeout);
    std::vector<ProgressLine> TakeProgress();
    Clock::time_point LastActivity() const;
    // Starts the inactivity clock (the first ENQ has gone out).
    void ResetActivity();
    bool Interrupted() const;

  private:
    LineObserver* forward_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool pending_ = false;
    bool interrupted_ = false;
    Clock::time_point lastActivity_ = Clock::now();
    std::vector<ProgressLine> progress_;
};

}  // namespace pdt::cli
