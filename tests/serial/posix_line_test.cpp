// The POSIX line on a pseudo-terminal pair: bytes both ways, line parameters,
// refusals, a hang-up, and a whole exchange with the simulator runner.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cpu_time.h"
#include "posix/simulator_runner.h"
#include "scaner_fixture.h"
#include "serial/line_posix.h"
#include "serial/serial_errors.h"
#include "test_port.h"

namespace pdt {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::TestPort;

class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
        termios raw;
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        slavePath_ = name;
        close(slave);  // the port opens it by name
    }
    void TearDown() override {
        if (master_ >= 0) close(master_);
    }

    void WriteToPort(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::string ReadFromPort(size_t count) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            char buffer[256];
            const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.append(buffer, n);
        }
        return got;
    }

    serial::LineFactory Device() const { return serial::DeviceLineFactory(slavePath_); }

    int master_ = -1;
    std::string slavePath_;
    LineParams params{9600, 8, 1, 0};
};

TEST_F(PtyTest, BytesTravelBothWays) {
    TestPort port(Device(), 1, params, [](TestPort& p, int32_t count) {
        auto bytes = p.Take(count);
        p.PutBlock(bytes.data(), static_cast<uint16_t>(bytes.size()));  // echo
    });
    WriteToPort("hello, terminal");
    EXPECT_EQ(ReadFromPort(15), "hello, terminal");
}

TEST(TermiosMapping, LineStatesRoundTripOrAreRefused) {
    struct Case {
        serial::LineState state;
        bool accepted;
    };
    const Case cases[] = {
        {{9600, 0, 8, 0, serial::kOneStopBit}, true},
        {{19200, 0, 7, 1, serial::kTwoStopBits}, true},  // odd
        {{115200, 0, 5, 2, serial::kOneStopBit}, true},  // even
        {{2400, 0, 6, 3, serial::kOneStopBit}, true},    // mark
        {{1200, 0, 8, 4, serial::kTwoStopBits}, true},   // space
        {{5760, 0, 8, 0, serial::kOneStopBit}, false},   // no such speed constant
        {{9600, 0, 9, 0, serial::kOneStopBit}, false},
        {{9600, 0, 8, 5, serial::kOneStopBit}, false},
        {{9600, 0, 8, 0, serial::kOne5StopBits}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state.BaudRate);
        termios t{};
        std::string whyNot;
        ASSERT_EQ(serial::StateToTermios(c.state, t, whyNot), c.accepted) << whyNot;
        if (!c.accepted) {
            EXPECT_FALSE(whyNot.empty());
            continue;
        }
        const serial::LineState back = serial::StateFromTermios(t);
        EXPECT_EQ(back.BaudRate, c.state.BaudRate);
        EXPECT_EQ(back.ByteSize, c.state.ByteSize);
        EXPECT_EQ(back.Parity, c.state.Parity);
        EXPECT_EQ(back.StopBits, c.state.StopBits);
    }
}

TEST_F(PtyTest, SpeedAndStopBitsReachTheTty) {
    TComPort port(Device(), 1, params);
    port.SetBaud(19200);
    port.SetStopBits(2);
    port.SetBaud(TComPort::kKeepBaud);  // reads the tty's state back, changes nothing
    const serial::LineState state = port.LastLineState();
    EXPECT_EQ(state.BaudRate, 19200u);
    EXPECT_EQ(state.StopBits, serial::kTwoStopBits);
}

TEST_F(PtyTest, RefusalsCarryTheSystemReason) {
    try {
        TComPort port(Device(), 2);  // the default 5760 baud is no standard speed
        FAIL() << "no exception";
    } catch (const ENotSupported& error) {
        EXPECT_STREQ(error.what(), "Parameter not supported for COM2");
        EXPECT_THAT(error.SystemReason(), HasSubstr("5760"));
    }
    try {
        TComPort port(serial::DeviceLineFactory("/dev/no-such-tty"), 7, params);
        FAIL() << "no exception";
    } catch (const EOpenPortFail& error) {
        EXPECT_STREQ(error.what(), "Can't open COM7");
        EXPECT_THAT(error.SystemReason(), HasSubstr("/dev/no-such-tty"));
    }
    TComPort first(Device(), 1, params);
    EXPECT_THROW(TComPort(Device(), 1, params), EOpenPortFail);  // held exclusively
}

TEST_F(PtyTest, HangUpEndsReceptionWithoutSpinning) {
    TestPort port(Device(), 1, params);
    close(master_);
    master_ = -1;
    ASSERT_TRUE(port.WaitForFailures(1));
    EXPECT_TRUE(port.DeviceLost());
    const auto cpuBefore = testing::ProcessCpuTime();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(testing::ProcessCpuTime() - cpuBefore, 200ms);
    EXPECT_EQ(port.Failures().size(), 1u);
    port.Close();
}

TEST(PtyExchange, WholeExchangeWithTheSimulatorRunner) {
    sim::SimConfig config;
    config.records = sim::GenerateRecords(25);
    sim::SimulatorRunner runner(config, {});
    const std::string slave = runner.Open();
    std::atomic<bool> stop{false};
    std::thread terminal([&] { runner.Run(stop); });

    DriverSettings settings;
    settings.iComNum = 1;
    settings.c_CodeFldNum = 1;
    settings.c_CountFldNum = 3;
    TResultList results;
    testing::KeptProgress progress;
    {
        TScaner scaner(settings, results, progress, serial::DeviceLineFactory(slave));
        scaner.StartExchange();
        EXPECT_TRUE(testing::WaitForTransferDone(scaner, 20s));
        scaner.StopExchange();
    }
    stop = true;
    terminal.join();
    EXPECT_EQ(testing::AsRecords(results), testing::Expected(config.records));
}

}  // namespace
}  // namespace pdt
