// A scripted serial line in memory, for tests on every platform.
//
// A test keeps the MemoryWire (shared with the line the port owns), feeds
// bytes and events into it, collects what the port wrote, and injects faults:
// a refused open or queue set-up, refused baud rates, short reads, writes that
// never complete, waits that fail at once, a device that vanishes. It behaves
// like a Win32 driver: EV_RXCHAR is reported once per arrival, not while bytes
// merely wait, and a wait is completed by an event-mask change or a cancel.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "serial/line.h"

namespace pdt::serial {

class MemoryWire {
  public:
    using WriteObserver = std::function<void(const std::vector<uint8_t>& bytes)>;

    // ---- test side: traffic
    void Feed(const std::vector<uint8_t>& bytes);
    void Feed(std::string_view bytes);
    void RaiseEvents(uint32_t events);
    void AddLineErrors(uint32_t errors);
    std::vector<uint8_t> Written() const;
    // True once at least `count` bytes have been written.
    bool WaitForWritten(size_t count, std::chrono::milliseconds timeout) const;
    // Called on the writer thread with every completed write (outside the lock).
    void SetWriteObserver(WriteObserver observer);

    // ---- test side: faults
    void FailOpen(bool fail);
    void FailSetupQueues(bool fail);
    void RefuseBaud(uint32_t baud);
    void SetInitialState(const LineState& state);
    void LimitReads(uint32_t maxBytesPerRead);           // 0: no limit
    void StarveReads(bool starve);                       // reads return nothing
    void StallWrites(bool stall);                        // writes pend until cancelled
    void RefuseExtraEventBit(bool refuse);               // waits fail while 0x2000 is in the mask
    void FailWaits(std::optional<WaitOutcome> outcome);  // every wait fails at once
    void Vanish();                                       // the device is gone

    // ---- test side: observation
    bool IsOpen() const;
    uint16_t OpenedPort() const;
    std::vector<LineState> StatesSet() const;
    uint32_t EventMask() const;
    size_t WaitCount() const;
    size_t Waiting() const;  // bytes not yet read by the port
    size_t PriorityRaises() const;
    std::vector<size_t> WriteSizes() const;  // one entry per completed write
    // True once a write is held up by StallWrites.
    bool WaitForStalledWrite(std::chrono::milliseconds timeout) const;

  private:
    friend class MemoryLine;

    bool Open(uint16_t port);
    bool SetupQueues();
    bool GetState(LineState& state);
    bool SetState(const LineState& state);
    bool ClearError(uint32_t& errors, LineStatus& status);
    bool SetEventMask(uint32_t mask);
    WaitOutcome WaitEvent(uint32_t& events);
    void WakeEventWait();
    IoResult Read(uint8_t* buffer, uint32_t count);
    IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs);
    void CancelIo();
    void Close();
    void NotePriorityRaise();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    WriteObserver observer_;

    bool failOpen_ = false;
    bool failSetupQueues_ = false;
    std::set<uint32_t> refusedBauds_;
    uint32_t readLimit_ = 0;
    bool starveReads_ = false;
    bool writeStalled_ = false;
    std::vector<size_t> writeSizes_;
    bool stallWrites_ = false;
    bool refuseExtraBit_ = false;
    std::optional<WaitOutcome> failWaits_;
    bool lost_ = false;

    bool open_ = false;
    uint16_t port_ = 0;
    LineState state_{9600, 0x00000001, 8, 0, kOneStopBit};
    std::vector<LineState> statesSet_;
    uint32_t mask_ = 0;
    uint32_t pendingEvents_ = 0;
    uint32_t lineErrors_ = 0;
    uint64_t wakeGeneration_ = 0;
    uint64_t cancelGeneration_ = 0;
    size_t waitCount_ = 0;
    size_t priorityRaises_ = 0;
    std::deque<uint8_t> input_;
    std::vector<uint8_t> written_;
};

class MemoryLine : public Line {
  public:
    explicit MemoryLine(std::shared_ptr<MemoryWire> wire) : wire_(std::move(wire)) {}

    bool Open(uint16_t portNumber) override { return wire_->Open(portNumber); }
    bool SetupQueues(uint32_t, uint32_t) override { return wire_->SetupQueues(); }
    bool GetState(LineState& state) override { return wire_->GetState(state); }
    bool SetState(const LineState& state) override { return wire_->SetState(state); }
    bool ClearError(uint32_t& errors, LineStatus& status) override {
        return wire_->ClearError(errors, status);
    }
    bool SetEventMask(uint32_t mask) override { return wire_->SetEventMask(mask); }
    bool SetTimeouts() override { return true; }
    WaitOutcome WaitEvent(uint32_t& events) override { return wire_->WaitEvent(events); }
    void WakeEventWait() override { wire_->WakeEventWait(); }
    IoResult Read(uint8_t* buffer, uint32_t count) override { return wire_->Read(buffer, count); }
    IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
        return wire_->Write(data, count, timeoutMs);
    }
    void CancelIo() override { wire_->CancelIo(); }
    void Close() override { wire_->Close(); }
    void RaiseThreadPriority() override { wire_->NotePriorityRaise(); }
    std::string SystemError() const override { return "memory line failure"; }

  private:
    std::shared_ptr<MemoryWire> wire_;
};

LineFactory MemoryLineFactory(std::shared_ptr<MemoryWire> wire);

}  // namespace pdt::serial
