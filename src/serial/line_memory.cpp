#include "serial/line_memory.h"

#include <algorithm>

namespace pdt::serial {

// ---- test side -------------------------------------------------------------------

void MemoryWire::Feed(const std::vector<uint8_t>& bytes) {
    {
        std::lock_guard guard(mutex_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
        if (mask_ & kEvRxChar) pendingEvents_ |= kEvRxChar;
    }
    changed_.notify_all();
}

void MemoryWire::Feed(std::string_view bytes) {
    Feed(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void MemoryWire::RaiseEvents(uint32_t events) {
    {
        std::lock_guard guard(mutex_);
        pendingEvents_ |= events & mask_;
    }
    changed_.notify_all();
}

void MemoryWire::AddLineErrors(uint32_t errors) {
    std::lock_guard guard(mutex_);
    lineErrors_ |= errors;
}

std::vector<uint8_t> MemoryWire::Written() const {
    std::lock_guard guard(mutex_);
    return written_;
}

bool MemoryWire::WaitForWritten(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return written_.size() >= count; });
}

void MemoryWire::SetWriteObserver(WriteObserver observer) {
    std::lock_guard guard(mutex_);
    observer_ = std::move(observer);
}

void MemoryWire::FailOpen(bool fail) {
    std::lock_guard guard(mutex_);
    failOpen_ = fail;
}

void MemoryWire::FailSetupQueues(bool fail) {
    std::lock_guard guard(mutex_);
    failSetupQueues_ = fail;
}

void MemoryWire::RefuseBaud(uint32_t baud) {
    std::lock_guard guard(mutex_);
    refusedBauds_.insert(baud);
}

void MemoryWire::SetInitialState(const LineState& state) {
    std::lock_guard guard(mutex_);
    state_ = state;
}

void MemoryWire::LimitReads(uint32_t maxBytesPerRead) {
    std::lock_guard guard(mutex_);
    readLimit_ = maxBytesPerRead;
}

void MemoryWire::StarveReads(bool starve) {
    std::lock_guard guard(mutex_);
    starveReads_ = starve;
}

void MemoryWire::StallWrites(bool stall) {
    {
        std::lock_guard guard(mutex_);
        stallWrites_ = stall;
    }
    changed_.notify_all();
}

void MemoryWire::RefuseExtraEventBit(bool refuse) {
    std::lock_guard guard(mutex_);
    refuseExtraBit_ = refuse;
}

void MemoryWire::FailWaits(std::optional<WaitOutcome> outcome) {
    {
        std::lock_guard guard(mutex_);
        failWaits_ = outcome;
    }
    changed_.notify_all();
}

void MemoryWire::Vanish() {
    {
        std::lock_guard guard(mutex_);
        lost_ = true;
    }
    changed_.notify_all();
}

std::vector<size_t> MemoryWire::WriteSizes() const {
    std::lock_guard guard(mutex_);
    return writeSizes_;
}

bool MemoryWire::WaitForStalledWrite(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return writeStalled_; });
}

bool MemoryWire::IsOpen() const {
    std::lock_guard guard(mutex_);
    return open_;
}

uint16_t MemoryWire::OpenedPort() const {
    std::lock_guard guard(mutex_);
    return port_;
}

std::vector<LineState> MemoryWire::StatesSet() const {
    std::lock_guard guard(mutex_);
    return statesSet_;
}

uint32_t MemoryWire::EventMask() const {
    std::lock_guard guard(mutex_);
    return mask_;
}

size_t MemoryWire::WaitCount() const {
    std::lock_guard guard(mutex_);
    return waitCount_;
}

size_t MemoryWire::Waiting() const {
    std::lock_guard guard(mutex_);
    return input_.size();
}

size_t MemoryWire::PriorityRaises() const {
    std::lock_guard guard(mutex_);
    return priorityRaises_;
}

// ---- line side -------------------------------------------------------------------

bool MemoryWire::Open(uint16_t port) {
    std::lock_guard guard(mutex_);
    if (failOpen_ || open_) return false;  // exclusive, like a COM port
    open_ = true;
    port_ = port;
    mask_ = 0;
    pendingEvents_ = 0;
    return true;
}

bool MemoryWire::SetupQueues() {
    std::lock_guard guard(mutex_);
    return !failSetupQueues_;
}

bool MemoryWire::GetState(LineState& state) {
    std::lock_guard guard(mutex_);
    if (lost_) return false;
    state = state_;
    return true;
}

bool MemoryWire::SetState(const LineState& state) {
    std::lock_guard guard(mutex_);
    statesSet_.push_back(state);
    if (lost_ || refusedBauds_.count(state.BaudRate)) return false;
    state_ = state;
    return true;
}

bool MemoryWire::ClearError(uint32_t& errors, LineStatus& status) {
    std::lock_guard guard(mutex_);
    if (lost_) return false;
    errors = lineErrors_;
    lineErrors_ = 0;
    status.cbInQue = static_cast<uint32_t>(input_.size());
    status.cbOutQue = 0;
    return true;
}

bool MemoryWire::SetEventMask(uint32_t mask) {
    {
        std::lock_guard guard(mutex_);
        mask_ = mask;
        pendingEvents_ &= mask;
        ++wakeGeneration_;  // completes a pending wait, as SetCommMask does
    }
    changed_.notify_all();
    return true;
}

WaitOutcome MemoryWire::WaitEvent(uint32_t& events) {
    std::unique_lock lock(mutex_);
    ++waitCount_;
    if (lost_) return WaitOutcome::kDeviceLost;
    if (failWaits_) return *failWaits_;
    if (refuseExtraBit_ && (mask_ & kEvExtra)) return WaitOutcome::kInvalidParameter;
    const uint64_t wake = wakeGeneration_;
    const uint64_t cancel = cancelGeneration_;
    changed_.wait(lock, [&] {
        return pendingEvents_ != 0 || wake != wakeGeneration_ || cancel != cancelGeneration_ ||
               lost_ || failWaits_;
    });
    if (cancel != cancelGeneration_) return WaitOutcome::kAborted;
    if (lost_) return WaitOutcome::kDeviceLost;
    if (failWaits_ && pendingEvents_ == 0) return *failWaits_;
    events = pendingEvents_;
    pendingEvents_ = 0;
    return WaitOutcome::kEvents;
}

void MemoryWire::WakeEventWait() {
    SetEventMask(0);
}

IoResult MemoryWire::Read(uint8_t* buffer, uint32_t count) {
    std::lock_guard guard(mutex_);
    if (lost_) return {IoOutcome::kDeviceLost, 0};
    uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(input_.size()));
    if (readLimit_ != 0) n = std::min(n, readLimit_);
    if (starveReads_) n = 0;
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + n);
    return {IoOutcome::kDone, n};
}

IoResult MemoryWire::Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) {
    WriteObserver observer;
    std::vector<uint8_t> bytes(data, data + count);
    {
        std::unique_lock lock(mutex_);
        if (lost_) return {IoOutcome::kDeviceLost, 0};
        const uint64_t cancel = cancelGeneration_;
        if (stallWrites_) {
            writeStalled_ = true;
            changed_.notify_all();
        }
        const bool released = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return !stallWrites_ || cancel != cancelGeneration_ || lost_;
        });
        if (!released || cancel != cancelGeneration_) writeStalled_ = false;
        if (!released) return {IoOutcome::kTimedOut, 0};
        if (cancel != cancelGeneration_) return {IoOutcome::kAborted, 0};
        if (lost_) return {IoOutcome::kDeviceLost, 0};
        writeStalled_ = false;
        written_.insert(written_.end(), bytes.begin(), bytes.end());
        writeSizes_.push_back(bytes.size());
        observer = observer_;
    }
    changed_.notify_all();
    if (observer) observer(bytes);
    return {IoOutcome::kDone, count};
}

void MemoryWire::CancelIo() {
    {
        std::lock_guard guard(mutex_);
        ++cancelGeneration_;
    }
    changed_.notify_all();
}

void MemoryWire::Close() {
    std::lock_guard guard(mutex_);
    open_ = false;
    mask_ = 0;
}

void MemoryWire::NotePriorityRaise() {
    std::lock_guard guard(mutex_);
    ++priorityRaises_;
}

LineFactory MemoryLineFactory(std::shared_ptr<MemoryWire> wire) {
    return [wire] { return std::make_unique<MemoryLine>(wire); };
}

}  // namespace pdt::serial
