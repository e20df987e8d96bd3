// The Win32 line: a COM port opened for overlapped I/O.
//
// Each kind of operation has its own OVERLAPPED (event wait, read, write), and
// every operation is waited for until it has completed before its OVERLAPPED
// is used again or freed: a write that times out is cancelled with CancelIoEx
// and then completed with GetOverlappedResult. The stopper completes a pending
// WaitCommEvent with SetCommMask(handle, 0) and ends reads and writes with
// CancelIoEx(handle, NULL).
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>

#include "serial/line.h"

namespace pdt::serial {
namespace {

bool MeansDeviceLost(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_INVALID_HANDLE:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
            return true;
        default:
            return false;
    }
}

IoOutcome IoOutcomeFor(DWORD error) {
    if (error == ERROR_OPERATION_ABORTED) return IoOutcome::kAborted;
    return MeansDeviceLost(error) ? IoOutcome::kDeviceLost : IoOutcome::kFailed;
}

std::string SystemText(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

// The DCB's bit-field word follows DCBlength and BaudRate.
constexpr size_t kDcbFlagsOffset = 2 * sizeof(DWORD);

class Win32Line : public Line {
  public:
    explicit Win32Line(std::string devicePath) : path_(std::move(devicePath)) {
        dcb_.DCBlength = sizeof dcb_;
    }
    ~Win32Line() override { Close(); }

    bool Open(uint16_t portNumber) override {
        const std::string name = path_.empty() ? "\\\\.\\COM" + std::to_string(portNumber) : path_;
        handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) return Fail(GetLastError());
        for (OVERLAPPED* ov : {&eventOv_, &readOv_, &writeOv_}) {
            *ov = OVERLAPPED{};
            ov->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (!ov->hEvent) {
                const DWORD error = GetLastError();
                Close();
                return Fail(error);
            }
        }
        return true;
    }

    bool SetupQueues(uint32_t inputSize, uint32_t outputSize) override {
        return SetupComm(handle_, inputSize, outputSize) || Fail(GetLastError());
    }

    bool GetState(LineState& state) override {
        dcb_.DCBlength = sizeof dcb_;
        if (!GetCommState(handle_, &dcb_)) return Fail(GetLastError());
        state.BaudRate = dcb_.BaudRate;
        std::memcpy(&state.Flags, reinterpret_cast<const char*>(&dcb_) + kDcbFlagsOffset, 4);
        state.ByteSize = dcb_.ByteSize;
        state.Parity = dcb_.Parity;
        state.StopBits = dcb_.StopBits;
        return true;
    }

    // Starts from the DCB last read, so XON/XOFF limits and the special
    // characters stay as the driver reported them.
    bool SetState(const LineState& state) override {
        dcb_.BaudRate = state.BaudRate;
        std::memcpy(reinterpret_cast<char*>(&dcb_) + kDcbFlagsOffset, &state.Flags, 4);
        dcb_.ByteSize = state.ByteSize;
        dcb_.Parity = state.Parity;
        dcb_.StopBits = state.StopBits;
        return SetCommState(handle_, &dcb_) || Fail(GetLastError());
    }

    bool ClearError(uint32_t& errors, LineStatus& status) override {
        DWORD mask = 0;
        COMSTAT comStat{};
        if (!ClearCommError(handle_, &mask, &comStat)) return Fail(GetLastError());
        errors = mask;
        status.cbInQue = comStat.cbInQue;
        status.cbOutQue = comStat.cbOutQue;
        return true;
    }

    bool SetEventMask(uint32_t mask) override {
        return SetCommMask(handle_, mask) || Fail(GetLastError());
    }

    bool SetTimeouts() override {
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 20000};
        return SetCommTimeouts(handle_, &timeouts) || Fail(GetLastError());
    }

    WaitOutcome WaitEvent(uint32_t& events) override {
        DWORD mask = 0;
        ResetEvent(eventOv_.hEvent);
        BOOL done = WaitCommEvent(handle_, &mask, &eventOv_);
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (!done && error == ERROR_IO_PENDING) {
            DWORD unused = 0;
            done = GetOverlappedResult(handle_, &eventOv_, &unused, TRUE);
            error = done ? ERROR_SUCCESS : GetLastError();
        }
        if (done) {
            events = mask;
            return WaitOutcome::kEvents;
        }
        Fail(error);
        if (error == ERROR_INVALID_PARAMETER) return WaitOutcome::kInvalidParameter;
        if (error == ERROR_OPERATION_ABORTED) return WaitOutcome::kAborted;
        return MeansDeviceLost(error) ? WaitOutcome::kDeviceLost : WaitOutcome::kFailed;
    }

    void WakeEventWait() override { SetCommMask(handle_, 0); }

    IoResult Read(uint8_t* buffer, uint32_t count) override {
        DWORD n = 0;
        ResetEvent(readOv_.hEvent);
        if (ReadFile(handle_, buffer, count, &n, &readOv_)) return {IoOutcome::kDone, n};
        DWORD error = GetLastError();
        // With these time-outs a read normally completes at once; one that
        // pends (Wine, nothing waiting) is waited for and ended by CancelIo.
        if (error == ERROR_IO_PENDING) {
            if (GetOverlappedResult(handle_, &readOv_, &n, TRUE)) return {IoOutcome::kDone, n};
            error = GetLastError();
        }
        Fail(error);
        return {IoOutcomeFor(error), n};
    }

    IoResult Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
        DWORD n = 0;
        ResetEvent(writeOv_.hEvent);
        if (WriteFile(handle_, data, count, &n, &writeOv_)) return {IoOutcome::kDone, n};
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            Fail(error);
            return {IoOutcomeFor(error), 0};
        }
        const bool timedOut = WaitForSingleObject(writeOv_.hEvent, timeoutMs) == WAIT_TIMEOUT;
        // Cancel a write that took too long, and complete it either way before
        // the OVERLAPPED can be used again.
        if (timedOut) CancelIoEx(handle_, &writeOv_);
        if (GetOverlappedResult(handle_, &writeOv_, &n, TRUE)) {
            return {n == count || !timedOut ? IoOutcome::kDone : IoOutcome::kTimedOut, n};
        }
        error = GetLastError();
        Fail(error);
        if (timedOut && error == ERROR_OPERATION_ABORTED) return {IoOutcome::kTimedOut, n};
        return {IoOutcomeFor(error), n};
    }

    void CancelIo() override {
        if (handle_ != INVALID_HANDLE_VALUE) CancelIoEx(handle_, nullptr);
    }

    void Close() override {
        for (OVERLAPPED* ov : {&eventOv_, &readOv_, &writeOv_}) {
            if (ov->hEvent) CloseHandle(ov->hEvent);
            ov->hEvent = nullptr;
        }
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    void RaiseThreadPriority() override {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    }

    std::string SystemError() const override {
        std::lock_guard guard(errorMutex_);
        return lastError_;
    }

  private:
    bool Fail(DWORD error) {
        std::lock_guard guard(errorMutex_);
        lastError_ = SystemText(error);
        return false;
    }

    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    OVERLAPPED eventOv_{};
    OVERLAPPED readOv_{};
    OVERLAPPED writeOv_{};
    DCB dcb_{};
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

LineFactory SystemLineFactory() {
    return [] { return std::make_unique<Win32Line>(std::string()); };
}

LineFactory DeviceLineFactory(std::string devicePath) {
    return [devicePath] { return std::make_unique<Win32Line>(devicePath); };
}

}  // namespace pdt::serial
