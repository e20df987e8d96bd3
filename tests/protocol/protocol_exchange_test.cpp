// Whole exchanges between the machine and the simulated terminal, in memory:
// every byte the machine sends goes to the simulator, every byte the
// simulator answers goes back to the machine, until both fall quiet.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "core/protocol/protocol_machine.h"
#include "recording_outlets.h"
#include "terminal_simulator.h"

namespace pdt {
namespace {

using testing::RecordingOutlets;

struct ExchangeCase {
    const char* name;
    sim::SimConfig config;
    int32_t codeField;
    int32_t countField;
    std::vector<TRecord> expected;
    int32_t finalState = ProtocolMachine::kDone;
};

class ExchangeTest : public ::testing::TestWithParam<ExchangeCase> {
  protected:
    // Pumps bytes both ways until nothing is left to deliver. Bounded, so a
    // machine that keeps talking fails the test instead of hanging it.
    void Pump(ProtocolMachine& machine, sim::TerminalSimulator& terminal) {
        for (int guard = 0; guard < 1'000'000; ++guard) {
            const std::vector<uint8_t> fromPc = outlets.TakeSent();
            if (fromPc.empty()) return;
            for (uint8_t b : fromPc) {
                for (uint8_t answer : terminal.OnPcByte(b)) machine.ProcessByte(answer);
            }
        }
        FAIL() << "the exchange never fell quiet";
    }

    RecordingOutlets outlets;
};

TEST_P(ExchangeTest, ReadsTheTable) {
    const ExchangeCase& c = GetParam();
    DriverSettings settings;
    settings.c_FormNum = c.config.table;
    settings.c_CodeFldNum = c.codeField;
    settings.c_CountFldNum = c.countField;
    ProtocolMachine machine(settings, outlets);
    sim::TerminalSimulator terminal(c.config);

    machine.StartExchange();
    Pump(machine, terminal);
    EXPECT_EQ(outlets.records, c.expected);
    EXPECT_EQ(machine.State(), c.finalState);
    ASSERT_FALSE(outlets.log.empty());
    EXPECT_EQ(outlets.log[2].label + outlets.log[2].payload, "Файл: " + c.config.fileName);
    EXPECT_EQ(outlets.log.size(), 3 + c.expected.size());

    machine.StopExchange();
    Pump(machine, terminal);
    EXPECT_TRUE(terminal.SessionEnded());
}

// A restart in the middle of the transfer runs a fresh exchange to the end,
// with nothing of the first one left.
TEST_F(ExchangeTest, RestartMidTransferReadsEverythingAgain) {
    DriverSettings settings;
    settings.c_CountFldNum = 3;
    ProtocolMachine machine(settings, outlets);
    sim::SimConfig config{.records = {{"A1", "x", "5"}, {"B2", "y", "7"}, {"C3", "z", "9"}}};
    config.silenceAfterFrames = 5;  // the terminal stops within record 2
    sim::TerminalSimulator terminal(config);
    machine.StartExchange();
    Pump(machine, terminal);
    ASSERT_EQ(outlets.records, (std::vector<TRecord>{{"A1", "5"}}));

    sim::TerminalSimulator fresh(sim::SimConfig{.records = config.records});
    machine.StartExchange();
    Pump(machine, fresh);
    EXPECT_EQ(outlets.records, (std::vector<TRecord>{{"A1", "5"}, {"B2", "7"}, {"C3", "9"}}));
    EXPECT_EQ(outlets.clears, 2);
}

sim::SimConfig Config(int table, std::vector<sim::Record> records) {
    sim::SimConfig config;
    config.table = table;
    config.fileName = "T" + std::to_string(table) + ".DAT";
    config.records = std::move(records);
    return config;
}

sim::SimConfig WithFault(sim::SimConfig config, void (*apply)(sim::SimConfig&)) {
    apply(config);
    return config;
}

const std::vector<sim::Record> kThreeFields = {{"4600000000017", "Bread", "3"},
                                               {"4600000000024", "Milk", "12"}};

INSTANTIATE_TEST_SUITE_P(
    Layouts, ExchangeTest,
    ::testing::Values(
        ExchangeCase{"Table0CodeAndCount",
                     Config(0, kThreeFields),
                     1,
                     3,
                     {{"4600000000017", "3"}, {"4600000000024", "12"}}},
        ExchangeCase{"Table8FourthAndSecondOfUnevenRecords",
                     Config(8, {{"a", "1", "", "A=B"}, {"b", "2"}, {"c", "3", "x", "\xFF\x01"}}),
                     4,
                     2,
                     {{"A=B", "1"}, {"", "2"}, {"\xFF\x01", "3"}}},
        ExchangeCase{"Table5OneFieldOnBothSides",
                     Config(5, {{"111"}, {"222"}, {"333"}}),
                     1,
                     1,
                     {{"111", "111"}, {"222", "222"}, {"333", "333"}}},
        ExchangeCase{
            "WrongChecksumThenTheRightOne",
            WithFault(Config(0, kThreeFields), [](sim::SimConfig& c) { c.badChecksumFrame = 4; }),
            1,
            3,
            {{"4600000000017", "3"}, {"4600000000024", "12"}}},
        ExchangeCase{
            "ZeroLengthFieldFrame",
            WithFault(Config(0, kThreeFields), [](sim::SimConfig& c) { c.zeroLengthFrame = 3; }),
            1,
            3,
            {{"4600000000017", ""}, {"4600000000024", "12"}}},
        ExchangeCase{
            "HeaderLongerThanTheBuffer",
            WithFault(Config(3, kThreeFields), [](sim::SimConfig& c) { c.headerLength = 3000; }),
            1,
            3,
            {{"4600000000017", "3"}, {"4600000000024", "12"}}},
        // The header stops inside the served descriptor: the table counts as
        // absent, every field frame is a record of its own and the end never
        // comes; the terminal falls quiet after its last frame.
        ExchangeCase{
            "HeaderCutBeforeTheDescriptor",
            WithFault(Config(2, {{"A1", "5"}}), [](sim::SimConfig& c) { c.headerLength = 40; }),
            1,
            2,
            {{"A1", ""}, {"5", ""}},
            ProtocolMachine::kFieldLength}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pdt
