// TComPort: one serial port with a receive ring, a transmit ring and two
// threads of its own.
//
// The event thread waits for serial events; when characters arrive it reads
// what the driver holds into the receive ring and calls DataReceived with the
// number of bytes stored. The writer thread sleeps until bytes are queued and
// writes the transmit ring out. GetChar, PutChar and PutBlock only move bytes
// between memory buffers; none of them waits for the line.
//
// Who touches what:
// - Owner's thread (construction, setters, Close, destruction): the line
//   parameters (baud_, dataBits_, stopBits_, parity_), open_, line_ (created
//   in Open, closed in Close after both threads have ended), the rings'
//   allocation, the thread objects.
// - Any thread, under lock_: the transmit ring and its indices txWrite_,
//   txRead_, txFull_; lineState_ (ApplyParams); statusRecord_, lineErrors_,
//   lastQueued_ (UpdateStatus on the event thread, PutBlock on any thread);
//   the receive read index rxRead_ (GetChar).
// - Event thread only, without the lock: rxWrite_, rxFull_ (set),
//   moreWaiting_, receivedEvents_, currentMask_. GetChar clears rxFull_ under
//   the lock; the only reader of the receive ring runs inside DataReceived on
//   the event thread, so filling and emptying never overlap. Reading the
//   receive ring from another thread is not supported.
// - Writer thread: reads the transmit ring between the indices it took under
//   the lock; writes to the line without the lock, so others can queue while a
//   piece is on its way.
// - Atomics, any thread: stop_, deviceLost_ (+ lostReason_ under lostMutex_).
//
// Lock order: a caller's own lock (e.g. the protocol machine's) -> lock_ ->
// the internal mutexes of the SyncEvents; Close's flush wait holds flushMutex_
// and takes lock_ inside it (nobody takes flushMutex_ while holding lock_).
// lock_ is never held while waiting for the line or for a thread.
//
// Errors: operations called by users raise the ESerialIO family
// (serial_errors.h). Nothing escapes a thread: an exception out of
// DataReceived is written to the log (level 3) and the event thread goes on
// waiting; a wait or read that reports the device gone ends reception,
// writes the reason to the log once and sets DeviceLost(); the owner then
// closes the port. Other failing waits are retried after a pause, never in a
// tight loop.
//
// Shutdown (Close): queued output gets a short grace period to leave, then
// the stop flag is set, the writer is woken, the event thread's wait is
// completed (WakeEventWait, i.e. SetCommMask(handle, 0)) and pending I/O is
// cancelled (CancelIo) - repeated every few milliseconds until both threads
// have ended - and both threads are joined. No lock is held meanwhile, so a
// thread inside DataReceived that queues a reply finishes normally. The line
// completes every cancelled operation before returning it, so an OVERLAPPED
// is never freed or reused while in flight. Only then is the line closed.
//
// A descendant that overrides DataReceived builds its base with DeferOpen and
// calls Open() at the end of its own constructor, and calls Close() in its own
// destructor: the event thread then never calls into a half-built or
// half-destroyed object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "serial/line.h"
#include "serial/sync_event.h"

namespace pdt {

// Line parameters programmed by Open.
struct LineParams {
    int32_t baud = 5760;
    uint8_t dataBits = 8;
    uint8_t stopBits = 1;
    uint8_t parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

class TComPort {
  public:
    static constexpr uint16_t kReceiveRingSize = 8192;
    static constexpr uint16_t kQueueSize = 4096;
    static constexpr uint32_t kWriteWaitTimeoutMs = 60000;

    // Sentinels of ApplyParams that leave a parameter of the port untouched.
    static constexpr int32_t kKeepBaud = 0;
    static constexpr uint16_t kKeepParity = 5;
    static constexpr uint8_t kKeepDataBits = 9;
    static constexpr uint8_t kKeepStopBits = 3;

    // Opens COM<portNumber> on a line made by `lineFactory` and programs it
    // with `params`; port number 0 leaves the port closed.
    TComPort(serial::LineFactory lineFactory, uint16_t portNumber, const LineParams& params = {});
    virtual ~TComPort();

    // For descendants: everything as above, but the port stays closed until
    // the descendant calls Open().
    struct DeferOpen {};
    TComPort(serial::LineFactory lineFactory, uint16_t portNumber, const LineParams& params,
             DeferOpen);

    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    void SetBaud(int32_t value);
    void SetDataBits(uint8_t value);
    void SetStopBits(uint8_t value);
    void SetParity(uint8_t value);
    void ApplyParams(int32_t baud, uint16_t parity, uint8_t dataBits, uint8_t stopBits);

    void Open();
    void Close();

    uint8_t GetChar();
    void PutChar(uint8_t value);
    void PutBlock(const uint8_t* buffer, uint16_t count);

    // Error mask of the driver; `status.cbOutQue` is the transmit ring's count.
    uint32_t GetStatus(serial::LineStatus& status);
    void UpdateStatus();
    void CheckOpen() const;

    bool IsOpen() const { return open_; }
    uint16_t PortNumber() const { return portNumber_; }
    int32_t Baud() const { return baud_; }
    uint8_t DataBits() const { return dataBits_; }
    uint8_t StopBits() const { return stopBits_; }
    uint8_t Parity() const { return parity_; }
    // The line state as last programmed (or refused).
    serial::LineState LastLineState() const;
    uint32_t LineErrors() const;
    bool MoreWaiting() const { return moreWaiting_; }

    // Set by the event thread when the device went away; reception has ended
    // and the port waits to be closed.
    bool DeviceLost() const { return deviceLost_.load(); }
    std::string DeviceLostReason() const;

  protected:
    // Called on the event thread right after a read stored `count` bytes
    // (0 when the reads returned nothing). Take them with GetChar.
    virtual void DataReceived(int32_t count);
    // A failure on one of the port's threads; writes it to the log (level 3).
    virtual void ReportFailure(std::string_view text);

    void PeekChar(uint8_t& value, uint16_t position);
    int32_t QueueOutput(const uint8_t* buffer, int32_t count);

  private:
    void OpenSteps();
    void ReleaseResources();
    void ControlThreads(bool start);
    void StartThreads();
    void StopThreads();
    void FlushOutput();

    void CommEventThread();
    bool HandleWaitOutcome(serial::WaitOutcome outcome, int& failuresInRow);
    void HandleEvents();
    void ReadInput();
    uint32_t ReadPiece(uint8_t* buffer, uint32_t count);
    void DeclareDeviceLost(const std::string& reason);
    void Report(std::string_view what, std::string_view detail);
    bool PauseAfterFailure();

    void WriterThread();
    bool OutputPending();
    void DrainOutput();
    void RecordSent(uint16_t newRead, uint32_t sent);

    uint16_t RxAvailable() const;
    uint16_t TxPending() const;

    serial::LineFactory lineFactory_;
    std::unique_ptr<serial::Line> line_;

    int32_t baud_;
    uint16_t portNumber_;
    uint8_t dataBits_;
    uint8_t stopBits_;
    uint8_t parity_;
    const uint16_t outQueueSize_ = kQueueSize;
    const uint16_t inQueueSize_ = kQueueSize;
    bool open_ = false;

    mutable std::recursive_mutex lock_;
    serial::LineState lineState_;
    serial::LineStatus statusRecord_;
    uint32_t lineErrors_ = 0;
    int32_t lastQueued_ = 0;
    const uint32_t writeTimeoutMs_ = kWriteWaitTimeoutMs;

    std::unique_ptr<uint8_t[]> txRing_;
    uint16_t txWrite_ = 0;
    uint16_t txRead_ = 0;
    bool txFull_ = false;

    std::unique_ptr<uint8_t[]> rxRing_;
    uint16_t rxWrite_ = 0;
    uint16_t rxRead_ = 0;
    bool rxFull_ = false;
    bool moreWaiting_ = false;

    uint32_t currentMask_ = serial::kEventMask;
    uint32_t receivedEvents_ = 0;
    bool extraEvent_ = false;

    std::atomic<bool> stop_{false};
    serial::SyncEvent stopSignal_{true};
    serial::SyncEvent writerWake_{false};
    serial::SyncEvent eventThreadReady_{false};
    serial::SyncEvent writerReady_{false};
    serial::SyncEvent eventThreadEnded_{true};
    serial::SyncEvent writerEnded_{true};
    std::thread eventThread_;
    std::thread writerThread_;

    std::mutex flushMutex_;
    std::condition_variable outputSent_;

    std::atomic<bool> deviceLost_{false};
    mutable std::mutex lostMutex_;
    std::string lostReason_;
};

}  // namespace pdt
