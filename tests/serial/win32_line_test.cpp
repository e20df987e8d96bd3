// The Win32 line on real COM ports under Wine: an echo peer on one port, the
// simulated terminal on another, and a port that does not exist. The port
// numbers come from the environment the bench sets up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "scaner_fixture.h"
#include "serial/serial_errors.h"
#include "terminal_simulator.h"
#include "test_port.h"

namespace pdt {
namespace {

using namespace std::chrono_literals;
using testing::TestPort;

uint16_t ComFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? static_cast<uint16_t>(std::atoi(value)) : 0;
}

TEST(Win32Line, EchoOfABurstThatWrapsTheRings) {
    const uint16_t com = ComFromEnvironment("PDT_ECHO_COM");
    if (com == 0) GTEST_SKIP() << "PDT_ECHO_COM not set";
    std::mutex mutex;
    std::vector<uint8_t> received;
    TestPort port(serial::SystemLineFactory(), com, {9600, 8, 1, 0},
                  [&](TestPort& p, int32_t count) {
                      auto bytes = p.Take(count);
                      std::lock_guard guard(mutex);
                      received.insert(received.end(), bytes.begin(), bytes.end());
                  });
    std::vector<uint8_t> sent;
    for (int i = 0; i < 10000; ++i) sent.push_back(static_cast<uint8_t>(i * 13 + i / 256));
    for (size_t at = 0; at < sent.size(); at += 1000) {
        for (;;) {
            try {
                port.PutBlock(sent.data() + at, 1000);
                break;
            } catch (const EOutputBufferTooSmall&) {
                std::this_thread::sleep_for(5ms);  // the writer has not caught up yet
            }
        }
    }
    const auto end = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        {
            std::lock_guard guard(mutex);
            if (received.size() >= sent.size() || std::chrono::steady_clock::now() > end) break;
        }
        std::this_thread::sleep_for(10ms);
    }
    port.Close();
    EXPECT_EQ(received, sent);
    EXPECT_TRUE(port.Failures().empty());
}

TEST(Win32Line, WholeExchangeWithTheSimulatedTerminal) {
    const uint16_t com = ComFromEnvironment("PDT_SIM_COM");
    if (com == 0) GTEST_SKIP() << "PDT_SIM_COM not set";
    DriverSettings settings;
    settings.iComNum = com;
    settings.c_CodeFldNum = 1;
    settings.c_CountFldNum = 3;
    TResultList results;
    testing::KeptProgress progress;
    {
        TScaner scaner(settings, results, progress);
        scaner.StartExchange();
        EXPECT_TRUE(testing::WaitForTransferDone(scaner, 60s));
        scaner.StopExchange();
    }
    const auto records = sim::GenerateRecords(12);
    EXPECT_EQ(testing::AsRecords(results), testing::Expected(records));
}

TEST(Win32Line, PortThatDoesNotExistFailsToOpen) {
    constexpr uint16_t kUnmappedCom = 42;  // above the bench's COM1..COM9 and the host's UARTs
    try {
        TComPort port(serial::SystemLineFactory(), kUnmappedCom, {9600, 8, 1, 0});
        FAIL() << "no exception";
    } catch (const EOpenPortFail& error) {
        EXPECT_STREQ(error.what(), "Can't open COM42");
        EXPECT_FALSE(error.SystemReason().empty());
    }
}

}  // namespace
}  // namespace pdt
