// Proves the Wine bench: a COM port mapped to a pty with an echo peer behind it
// behaves like a serial port for overlapped Win32 I/O, including WaitCommEvent.
//
// The COM numbers come from the environment that with-peers.sh sets up:
// PDT_ECHO_COM has an echo peer, PDT_MISSING_COM is mapped to a link with no
// peer behind it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kWaitMs = 5000;
constexpr int kUnmappedCom = 42;  // above the bench's COM1..COM9 and the host's UARTs

int ComFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

std::string DeviceName(int com) {
    return "\\\\.\\COM" + std::to_string(com);
}

// An event handle and the OVERLAPPED that uses it.
class Overlapped {
  public:
    Overlapped() { overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(overlapped_.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    // The OVERLAPPED for the next operation, its event reset.
    OVERLAPPED* Start() {
        ResetEvent(overlapped_.hEvent);
        return &overlapped_;
    }
    OVERLAPPED* raw() { return &overlapped_; }
    // Completes a started operation: returns the transferred count, or -1 on failure.
    long Finish(HANDLE port, BOOL started) {
        DWORD transferred = 0;
        if (!started && GetLastError() != ERROR_IO_PENDING) return -1;
        if (WaitForSingleObject(overlapped_.hEvent, kWaitMs) != WAIT_OBJECT_0) return -1;
        if (!GetOverlappedResult(port, &overlapped_, &transferred, FALSE)) return -1;
        return static_cast<long>(transferred);
    }

  private:
    OVERLAPPED overlapped_{};
};

class OverlappedCommTest : public ::testing::Test {
  protected:
    void SetUp() override {
        com_ = ComFromEnvironment("PDT_ECHO_COM");
        ASSERT_GT(com_, 0) << "PDT_ECHO_COM is not set: run this program through with-peers.sh";
        port_ = CreateFileA(DeviceName(com_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE)
            << DeviceName(com_) << ": CreateFileA error " << GetLastError();
    }
    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    }

    void SetLine(DWORD baud) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port_, &dcb)) << GetLastError();
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // reads return what is there at once
        ASSERT_TRUE(SetCommTimeouts(port_, &timeouts)) << GetLastError();
    }

    void Write(const std::string& bytes) {
        Overlapped write;
        BOOL started = WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                                 write.Start());
        ASSERT_EQ(write.Finish(port_, started), static_cast<long>(bytes.size()))
            << "WriteFile error " << GetLastError();
    }

    // Waits for EV_RXCHAR, then reads what has arrived; repeats until `size` bytes are in.
    std::string ReadAfterEvents(size_t size) {
        std::string received;
        Overlapped wait, read;
        while (received.size() < size) {
            DWORD events = 0;
            BOOL started = WaitCommEvent(port_, &events, wait.Start());
            if (wait.Finish(port_, started) < 0) {
                ADD_FAILURE() << "WaitCommEvent error " << GetLastError();
                break;
            }
            EXPECT_TRUE(events & EV_RXCHAR) << "events " << events;
            char buffer[256];
            started = ReadFile(port_, buffer, sizeof buffer, nullptr, read.Start());
            long got = read.Finish(port_, started);
            if (got < 0) {
                ADD_FAILURE() << "ReadFile error " << GetLastError();
                break;
            }
            received.append(buffer, static_cast<size_t>(got));
        }
        return received;
    }

    int com_ = 0;
    HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(OverlappedCommTest, ModemStatusShowsTheAdaptersLines) {
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(port_, &status)) << GetLastError();
    EXPECT_EQ(status & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
}

TEST_F(OverlappedCommTest, EchoedBytesArriveThroughWaitCommEvent) {
    struct Case {
        DWORD baud;
        std::string bytes;
    };
    const Case cases[] = {
        {9600, std::string("\x05", 1)},  // one control byte
        {19200, std::string("\x02"
                            "4600000000017\x00\x03",
                            16)},             // binary with a NUL
        {115200, std::string(1000, '\x5a')},  // more than one read's worth
    };
    ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR)) << GetLastError();
    for (const Case& c : cases) {
        SCOPED_TRACE("baud " + std::to_string(c.baud) + ", " + std::to_string(c.bytes.size()) +
                     " bytes");
        SetLine(c.baud);
        Write(c.bytes);
        EXPECT_EQ(ReadAfterEvents(c.bytes.size()), c.bytes);
    }
}

TEST_F(OverlappedCommTest, MaskChangeEndsAPendingWait) {
    ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR)) << GetLastError();
    Overlapped wait;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(port_, &events, wait.Start()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // A mask change ends the pending wait: the way a port's event thread is woken to stop.
    // Windows completes it with no events; Wine aborts it with ERROR_OPERATION_ABORTED.
    ASSERT_TRUE(SetCommMask(port_, 0)) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(wait.raw()->hEvent, kWaitMs), WAIT_OBJECT_0);
    DWORD transferred = 0;
    if (GetOverlappedResult(port_, wait.raw(), &transferred, FALSE)) {
        EXPECT_EQ(events, 0u);
    } else {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    }
}

HANDLE OpenOverlapped(int com) {
    return CreateFileA(DeviceName(com).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

TEST(ComMappingTest, UnmappedPortDoesNotOpen) {
    HANDLE port = OpenOverlapped(kUnmappedCom);
    DWORD error = GetLastError();
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    ASSERT_EQ(port, INVALID_HANDLE_VALUE) << DeviceName(kUnmappedCom) << " opened";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Wine's mount manager makes a device for every mapped COM number, so the open
// itself may succeed; with no pty behind the link the port cannot be used.
TEST(ComMappingTest, MappedPortWithoutPeerIsNotUsable) {
    int com = ComFromEnvironment("PDT_MISSING_COM");
    ASSERT_GT(com, 0) << "PDT_MISSING_COM is not set: run this program through with-peers.sh";
    HANDLE port = OpenOverlapped(com);
    if (port == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_FALSE(GetCommState(port, &dcb)) << DeviceName(com) << " reached a real device";
    CloseHandle(port);
}

}  // namespace
