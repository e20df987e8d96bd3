#include "serial/com_port.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "serial/serial_errors.h"
#include "serial/serial_log.h"

namespace pdt {

using namespace std::chrono_literals;
using serial::IoOutcome;
using serial::IoResult;
using serial::LineStatus;
using serial::WaitOutcome;

namespace {

// Time the threads get to start (a time-out is not an error: they still run).
constexpr auto kStartHandshake = 3000ms;
// Output queued right before Close gets this long to leave (e.g. the final ESC).
constexpr auto kCloseFlushGrace = 100ms;
// How often the stopper repeats its wake-ups while waiting for the threads.
constexpr auto kStopPokeInterval = 5ms;
// Pause before retrying a wait or write that failed for no known reason.
constexpr auto kRetryPause = 50ms;
// Failed waits in a row after which the device counts as lost.
constexpr int kFailuresBeforeLoss = 20;

// Stop bits 1 -> ONESTOPBIT, 2 -> TWOSTOPBITS (the argument is clamped first).
uint8_t StopBitCode(uint8_t stopBits) {
    return stopBits == 2 ? serial::kTwoStopBits : serial::kOneStopBit;
}

}  // namespace

TComPort::TComPort(serial::LineFactory lineFactory, uint16_t portNumber, const LineParams& params)
    : TComPort(std::move(lineFactory), portNumber, params, DeferOpen{}) {
    if (portNumber_ != 0) Open();
}

TComPort::TComPort(serial::LineFactory lineFactory, uint16_t portNumber, const LineParams& params,
                   DeferOpen)
    : lineFactory_(std::move(lineFactory)),
      baud_(params.baud),
      portNumber_(portNumber),
      dataBits_(params.dataBits),
      stopBits_(params.stopBits),
      parity_(params.parity) {}

TComPort::~TComPort() {
    try {
        Close();
    } catch (...) {
        // A destructor reports nothing; Close itself raises nothing it could lose.
    }
}

// ---- Line parameters ---------------------------------------------------------

void TComPort::SetBaud(int32_t value) {
    baud_ = value;
    ApplyParams(value, kKeepParity, kKeepDataBits, kKeepStopBits);
}

void TComPort::SetDataBits(uint8_t value) {
    dataBits_ = value;
    ApplyParams(kKeepBaud, kKeepParity, value, kKeepStopBits);
}

void TComPort::SetStopBits(uint8_t value) {
    stopBits_ = value;
    ApplyParams(kKeepBaud, kKeepParity, kKeepDataBits, value);
}

void TComPort::SetParity(uint8_t value) {
    parity_ = value;
    ApplyParams(kKeepBaud, value, kKeepDataBits, kKeepStopBits);
}

void TComPort::ApplyParams(int32_t baud, uint16_t parity, uint8_t dataBits, uint8_t stopBits) {
    if (!open_) return;
    bool accepted;
    {
        std::lock_guard guard(lock_);
        line_->GetState(lineState_);  // on failure the previous state is reused
        if (stopBits != kKeepStopBits) stopBits = stopBits < 1 ? 1 : (stopBits > 2 ? 2 : stopBits);
        if (baud != kKeepBaud) lineState_.BaudRate = static_cast<uint32_t>(baud);
        if (parity != kKeepParity) lineState_.Parity = static_cast<uint8_t>(parity & 0xFF);
        if (dataBits != kKeepDataBits) lineState_.ByteSize = dataBits;
        if (stopBits != kKeepStopBits) lineState_.StopBits = StopBitCode(stopBits);
        // RTS held on; the upper half of the flags word is reserved.
        lineState_.Flags = (lineState_.Flags & 0xCFFF) | serial::kRtsControlEnable;
        accepted = line_->SetState(lineState_);
    }
    if (!accepted) throw ENotSupported::Parameter(portNumber_, line_->SystemError());
}

serial::LineState TComPort::LastLineState() const {
    std::lock_guard guard(lock_);
    return lineState_;
}

uint32_t TComPort::LineErrors() const {
    std::lock_guard guard(lock_);
    return lineErrors_;
}

// ---- Open and close ----------------------------------------------------------

void TComPort::Open() {
    if (open_) return;
    try {
        OpenSteps();
    } catch (...) {
        ReleaseResources();
        throw;
    }
}

void TComPort::OpenSteps() {
    stop_ = false;
    stopSignal_.Reset();
    deviceLost_ = false;
    line_ = lineFactory_();
    if (!line_ || !line_->Open(portNumber_)) {
        throw EOpenPortFail(portNumber_, line_ ? line_->SystemError() : std::string());
    }
    if (!line_->SetupQueues(inQueueSize_, outQueueSize_)) {
        throw ENotSupported::Setup(portNumber_, line_->SystemError());
    }
    rxRing_ = std::make_unique<uint8_t[]>(kReceiveRingSize);
    txRing_ = std::make_unique<uint8_t[]>(outQueueSize_);
    txWrite_ = txRead_ = 0;
    txFull_ = false;
    lastQueued_ = 0;
    lineErrors_ = 0;
    moreWaiting_ = false;
    rxFull_ = false;
    statusRecord_ = {};
    line_->GetState(lineState_);
    rxWrite_ = rxRead_ = 0;
    currentMask_ = serial::kEventMask;
    open_ = true;
    ApplyParams(baud_, parity_, dataBits_, stopBits_);
    UpdateStatus();
    ControlThreads(true);
}

void TComPort::Close() {
    if (!open_) return;
    FlushOutput();
    ControlThreads(false);
    ReleaseResources();
}

void TComPort::ReleaseResources() {
    StopThreads();
    if (line_) line_->Close();
    line_.reset();
    rxRing_.reset();
    txRing_.reset();
    open_ = false;
}

void TComPort::FlushOutput() {
    if (!writerThread_.joinable()) return;
    std::unique_lock wait(flushMutex_);
    outputSent_.wait_for(wait, kCloseFlushGrace,
                         [this] { return !OutputPending() || deviceLost_.load(); });
}

// ---- Status ------------------------------------------------------------------

uint32_t TComPort::GetStatus(LineStatus& status) {
    uint32_t errors = 0;
    if (!line_->ClearError(errors, status)) errors = 0;
    std::lock_guard guard(lock_);
    status.cbOutQue = TxPending();
    return errors;
}

void TComPort::UpdateStatus() {
    std::lock_guard guard(lock_);
    uint32_t errors = GetStatus(statusRecord_);
    lineErrors_ |= errors & serial::kLineErrorBits;
}

void TComPort::CheckOpen() const {
    if (!open_) throw EPortNotOpen(portNumber_);
}

// ---- Receive ring --------------------------------------------------------------

uint16_t TComPort::RxAvailable() const {
    if (rxRead_ < rxWrite_) return rxWrite_ - rxRead_;
    if (rxRead_ > rxWrite_) return rxWrite_ + kReceiveRingSize - rxRead_;
    return rxFull_ ? kReceiveRingSize : 0;
}

void TComPort::PeekChar(uint8_t& value, uint16_t position) {
    if (position > RxAvailable()) throw EBufferIsEmpty(portNumber_);
    value = rxRing_[(rxRead_ + position - 1) % kReceiveRingSize];
}

uint8_t TComPort::GetChar() {
    CheckOpen();
    std::lock_guard guard(lock_);
    uint8_t value = 0;
    PeekChar(value, 1);
    rxRead_ = static_cast<uint16_t>((rxRead_ + 1) % kReceiveRingSize);
    rxFull_ = false;
    return value;
}

// ---- Transmit ring ------------------------------------------------------------

uint16_t TComPort::TxPending() const {
    if (txFull_) return outQueueSize_;
    if (txWrite_ > txRead_) return txWrite_ - txRead_;
    if (txWrite_ < txRead_) return outQueueSize_ - txRead_ + txWrite_;
    return 0;
}

void TComPort::PutChar(uint8_t value) {
    PutBlock(&value, 1);
}

void TComPort::PutBlock(const uint8_t* buffer, uint16_t count) {
    CheckOpen();
    if (count == 0) return;
    std::lock_guard guard(lock_);
    // Free space from this call's own status read, never from a record that
    // another thread may be refreshing.
    LineStatus status;
    lineErrors_ = GetStatus(status);
    statusRecord_ = status;
    const uint32_t freeSpace = outQueueSize_ - status.cbOutQue;
    if (count > freeSpace) throw EOutputBufferTooSmall(portNumber_);
    if (count == freeSpace) txFull_ = true;
    const int32_t queued = QueueOutput(buffer, count);
    lastQueued_ = queued;
    if (queued < 1) {
        lastQueued_ = queued < 0 ? -queued : queued;
        lineErrors_ = GetStatus(statusRecord_);
        throw EPutBlockFail(portNumber_);
    }
}

int32_t TComPort::QueueOutput(const uint8_t* buffer, int32_t count) {
    {
        std::lock_guard guard(lock_);
        const int32_t room = outQueueSize_ - txWrite_;
        if (count > room) {
            std::memcpy(&txRing_[txWrite_], buffer, room);
            std::memcpy(&txRing_[0], buffer + room, count - room);
            txWrite_ = static_cast<uint16_t>(count - room);
        } else {
            std::memcpy(&txRing_[txWrite_], buffer, count);
            txWrite_ = count == room ? 0 : static_cast<uint16_t>(txWrite_ + count);
        }
    }
    writerWake_.Set();
    return count;
}

void TComPort::DataReceived(int32_t /*count*/) {}

// ---- Threads --------------------------------------------------------------------

void TComPort::ControlThreads(bool start) {
    if (start) {
        StartThreads();
    } else {
        StopThreads();
    }
}

void TComPort::StartThreads() {
    std::lock_guard guard(lock_);
    stop_ = false;
    eventThreadEnded_.Reset();
    writerEnded_.Reset();
    // The event thread has its mask and time-outs in place before the writer
    // can send anything that would be answered.
    eventThread_ = std::thread([this] { CommEventThread(); });
    eventThreadReady_.WaitFor(kStartHandshake);
    writerThread_ = std::thread([this] { WriterThread(); });
    writerReady_.WaitFor(kStartHandshake);
}

void TComPort::StopThreads() {
    stop_ = true;
    stopSignal_.Set();
    writerWake_.Set();
    // A wake-up can fall between a thread's check of the stop flag and its next
    // wait, so repeat it until both threads have ended.
    for (;;) {
        const bool writerDone = !writerThread_.joinable() || writerEnded_.IsSet();
        const bool eventDone = !eventThread_.joinable() || eventThreadEnded_.IsSet();
        if (writerDone && eventDone) break;
        if (line_) {
            line_->WakeEventWait();
            line_->CancelIo();
        }
        (writerDone ? eventThreadEnded_ : writerEnded_).WaitFor(kStopPokeInterval);
    }
    if (writerThread_.joinable()) writerThread_.join();
    if (eventThread_.joinable()) eventThread_.join();
}

// ---- Event thread -----------------------------------------------------------------

void TComPort::CommEventThread() {
    line_->RaiseThreadPriority();
    currentMask_ = serial::kEventMask;
    line_->SetEventMask(currentMask_);
    line_->SetTimeouts();
    eventThreadReady_.Set();

    int failuresInRow = 0;
    while (!stop_) {
        const WaitOutcome outcome = line_->WaitEvent(receivedEvents_);
        if (stop_) break;
        if (!HandleWaitOutcome(outcome, failuresInRow)) break;
        HandleEvents();
    }
    eventThreadEnded_.Set();
}

// False when reception has to end.
bool TComPort::HandleWaitOutcome(WaitOutcome outcome, int& failuresInRow) {
    switch (outcome) {
        case WaitOutcome::kEvents:
            failuresInRow = 0;
            if (receivedEvents_ & serial::kEvExtra) extraEvent_ = true;
            return true;
        case WaitOutcome::kDeviceLost:
            DeclareDeviceLost(line_->SystemError());
            return false;
        case WaitOutcome::kInvalidParameter:
            if (currentMask_ & serial::kEvExtra) {
                currentMask_ = serial::kEventMaskFallback;
                line_->SetEventMask(currentMask_);
                return true;
            }
            [[fallthrough]];
        case WaitOutcome::kAborted:
        case WaitOutcome::kFailed:
            // Not fatal by itself (e.g. an abort we did not cause), but never
            // retried in a tight loop, and a wait that keeps failing means
            // the device has gone.
            receivedEvents_ = 0;
            if (++failuresInRow >= kFailuresBeforeLoss) {
                DeclareDeviceLost(line_->SystemError());
                return false;
            }
            return PauseAfterFailure();
    }
    return true;
}

// False when the port is being stopped.
bool TComPort::PauseAfterFailure() {
    return !stopSignal_.WaitFor(kRetryPause);
}

void TComPort::HandleEvents() {
    if (receivedEvents_ & (serial::kEvBreak | serial::kEvErr)) UpdateStatus();
    if (!(receivedEvents_ & serial::kEvRxChar)) return;
    try {
        ReadInput();
    } catch (const std::exception& error) {
        Report("error while handling received data: ", error.what());
    } catch (...) {
        Report("error while handling received data", "");
    }
}

void TComPort::ReadInput() {
    if (rxFull_) return;
    UpdateStatus();
    uint32_t waiting;
    {
        std::lock_guard guard(lock_);
        waiting = statusRecord_.cbInQue;
    }
    if (waiting == 0) return;

    uint32_t freeSpace, firstPiece;
    {
        std::lock_guard guard(lock_);  // rxRead_ moves under the lock in GetChar
        if (rxWrite_ == rxRead_) {
            freeSpace = kReceiveRingSize;
            firstPiece = kReceiveRingSize - rxWrite_;
        } else if (rxRead_ > rxWrite_) {
            freeSpace = firstPiece = rxRead_ - rxWrite_;
        } else {
            freeSpace = kReceiveRingSize - rxWrite_ + rxRead_;
            firstPiece = kReceiveRingSize - rxWrite_;
        }
    }
    moreWaiting_ = waiting > freeSpace;
    const uint32_t want = moreWaiting_ ? freeSpace : waiting;
    const uint32_t secondPiece = firstPiece < want ? want - firstPiece : 0;

    const uint32_t firstCount = ReadPiece(&rxRing_[rxWrite_], firstPiece);
    rxWrite_ = static_cast<uint16_t>((rxWrite_ + firstCount) % kReceiveRingSize);
    if (firstCount != 0) rxFull_ = rxWrite_ == rxRead_;

    // The second piece starts at the ring's beginning; it is read only when the
    // first one really reached the end. After a short first read the rest
    // stays in the driver for the next event.
    uint32_t secondCount = 0;
    if (secondPiece != 0 && firstCount == firstPiece) {
        secondCount = ReadPiece(&rxRing_[rxWrite_], secondPiece);
        rxWrite_ = static_cast<uint16_t>((rxWrite_ + secondCount) % kReceiveRingSize);
        if (secondCount != 0) rxFull_ = rxWrite_ == rxRead_;
    }
    DataReceived(static_cast<int32_t>(firstCount + secondCount));
}

uint32_t TComPort::ReadPiece(uint8_t* buffer, uint32_t count) {
    const IoResult result = line_->Read(buffer, count);
    if (result.outcome == IoOutcome::kDeviceLost) DeclareDeviceLost(line_->SystemError());
    return result.count;
}

void TComPort::DeclareDeviceLost(const std::string& reason) {
    if (deviceLost_.exchange(true)) return;
    {
        std::lock_guard guard(lostMutex_);
        lostReason_ = reason;
    }
    Report("device lost, reception ended: ", reason);
    stopSignal_.Set();  // nothing more to wait for on this port
    writerWake_.Set();
    outputSent_.notify_all();
}

std::string TComPort::DeviceLostReason() const {
    std::lock_guard guard(lostMutex_);
    return lostReason_;
}

void TComPort::Report(std::string_view what, std::string_view detail) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "COM%d: ", static_cast<int>(portNumber_));
    std::string text(prefix);
    text.append(what).append(detail);
    try {
        ReportFailure(text);
    } catch (...) {
        // The report itself failing must not end the thread.
    }
}

void TComPort::ReportFailure(std::string_view text) {
    serial::WriteFailureToLog(text);
}

// ---- Writer thread ------------------------------------------------------------------

void TComPort::WriterThread() {
    line_->RaiseThreadPriority();
    writerReady_.Set();
    for (;;) {
        writerWake_.Wait();
        if (stop_) break;
        DrainOutput();
        if (stop_) break;
    }
    writerEnded_.Set();
}

bool TComPort::OutputPending() {
    std::lock_guard guard(lock_);
    return txFull_ || txWrite_ != txRead_;
}

void TComPort::DrainOutput() {
    // Unlike a plain "until empty" drain, this one also ends when the port is
    // stopped or the device is gone, so a stalled line cannot hold Close up.
    while (!stop_ && !deviceLost_ && OutputPending()) {
        uint16_t start, end;
        {
            std::lock_guard guard(lock_);
            start = txRead_;
            end = txWrite_ > txRead_ ? txWrite_ : outQueueSize_;
        }
        const IoResult result = line_->Write(&txRing_[start], end - start, writeTimeoutMs_);
        if (result.outcome == IoOutcome::kDone) {
            RecordSent(start, end - start);
            continue;
        }
        // The line has completed the cancelled or failed write; what it did
        // send counts, the rest goes out again in the next pass.
        if (result.count != 0) RecordSent(start, result.count);
        if (result.outcome == IoOutcome::kDeviceLost) {
            DeclareDeviceLost(line_->SystemError());
        } else if (result.outcome != IoOutcome::kTimedOut && result.count == 0) {
            if (!PauseAfterFailure()) return;
        }
    }
}

void TComPort::RecordSent(uint16_t start, uint32_t sent) {
    {
        std::lock_guard guard(lock_);
        txRead_ = static_cast<uint16_t>((start + sent) % outQueueSize_);
        txFull_ = false;
    }
    std::lock_guard wait(flushMutex_);
    outputSent_.notify_all();
}

}  // namespace pdt
