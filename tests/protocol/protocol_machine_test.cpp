#include "core/protocol/protocol_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "recording_outlets.h"
#include "terminal_script.h"

namespace pdt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::LogLine;
using testing::RecordingOutlets;
using testing::TerminalScript;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t NAK = 0x15;
constexpr uint8_t EOT = 0x04;

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class ProtocolMachineTest : public ::testing::Test {
  protected:
    DriverSettings settings;
    RecordingOutlets outlets;
    ProtocolMachine machine{settings, outlets};

    // Table 0 with two records of three fields; the file name frame is "ABC".
    TerminalScript script{.table = 0,
                          .tableCount = 9,
                          .fileName = "ABC",
                          .records = {{"A1", "x", "5"}, {"B2", "y", "7"}}};

    void Feed(const Bytes& bytes) {
        for (uint8_t b : bytes) machine.ProcessByte(b);
    }

    // A started exchange fed with the script until the machine reaches
    // `state`; what was sent and logged on the way is forgotten.
    void Reach(int32_t state) {
        machine.StartExchange();
        for (uint8_t b : script.Bytes()) {
            if (machine.State() == state) break;
            machine.ProcessByte(b);
        }
        ASSERT_EQ(machine.State(), state);
        outlets.sends.clear();
        outlets.log.clear();
        outlets.records.clear();
    }

    // From the table request on: ACKs, then the given frames.
    void FeedTransfer(const std::string& name, const std::vector<std::string>& fields) {
        Feed({wire::ACK, wire::ACK});
        Bytes frames;
        wire::AppendFrame(frames, name);
        for (const auto& f : fields) wire::AppendFrame(frames, f);
        Feed(frames);
    }

    void FeedHeader(const Bytes& data) {
        Feed({wire::ACK, wire::BEL, wire::ACK, wire::ACK, wire::ACK, wire::STX});
        Feed(data);
        Feed({wire::ETX});
    }

    std::vector<LogLine> CountLines(const std::string& records, const std::string& fields) {
        const uint32_t x = machine.Exchange();
        return {{x, "Записей: ", records}, {x, "Полей в записи: ", fields}};
    }
};

// --- The state table, one byte at a time ------------------------------------

struct StepCase {
    const char* name;
    int32_t state;
    uint8_t byte;
    std::vector<Bytes> sends;  // one entry per SendByte / SendBlock
    int32_t next;
    std::vector<std::string> logged = {};  // label + payload of each line
};

class StateTableTest : public ProtocolMachineTest,
                       public ::testing::WithParamInterface<StepCase> {};

TEST_P(StateTableTest, AnswersAndMovesOn) {
    const StepCase& c = GetParam();
    Reach(c.state);
    machine.ProcessByte(c.byte);
    EXPECT_EQ(outlets.sends, c.sends);
    EXPECT_EQ(machine.State(), c.next);
    std::vector<std::string> logged;
    for (const auto& line : outlets.log) logged.push_back(line.label + line.payload);
    EXPECT_EQ(logged, c.logged);
    EXPECT_THAT(outlets.records, IsEmpty());
}

const Bytes kStx = {wire::STX}, kEtx = {wire::ETX}, kEnq = {wire::ENQ}, kAck = {wire::ACK},
            kEsc = {wire::ESC};

INSTANTIATE_TEST_SUITE_P(
    Steps, StateTableTest,
    ::testing::Values(
        StepCase{"GreetingAck", 0, wire::ACK, {{'U'}}, 1},
        StepCase{"BelInsteadOfAck", 0, wire::BEL, {}, -1},
        StepCase{"Bel", 1, wire::BEL, {{'T'}}, 2},
        StepCase{"AckInsteadOfBel", 1, wire::ACK, {}, -1},
        StepCase{"AckAfterT", 2, wire::ACK, {kEnq}, 3}, StepCase{"NakAfterT", 2, NAK, {}, -1},
        StepCase{"AckBeforeRx", 3, wire::ACK, {kStx, ToBytes("RX"), kEtx}, 4},
        StepCase{"EscBeforeRx", 3, wire::ESC, {}, -1}, StepCase{"AckOfRx", 4, wire::ACK, {}, 5},
        StepCase{"StxInsteadOfAck", 4, wire::STX, {}, -1},
        StepCase{"HeaderStx", 5, wire::STX, {}, 6},
        StepCase{"AckInsteadOfStx", 5, wire::ACK, {}, -1}, StepCase{"HeaderByte", 6, 'Z', {}, 6},
        StepCase{"HeaderZero", 6, 0x00, {}, 6},
        StepCase{"TableAck", 9, wire::ACK, {kStx, ToBytes("CU0"), kEtx}, 10},
        StepCase{"NakForTable", 9, NAK, {}, -1}, StepCase{"AckOfCu", 10, wire::ACK, {kEnq}, 11},
        StepCase{"StxAfterCu", 10, wire::STX, {}, -1}, StepCase{"NameLengthEot", 11, EOT, {}, 12},
        StepCase{"NameLengthZero", 11, 0x00, {}, 13}, StepCase{"NameData", 12, 'A', {}, 12},
        StepCase{"NameChecksumWrong", 13, 0xC7, {}, 13},
        StepCase{"NameChecksumRight", 13, 0xC6, {kAck}, 14, {"Файл: ABC"}},
        StepCase{"FieldLengthEot", 14, EOT, {}, 15},
        StepCase{"FieldLengthAck", 14, wire::ACK, {}, 15},
        StepCase{"FieldLengthZero", 14, 0x00, {}, 16}, StepCase{"FieldData", 15, 'A', {}, 15},
        StepCase{"FieldChecksumWrong", 16, 0x00, {}, 16},
        StepCase{"FieldChecksumRight", 16, 'A' + '1', {kAck}, 14},
        StepCase{"DoneAnswersEsc", 17, wire::ACK, {kEsc}, 17},
        StepCase{"DoneAnswersEscToAnything", 17, 0xFF, {kEsc}, 17}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolMachineTest, NewMachineWaitsInStateZeroAndStartSendsEnq) {
    EXPECT_EQ(machine.State(), 0);
    machine.StartExchange();
    EXPECT_EQ(outlets.TakeSent(), Bytes{wire::ENQ});
    EXPECT_EQ(outlets.clears, 1);
    EXPECT_EQ(machine.Exchange(), 1u);
}

TEST_F(ProtocolMachineTest, StoppedMachineIgnoresEveryByte) {
    Reach(0);
    machine.ProcessByte(wire::BEL);  // wrong byte: silent stop
    ASSERT_EQ(machine.State(), -1);
    for (int b = 0; b < 256; ++b) machine.ProcessByte(static_cast<uint8_t>(b));
    EXPECT_EQ(machine.State(), -1);
    EXPECT_THAT(outlets.sends, IsEmpty());
    EXPECT_THAT(outlets.log, IsEmpty());
}

TEST_F(ProtocolMachineTest, StopExchangeSendsEscAndLaterBytesAreIgnored) {
    Reach(15);
    machine.StopExchange();
    EXPECT_EQ(outlets.TakeSent(), Bytes{wire::ESC});
    EXPECT_EQ(machine.State(), -1);
    Feed({'A', '1', 'x', wire::ACK, wire::ETX});
    EXPECT_THAT(outlets.sends, IsEmpty());
    EXPECT_THAT(outlets.records, IsEmpty());
}

// --- The whole exchange ---------------------------------------------------

TEST_F(ProtocolMachineTest, CompleteExchangeSendsTheProtocolsRepliesInOrder) {
    settings.c_CodeFldNum = 1;
    settings.c_CountFldNum = 3;
    machine.StartExchange();
    Feed(script.Bytes());

    Bytes expected = {wire::ENQ, 'U',       'T',       wire::ENQ, wire::STX, 'R',
                      'X',       wire::ETX, wire::ACK, wire::ENQ, wire::STX, 'C',
                      'U',       '0',       wire::ETX, wire::ENQ};
    expected.insert(expected.end(), 1 + 6, wire::ACK);  // the name frame and six fields
    EXPECT_EQ(outlets.TakeSent(), expected);
    EXPECT_EQ(machine.State(), 17);
    EXPECT_THAT(outlets.records, ElementsAre(TRecord{"A1", "5"}, TRecord{"B2", "7"}));
    EXPECT_THAT(outlets.log,
                ElementsAre(LogLine{1, "Записей: ", "2"}, LogLine{1, "Полей в записи: ", "3"},
                            LogLine{1, "Файл: ", "ABC"}, LogLine{1, "Запись: ", "A1; 5"},
                            LogLine{1, "Запись: ", "B2; 7"}));

    Feed({wire::ACK, 0x00, 'Q'});  // the transfer is done: ESC to every byte
    EXPECT_EQ(outlets.TakeSent(), (Bytes{wire::ESC, wire::ESC, wire::ESC}));
    EXPECT_EQ(machine.State(), 17);
}

// --- The header -------------------------------------------------------------

TEST_F(ProtocolMachineTest, DescriptorTwoStartsAtIndex34) {
    settings.c_FormNum = 2;
    Bytes header(51, '.');
    header[34] = 'P';
    std::copy_n("00125", 5, header.begin() + 42);
    std::copy_n("03", 2, header.begin() + 48);
    machine.StartExchange();
    outlets.sends.clear();
    FeedHeader(header);
    EXPECT_EQ(outlets.log, CountLines("125", "3"));
    EXPECT_EQ(outlets.sends.back(), Bytes{wire::ENQ});
    EXPECT_EQ(machine.State(), 9);
    machine.ProcessByte(wire::ACK);
    EXPECT_EQ(outlets.TakeSent(),
              (Bytes{'U', 'T', wire::ENQ, wire::STX, 'R', 'X', wire::ETX, wire::ACK, wire::ENQ,
                     wire::STX, 'C', 'U', '2', wire::ETX}));
}

TEST_F(ProtocolMachineTest, FirstEtxEndsTheHeaderWhereverItStands) {
    Reach(6);
    Feed({'A', 'B', wire::ETX});
    EXPECT_EQ(outlets.TakeSent(), (Bytes{wire::ACK, wire::ENQ}));
    EXPECT_EQ(machine.State(), 9);
}

TEST_F(ProtocolMachineTest, AbsentTableCountsZeroAndNeverEnds) {
    script.records = {{"A1", "5"}};
    Bytes header = script.HeaderData();
    header[0] = wire::kAbsentTable;
    machine.StartExchange();
    FeedHeader(header);
    EXPECT_EQ(outlets.log, CountLines("0", "0"));
    outlets.log.clear();

    // With no fields per record every acknowledged frame is a record by
    // itself; records received never equals 0, so state 17 never comes.
    FeedTransfer("F", {"A1", "5", "C3"});
    EXPECT_EQ(machine.State(), 14);
    EXPECT_THAT(outlets.records,
                ElementsAre(TRecord{"A1", ""}, TRecord{"5", ""}, TRecord{"C3", ""}));
}

// Digits are taken as byte minus "0", without a check.
TEST_F(ProtocolMachineTest, CountDigitsAreNotValidated) {
    script.records = {{"A1", "5"}};
    Bytes header = script.HeaderData();
    std::copy_n("0012:", 5, header.begin() + wire::kRecordCountOffset);
    std::copy_n("/2", 2, header.begin() + wire::kFieldCountOffset);
    machine.StartExchange();
    FeedHeader(header);
    EXPECT_EQ(outlets.log, CountLines("130", "-8"));
}

// Mended: a header longer than the buffer is read to its ETX without storing
// past the buffer; what was stored is still used.
TEST_F(ProtocolMachineTest, OverlongHeaderIsCutAtTheBuffer) {
    for (int table : {0, 59}) {
        SCOPED_TRACE(table);
        settings.c_FormNum = table;
        Bytes header(5000, '.');
        const auto d = testing::PresentDescriptor(42, 7);
        std::copy(d.begin(), d.end(), header.begin() + table * 17);
        machine.StartExchange();
        outlets.log.clear();
        FeedHeader(header);
        EXPECT_EQ(outlets.log, CountLines("42", "7"));
        EXPECT_EQ(machine.State(), 9);
    }
}

// Mended: a descriptor the current header did not cover, or a table number
// outside the buffer, counts as absent; nothing of an earlier header is reused.
TEST_F(ProtocolMachineTest, UncoveredDescriptorCountsAsAbsent) {
    struct Case {
        int32_t table;
        size_t headerBytes;  // data bytes before the ETX
    };
    const Case cases[] = {
        {2, 0},     {2, 34},    {2, 49},         {59, 1018},
        {60, 1028}, {-1, 1028}, {INT_MAX, 1028}, {INT_MIN, 1028},
    };
    // An earlier header filled the whole buffer with a present table everywhere.
    Bytes full(wire::kHeaderCapacity, '1');
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "table " << c.table << ", " << c.headerBytes);
        settings.c_FormNum = 2;
        machine.StartExchange();
        FeedHeader(full);
        ASSERT_EQ(outlets.log.back().payload, "11");  // stale bytes would give 11111 / 11

        settings.c_FormNum = c.table;
        machine.StartExchange();
        outlets.log.clear();
        FeedHeader(Bytes(c.headerBytes, '7'));
        EXPECT_EQ(outlets.log, CountLines("0", "0"));
        EXPECT_EQ(machine.State(), 9);
    }
}

TEST_F(ProtocolMachineTest, DescriptorCoveredUpToOffset15IsUsed) {
    settings.c_FormNum = 2;
    Bytes header(34 + 16, '.');
    std::copy_n("00009", 5, header.begin() + 42);
    std::copy_n("04", 2, header.begin() + 48);
    machine.StartExchange();
    FeedHeader(header);
    EXPECT_EQ(outlets.log, CountLines("9", "4"));
}

TEST_F(ProtocolMachineTest, TableDigitWrapsModulo256) {
    for (auto [table, digit] : {std::pair{8, '8'}, {60, 'l'}, {-48, '\0'}, {208, '\0'}}) {
        settings.c_FormNum = table;
        Reach(9);
        machine.ProcessByte(wire::ACK);
        EXPECT_EQ(outlets.sends.at(1), (Bytes{'C', 'U', static_cast<uint8_t>(digit)}));
    }
}

// --- Frames -----------------------------------------------------------------

TEST_F(ProtocolMachineTest, FileNameChecksumC6IsAcknowledgedC7IsNot) {
    Reach(11);
    Feed({3, 'A', 'B', 'C', 0xC7});
    EXPECT_THAT(outlets.sends, IsEmpty());
    EXPECT_THAT(outlets.log, IsEmpty());
    EXPECT_EQ(machine.State(), 13);
    Feed({0x00, 'C', 0xC6});  // each byte compared with the same sum
    EXPECT_EQ(outlets.TakeSent(), Bytes{wire::ACK});
    EXPECT_THAT(outlets.log, ElementsAre(LogLine{1, "Файл: ", "ABC"}));
    EXPECT_EQ(machine.State(), 14);
}

TEST_F(ProtocolMachineTest, FieldChecksumMismatchWaitsForTheRightSum) {
    Reach(14);
    Feed({2, 'A', '1', 0x00, 0x01, wire::ACK});
    EXPECT_THAT(outlets.sends, IsEmpty());
    EXPECT_EQ(machine.State(), 16);
    machine.ProcessByte('A' + '1');
    EXPECT_EQ(outlets.TakeSent(), Bytes{wire::ACK});
    EXPECT_EQ(machine.State(), 14);
}

TEST_F(ProtocolMachineTest, EotIsALengthInFrameStates) {
    Reach(11);
    Feed({EOT, 'N', 'A', 'M', 'E', static_cast<uint8_t>('N' + 'A' + 'M' + 'E')});
    EXPECT_THAT(outlets.log, ElementsAre(LogLine{1, "Файл: ", "NAME"}));
    Feed({EOT, '1', '2', '3', '4', static_cast<uint8_t>('1' + '2' + '3' + '4')});
    EXPECT_EQ(outlets.TakeSent(), (Bytes{wire::ACK, wire::ACK}));
    EXPECT_EQ(machine.State(), 14);
}

// Mended: a zero length is an empty frame whose checksum (0) follows at once.
TEST_F(ProtocolMachineTest, ZeroLengthFramesAreEmpty) {
    settings.c_CodeFldNum = 2;
    settings.c_CountFldNum = 3;
    Reach(11);
    Feed({0, 0});
    EXPECT_THAT(outlets.log, ElementsAre(LogLine{1, "Файл: ", ""}));
    Bytes fields;
    wire::AppendFrame(fields, "A1");
    wire::AppendFrame(fields, "");
    wire::AppendFrame(fields, "5");
    Feed(fields);
    EXPECT_THAT(outlets.records, ElementsAre(TRecord{"", "5"}));
    EXPECT_EQ(outlets.TakeSent(), Bytes(4, wire::ACK));
}

// --- Records ----------------------------------------------------------------

struct FieldCase {
    const char* name;
    int32_t codeField;
    int32_t countField;
    std::vector<TRecord> records;
};

class FieldSelectionTest : public ProtocolMachineTest,
                           public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldSelectionTest, PicksTheConfiguredFields) {
    settings.c_CodeFldNum = GetParam().codeField;
    settings.c_CountFldNum = GetParam().countField;
    machine.StartExchange();
    Feed(script.Bytes());
    EXPECT_EQ(outlets.records, GetParam().records);
    EXPECT_EQ(machine.State(), 17);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldSelectionTest,
    ::testing::Values(FieldCase{"FirstAndThird", 1, 3, {{"A1", "5"}, {"B2", "7"}}},
                      FieldCase{"Swapped", 3, 1, {{"5", "A1"}, {"7", "B2"}}},
                      FieldCase{"Equal", 2, 2, {{"x", "x"}, {"y", "y"}}},
                      FieldCase{"BarcodeZero", 0, 3, {{"", "5"}, {"", "7"}}},
                      FieldCase{"QuantityBeyondFields", 1, 4, {{"A1", ""}, {"B2", ""}}},
                      FieldCase{"Negative", -1, 3, {{"", "5"}, {"", "7"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolMachineTest, RecordsKeepEveryByteIncludingEqualsSigns) {
    const std::string barcode("A=B\0\xFF ", 6);
    script.records = {{barcode, " 12 "}};
    machine.StartExchange();
    Feed(script.Bytes());
    EXPECT_THAT(outlets.records, ElementsAre(TRecord{barcode, " 12 "}));
    EXPECT_EQ(outlets.log.back(), (LogLine{1, "Запись: ", barcode + ";  12 "}));
}

TEST_F(ProtocolMachineTest, ZeroRecordsEndAfterTheFirstAcknowledgedField) {
    Bytes header = script.HeaderData();
    std::copy_n("00000", 5, header.begin() + wire::kRecordCountOffset);
    machine.StartExchange();
    FeedHeader(header);
    FeedTransfer("F", {"A1"});
    EXPECT_EQ(machine.State(), 17);
    EXPECT_THAT(outlets.records, IsEmpty());
    outlets.sends.clear();
    Feed({2, 'B', '2'});
    EXPECT_EQ(outlets.TakeSent(), Bytes(3, wire::ESC));
}

TEST_F(ProtocolMachineTest, SettingsAreReadWhenNeeded) {
    settings.c_CodeFldNum = 1;
    settings.c_CountFldNum = 3;
    Reach(14);
    Bytes first;
    for (const char* f : {"A1", "x", "5"}) wire::AppendFrame(first, f);
    Feed(first);
    settings.c_CodeFldNum = 2;  // applies from the next byte on
    Bytes second;
    for (const char* f : {"B2", "y", "7"}) wire::AppendFrame(second, f);
    Feed(second);
    EXPECT_THAT(outlets.records, ElementsAre(TRecord{"A1", "5"}, TRecord{"y", "7"}));
}

// --- Restart, stop and failing replies -------------------------------------

TEST_F(ProtocolMachineTest, RestartDuringTransferStartsOver) {
    settings.c_CountFldNum = 3;
    Reach(14);
    Bytes frames;
    for (const char* f : {"A1", "x", "5", "B2"}) wire::AppendFrame(frames, f);
    Feed(frames);
    ASSERT_EQ(outlets.records.size(), 1u);
    outlets.sends.clear();

    machine.StartExchange();
    EXPECT_THAT(outlets.records, IsEmpty());
    EXPECT_EQ(outlets.TakeSent(), Bytes{wire::ENQ});
    EXPECT_EQ(machine.State(), 0);
    machine.ProcessByte(2);  // a length byte of the old transfer
    EXPECT_EQ(machine.State(), -1);
    EXPECT_THAT(outlets.sends, IsEmpty());

    machine.StartExchange();
    outlets.log.clear();
    Feed(script.Bytes());
    EXPECT_THAT(outlets.records, ElementsAre(TRecord{"A1", "5"}, TRecord{"B2", "7"}));
    for (const auto& line : outlets.log) EXPECT_EQ(line.exchange, 3u);
}

// A reply that cannot be queued leaves the state where it was; in the header
// handling that is state 7, where every byte is ignored.
TEST_F(ProtocolMachineTest, FailedReplyLeavesTheState) {
    const int32_t states[] = {0, 1, 2, 3, 9, 10, 13, 16};
    for (int32_t state : states) {
        SCOPED_TRACE(state);
        outlets.failSends = false;
        machine.StartExchange();
        const Bytes stream = script.Bytes();
        size_t i = 0;
        while (machine.State() != state) machine.ProcessByte(stream.at(i++));
        // The byte the state waits for is the next one of the script.
        outlets.failSends = true;
        EXPECT_THROW(machine.ProcessByte(stream.at(i)), std::runtime_error);
        EXPECT_EQ(machine.State(), state);
    }
    outlets.failSends = false;
    Reach(6);
    outlets.failSends = true;
    EXPECT_THROW(machine.ProcessByte(wire::ETX), std::runtime_error);
    EXPECT_EQ(machine.State(), 7);
    outlets.failSends = false;
    Feed({wire::ACK, wire::ETX, 3, 'A'});
    EXPECT_EQ(machine.State(), 7);
    EXPECT_THAT(outlets.sends, IsEmpty());
}

}  // namespace
}  // namespace pdt
