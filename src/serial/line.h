// The "line": the thin, OS-specific layer under TComPort.
//
// TComPort holds every algorithm of the port (rings, threads, status, the
// programming of the line parameters); a Line only forwards the few system
// calls those algorithms need. One backend per OS: line_win32.cpp (overlapped
// Win32 comm API), line_posix.cpp (termios + poll) and line_memory.cpp (a
// scripted line for tests, built everywhere).
//
// Threads: Open/SetupQueues/GetState/SetState/Close run on the owner's thread
// (SetState also on whatever thread calls a setter, always under the port
// lock); WaitEvent, Read and ClearError run on the event thread (ClearError
// also under the port lock from PutBlock); Write runs on the writer thread.
// WakeEventWait and CancelIo may be called from any thread while the others
// are blocked: that is how the port stops its threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pdt::serial {

// Serial events, with the values of the Win32 EV_* constants.
inline constexpr uint32_t kEvRxChar = 0x0001;
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;
inline constexpr uint32_t kEvRing = 0x0100;
// Not a 32-bit API event (the 16-bit API's trailing ring edge); some drivers
// refuse it, so the port asks for it first and drops it on refusal.
inline constexpr uint32_t kEvExtra = 0x2000;
inline constexpr uint32_t kEventMask = 0x21F9;
inline constexpr uint32_t kEventMaskFallback = 0x01F9;

// Line error bits gathered by the port (CE_RXOVER .. CE_BREAK).
inline constexpr uint32_t kLineErrorBits = 0x1F;

// Stop-bit codes of the DCB.
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;

// The DCB fields the port works with. `Flags` is the DCB's 32-bit bit-field
// word (fBinary at bit 0 ... fRtsControl at bits 12-13 ...).
struct LineState {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;  // kOneStopBit, kOne5StopBits, kTwoStopBits
};

inline constexpr uint32_t kRtsControlMask = 0x3000;
inline constexpr uint32_t kRtsControlEnable = 0x1000;

// COMSTAT as far as the port uses it.
struct LineStatus {
    uint32_t cbInQue = 0;   // bytes waiting in the driver
    uint32_t cbOutQue = 0;  // bytes not yet sent
};

enum class WaitOutcome {
    kEvents,            // `events` holds what happened (0 after a wake-up)
    kInvalidParameter,  // the driver refused the event mask
    kAborted,           // the wait was cancelled (by us or by the system)
    kDeviceLost,        // the device is gone: no later wait can succeed
    kFailed,            // anything else
};

enum class IoOutcome { kDone, kTimedOut, kAborted, kDeviceLost, kFailed };

struct IoResult {
    IoOutcome outcome = IoOutcome::kDone;
    uint32_t count = 0;  // bytes transferred, also when the call did not complete normally
};

class Line {
  public:
    virtual ~Line() = default;

    // COMn for a system line built without a device path; the number only
    // names the port otherwise. False when the device cannot be opened.
    virtual bool Open(uint16_t portNumber) = 0;
    virtual bool SetupQueues(uint32_t inputSize, uint32_t outputSize) = 0;
    virtual bool GetState(LineState& state) = 0;
    virtual bool SetState(const LineState& state) = 0;
    // Reads and clears the driver's error bits; false when the call failed.
    virtual bool ClearError(uint32_t& errors, LineStatus& status) = 0;
    virtual bool SetEventMask(uint32_t mask) = 0;
    // Reads return at once with what is waiting; writes give up after 20 s.
    virtual bool SetTimeouts() = 0;
    // Blocks until an event of the mask, WakeEventWait, CancelIo or a failure.
    virtual WaitOutcome WaitEvent(uint32_t& events) = 0;
    // Completes a pending WaitEvent (SetCommMask(handle, 0) on Windows).
    virtual void WakeEventWait() = 0;
    // Reads up to `count` bytes that are waiting; a read that has to wait can
    // be ended by CancelIo.
    virtual IoResult Read(uint8_t* buffer, uint32_t count) = 0;
    // Writes and waits for completion at most `timeoutMs`; a write that did
    // not complete in time is cancelled and completed before this returns.
    virtual IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) = 0;
    // Cancels every pending operation of the line, on every thread.
    virtual void CancelIo() = 0;
    virtual void Close() = 0;
    // Raises the calling thread's priority (best effort).
    virtual void RaiseThreadPriority() {}
    // The system's text for the last failure of this line.
    virtual std::string SystemError() const = 0;
};

using LineFactory = std::function<std::unique_ptr<Line>()>;

// The OS line: COMn on Windows, /dev/ttyS<n-1> elsewhere.
LineFactory SystemLineFactory();
// The OS line on a given device (a tty path, or a Win32 device name).
LineFactory DeviceLineFactory(std::string devicePath);

}  // namespace pdt::serial
