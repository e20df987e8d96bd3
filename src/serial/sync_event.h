// A Win32-style event for the port's threads: auto-reset (one waiter wakes and
// the event clears) or manual-reset (stays set until Reset).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pdt::serial {

class SyncEvent {
  public:
    explicit SyncEvent(bool manualReset) : manualReset_(manualReset) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        if (manualReset_) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
        Consume();
    }

    // True when the event was set within the time.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return set_; })) return false;
        Consume();
        return true;
    }

    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }

  private:
    void Consume() {
        if (!manualReset_) set_ = false;
    }

    const bool manualReset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace pdt::serial
