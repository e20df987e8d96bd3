// A port for tests: records DataReceived calls and failure reports, and runs
// an optional handler inside DataReceived on the event thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/line_memory.h"

namespace pdt::testing {

class TestPort : public TComPort {
  public:
    using Handler = std::function<void(TestPort&, int32_t count)>;

    TestPort(std::shared_ptr<serial::MemoryWire> wire, uint16_t port, const LineParams& params = {},
             Handler handler = {})
        : TestPort(serial::MemoryLineFactory(std::move(wire)), port, params, std::move(handler)) {}

    TestPort(serial::LineFactory factory, uint16_t port, const LineParams& params = {},
             Handler handler = {})
        : TComPort(std::move(factory), port, params, DeferOpen{}), handler_(std::move(handler)) {
        if (port != 0) Open();
    }

    ~TestPort() override { Close(); }

    // Takes every byte of a DataReceived call (use inside a handler).
    std::vector<uint8_t> Take(int32_t count) {
        std::vector<uint8_t> bytes;
        for (int32_t i = 0; i < count; ++i) bytes.push_back(GetChar());
        return bytes;
    }

    std::vector<int32_t> Calls() const {
        std::lock_guard guard(mutex_);
        return calls_;
    }

    std::vector<std::string> Failures() const {
        std::lock_guard guard(mutex_);
        return failures_;
    }

    bool WaitForCalls(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return calls_.size() >= count; });
    }

    bool WaitForFailures(size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return failures_.size() >= count; });
    }

    using TComPort::PeekChar;

  protected:
    void DataReceived(int32_t count) override {
        if (handler_) handler_(*this, count);
        {
            std::lock_guard guard(mutex_);
            calls_.push_back(count);
        }
        changed_.notify_all();
    }

    void ReportFailure(std::string_view text) override {
        {
            std::lock_guard guard(mutex_);
            failures_.emplace_back(text);
        }
        changed_.notify_all();
    }

  private:
    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int32_t> calls_;
    std::vector<std::string> failures_;
};

}  // namespace pdt::testing
