#include "observed_line.h"

#include <memory>

namespace pdt::cli {
namespace {

class ObservedLine final : public serial::Line {
  public:
    ObservedLine(std::unique_ptr<serial::Line> inner, LineObserver& observer)
        : inner_(std::move(inner)), observer_(observer) {}

    bool Open(uint16_t portNumber) override { return inner_->Open(portNumber); }
    bool SetupQueues(uint32_t in, uint32_t out) override { return inner_->SetupQueues(in, out); }
    bool GetState(serial::LineState& state) override { return inner_->GetState(state); }
    bool SetState(const serial::LineState& state) override { return inner_->SetState(state); }
    bool ClearError(uint32_t& errors, serial::LineStatus& status) override {
        return inner_->ClearError(errors, status);
    }
    bool SetEventMask(uint32_t mask) override { return inner_->SetEventMask(mask); }
    bool SetTimeouts() override { return inner_->SetTimeouts(); }
    serial::WaitOutcome WaitEvent(uint32_t& events) override { return inner_->WaitEvent(events); }
    void WakeEventWait() override { inner_->WakeEventWait(); }

    serial::IoResult Read(uint8_t* buffer, uint32_t count) override {
        serial::IoResult result = inner_->Read(buffer, count);
        if (result.count > 0) observer_.Received(buffer, result.count);
        return result;
    }

    serial::IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
        serial::IoResult result = inner_->Write(data, count, timeoutMs);
        if (result.count > 0) observer_.Sent(data, result.count);
        return result;
    }

    void CancelIo() override { inner_->CancelIo(); }
    void Close() override { inner_->Close(); }
    void RaiseThreadPriority() override { inner_->RaiseThreadPriority(); }
    std::string SystemError() const override { return inner_->SystemError(); }

  private:
    std::unique_ptr<serial::Line> inner_;
    LineObserver& observer_;
};

}  // namespace

serial::LineFactory ObserveLine(serial::LineFactory inner, LineObserver& observer) {
    return [inner = std::move(inner), &observer]() -> std::unique_ptr<serial::Line> {
        return std::make_unique<ObservedLine>(inner(), observer);
    };
}

}  // namespace pdt::cli
