// TScaner over the in-memory line: construction order and a whole exchange
// with the simulated terminal answering every byte the port writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scaner_fixture.h"
#include "serial/line_memory.h"
#include "serial/serial_errors.h"
#include "terminal_simulator.h"

namespace pdt {
namespace {

using namespace std::chrono_literals;
using serial::MemoryWire;
using ::testing::Contains;

class TScanerTest : public ::testing::Test {
  protected:
    std::shared_ptr<MemoryWire> wire = std::make_shared<MemoryWire>();
    DriverSettings settings = [] {
        DriverSettings s;
        s.iComNum = 0x10004;  // only the low 16 bits name the port
        s.iBaud = 19200;
        s.iDataBit = 7;
        s.iStopBit = 2;
        s.iParity = 2;
        s.c_CodeFldNum = 1;
        s.c_CountFldNum = 3;
        return s;
    }();
    TResultList results;
    testing::KeptProgress progress;
};

TEST_F(TScanerTest, OpensWithTheConfiguredParametersThenAppliesEachOnce) {
    wire->RefuseBaud(5760);  // the port's own default never reaches the line
    TScaner scaner(settings, results, progress, serial::MemoryLineFactory(wire));
    EXPECT_EQ(wire->OpenedPort(), 4);
    const auto states = wire->StatesSet();
    ASSERT_EQ(states.size(), 5u);  // at open, then SetBaud, SetDataBits, SetStopBits, SetParity
    for (const auto& state : states) {
        EXPECT_EQ(state.BaudRate, 19200u);
        EXPECT_EQ(state.ByteSize, 7);
        EXPECT_EQ(state.StopBits, serial::kTwoStopBits);
        EXPECT_EQ(state.Parity, 2);
    }
}

TEST_F(TScanerTest, RefusedConfiguredRateFailsConstruction) {
    wire->RefuseBaud(19200);
    EXPECT_THROW(TScaner(settings, results, progress, serial::MemoryLineFactory(wire)),
                 ENotSupported);
    EXPECT_FALSE(wire->IsOpen());
}

TEST_F(TScanerTest, WholeExchangeWithTheSimulatedTerminal) {
    sim::SimConfig config;
    config.fileName = "SCAN.DAT";
    config.records = sim::GenerateRecords(40);
    sim::TerminalSimulator terminal(config);
    // The terminal answers on the writer thread, as the bytes leave the port.
    wire->SetWriteObserver([&](const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> answer;
        for (uint8_t b : bytes) {
            auto part = terminal.OnPcByte(b);
            answer.insert(answer.end(), part.begin(), part.end());
        }
        if (!answer.empty()) wire->Feed(answer);
    });

    TScaner scaner(settings, results, progress, serial::MemoryLineFactory(wire));
    scaner.StartExchange();
    ASSERT_TRUE(testing::WaitForTransferDone(scaner, 10s));
    scaner.StopExchange();
    scaner.Close();

    EXPECT_EQ(testing::AsRecords(results), testing::Expected(config.records));
    EXPECT_THAT(progress.Lines(), Contains("Файл: SCAN.DAT"));
    EXPECT_THAT(progress.Lines(), Contains("Записей: 40"));
    EXPECT_EQ(wire->Written().back(), 0x1B);  // the ESC of StopExchange went out
    EXPECT_TRUE(terminal.SessionEnded());
}

}  // namespace
}  // namespace pdt
