// The event thread feeds bytes while the UI thread restarts the exchange.
// Run under ThreadSanitizer (tsan preset) this also shows that every field
// and outlet call is covered by the machine's lock.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "core/protocol/protocol_machine.h"
#include "terminal_script.h"

namespace pdt {
namespace {

// Checks on every call that a log line or record belongs to the exchange
// whose ClearRecords came last. Plain fields: the machine's lock serialises
// the calls.
class ExchangeOrderOutlets : public ProtocolOutlets {
  public:
    uint32_t clears = 0;
    int recordsSinceClear = 0;
    int recordLinesSinceClear = 0;
    int foreignLines = 0;
    int mismatches = 0;

    void SendByte(uint8_t) override {}
    void SendBlock(const uint8_t*, uint16_t) override {}
    void Log(uint32_t exchange, std::string_view label, std::string_view) override {
        if (exchange != clears) ++foreignLines;
        if (label == "Запись: ") ++recordLinesSinceClear;
        if (recordLinesSinceClear != recordsSinceClear) ++mismatches;
    }
    void AppendRecord(std::string_view, std::string_view) override { ++recordsSinceClear; }
    void ClearRecords() override {
        ++clears;
        recordsSinceClear = 0;
        recordLinesSinceClear = 0;
    }
};

TEST(ProtocolThreadsTest, RestartWhileBytesArriveNeverMixesExchanges) {
    DriverSettings settings;
    ExchangeOrderOutlets outlets;
    ProtocolMachine machine(settings, outlets);
    testing::TerminalScript script;
    for (int i = 0; i < 50; ++i) script.records.push_back({std::to_string(i), "1"});
    const std::vector<uint8_t> stream = script.Bytes();

    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
        machine.StartExchange();
        // The restart comes once the transfer has run a varying while, and
        // races the bytes that follow.
        const size_t restartAt = stream.size() * round / kRounds;
        std::promise<void> underWay;
        std::thread eventThread([&] {
            for (size_t i = 0; i < stream.size(); ++i) {
                if (i == restartAt) underWay.set_value();
                machine.ProcessByte(stream[i]);
            }
        });
        underWay.get_future().wait();
        machine.StartExchange();
        eventThread.join();
    }
    EXPECT_EQ(outlets.clears, 2u * kRounds);
    EXPECT_EQ(machine.Exchange(), 2u * kRounds);
    EXPECT_EQ(outlets.foreignLines, 0);
    EXPECT_EQ(outlets.mismatches, 0);
}

}  // namespace
}  // namespace pdt
