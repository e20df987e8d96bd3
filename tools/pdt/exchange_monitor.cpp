#include "exchange_monitor.h"

namespace pdt::cli {

ExchangeMonitor::ExchangeMonitor(LineObserver* forward) : forward_(forward) {}

void ExchangeMonitor::Received(const uint8_t* data, size_t count) {
    {
        std::lock_guard lock(mutex_);
        lastActivity_ = Clock::now();
        pending_ = true;
    }
    changed_.notify_one();
    if (forward_) forward_->Received(data, count);
}

void ExchangeMonitor::Sent(const uint8_t* data, size_t count) {
    if (forward_) forward_->Sent(data, count);
}

void ExchangeMonitor::AddProgress(std::string_view label, std::string_view payload) {
    {
        std::lock_guard lock(mutex_);
        progress_.emplace_back(std::string(label), std::string(payload));
        pending_ = true;
    }
    changed_.notify_one();
}

void ExchangeMonitor::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        pending_ = true;
    }
    changed_.notify_one();
}

void ExchangeMonitor::Wait(Clock::duration timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return pending_; });
    pending_ = false;
}

std::vector<ExchangeMonitor::ProgressLine> ExchangeMonitor::TakeProgress() {
    std::lock_guard lock(mutex_);
    return std::exchange(progress_, {});
}

ExchangeMonitor::Clock::time_point ExchangeMonitor::LastActivity() const {
    std::lock_guard lock(mutex_);
    return lastActivity_;
}

void ExchangeMonitor::ResetActivity() {
    std::lock_guard lock(mutex_);
    lastActivity_ = Clock::now();
}

bool ExchangeMonitor::Interrupted() const {
    std::lock_guard lock(mutex_);
    return interrupted_;
}

}  // namespace pdt::cli
