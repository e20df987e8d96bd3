#include "terminal_simulator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pdt::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Feeds the PC's bytes one by one and returns everything the terminal answered.
Bytes Feed(TerminalSimulator& terminal, const Bytes& pcBytes) {
    Bytes answered;
    for (uint8_t b : pcBytes) {
        const Bytes answer = terminal.OnPcByte(b);
        answered.insert(answered.end(), answer.begin(), answer.end());
    }
    return answered;
}

SimConfig TwoRecordsInTable2() {
    SimConfig config;
    config.table = 2;
    config.fileName = "ABC";
    config.records = {{"A1", "x", "5"}, {"B2", "y"}};  // the second is padded with an empty field
    return config;
}

std::string HeaderField(const Bytes& header, size_t at, size_t length) {
    return std::string(header.begin() + at, header.begin() + at + length);
}

TEST(TerminalSimulatorTest, WholeExchangeByteByByte) {
    TerminalSimulator terminal(TwoRecordsInTable2());
    const Bytes header = BuildHeader(terminal.Config());
    struct Step {
        Bytes pc;
        Bytes terminal;
    };
    const std::vector<Step> steps = {
        {B({kEnq}), B({kAck})},
        {Text("U"), B({kBel})},
        {Text("T"), B({kAck})},
        {B({kEnq}), B({kAck})},
        {Concat({B({kStx}), Text("RX"), B({kEtx})}), Concat({B({kAck, kStx}), header})},
        {B({kAck}), {}},
        {B({kEnq}), B({kAck})},
        {Concat({B({kStx}), Text("CU2"), B({kEtx})}), B({kAck})},
        {B({kEnq}), B({3, 'A', 'B', 'C', 0xC6})},
        {B({kAck}), B({2, 'A', '1', 0x72})},
        {B({kAck}), B({1, 'x', 0x78})},
        {B({kAck}), B({1, '5', 0x35})},
        {B({kAck}), B({2, 'B', '2', 0x74})},
        {B({kAck}), B({1, 'y', 0x79})},
        {B({kAck}), B({0, 0})},
        {B({kAck}), {}},  // after the last frame's ACK the terminal says nothing more
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(Feed(terminal, steps[i].pc), steps[i].terminal) << "step " << i;
    }
    EXPECT_TRUE(terminal.TransferDone());
    EXPECT_EQ(Feed(terminal, B({kEsc})), Bytes{});
    EXPECT_TRUE(terminal.SessionEnded());
    EXPECT_EQ(Feed(terminal, B({kEnq, 'U'})), Bytes{}) << "an ended session stays quiet";

    terminal.Reset();
    EXPECT_EQ(Feed(terminal, B({kEnq, 'U'})), B({kAck, kBel}));
}

TEST(TerminalSimulatorTest, HeaderLayout) {
    const Bytes header = BuildHeader(TwoRecordsInTable2());
    ASSERT_EQ(header.size(), kNaturalHeaderLength);
    EXPECT_EQ(header.back(), kEtx);
    for (size_t i = 0; i + 1 < header.size(); ++i) ASSERT_NE(header[i], kEtx) << "index " << i;
    for (int table = 0; table < kTableCount; ++table) {
        const size_t at = static_cast<size_t>(table) * kDescriptorSize;
        const bool served = table == 2;
        EXPECT_EQ(header[at], served ? 'A' : 0xFF) << "table " << table;
        EXPECT_EQ(HeaderField(header, at + 8, 5), served ? "00002" : "00000") << "table " << table;
        EXPECT_EQ(HeaderField(header, at + 14, 2), served ? "03" : "00") << "table " << table;
    }
}

TEST(TerminalSimulatorTest, HeaderLengthPadsOrCuts) {
    SimConfig config = TwoRecordsInTable2();
    for (size_t length :
         {size_t{1}, size_t{20}, size_t{154}, size_t{1028}, size_t{1029}, size_t{4000}}) {
        config.headerLength = length;
        const Bytes header = BuildHeader(config);
        ASSERT_EQ(header.size(), length);
        EXPECT_EQ(header.back(), kEtx);
        for (size_t i = 0; i + 1 < header.size(); ++i) ASSERT_NE(header[i], kEtx);
    }
    config.headerLength = 1100;
    const Bytes longHeader = BuildHeader(config);
    EXPECT_EQ(HeaderField(longHeader, 2 * 17 + 8, 5), "00002") << "descriptors stay in place";
}

TEST(TerminalSimulatorTest, FrameLayout) {
    EXPECT_EQ(Frame(""), B({0, 0}));
    EXPECT_EQ(Frame("ABC"), B({3, 'A', 'B', 'C', 0xC6}));
    const std::string full(255, '\xFF');
    const Bytes frame = Frame(full);
    ASSERT_EQ(frame.size(), 257u);
    EXPECT_EQ(frame.front(), 255);
    EXPECT_EQ(frame.back(), (255 * 255) % 256);
    EXPECT_THROW(Frame(std::string(256, 'a')), std::invalid_argument);
}

TEST(TerminalSimulatorTest, RefusesWhatTheHeaderCannotDescribe) {
    const std::vector<std::function<void(SimConfig&)>> bad = {
        [](SimConfig& c) { c.table = -1; },
        [](SimConfig& c) { c.table = 9; },
        [](SimConfig& c) { c.fileName = std::string(256, 'n'); },
        [](SimConfig& c) { c.records = {Record(100, "f")}; },
        [](SimConfig& c) {
            c.records = {{"ok"}, {std::string(256, 'f')}};
        },
        [](SimConfig& c) { c.records.assign(100000, {"1"}); },
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SimConfig config;
        bad[i](config);
        EXPECT_THROW(TerminalSimulator{config}, std::invalid_argument) << "case " << i;
    }
}

// Plays the PC's side up to and including the ENQ that brings the file-name
// frame; returns each step's answer.
std::vector<Answer> PlayHandshake(TerminalSimulator& terminal) {
    const std::vector<Bytes> pcSteps = {B({kEnq}),
                                        Text("U"),
                                        Text("T"),
                                        B({kEnq}),
                                        B({kStx, 'R', 'X', kEtx}),
                                        B({kAck, kEnq}),
                                        B({kStx, 'C', 'U', '0', kEtx}),
                                        B({kEnq})};
    std::vector<Answer> answers;
    for (const Bytes& step : pcSteps) {
        Answer merged;
        for (uint8_t b : step) {
            Answer one = terminal.Respond(b);
            merged.bursts.insert(merged.bursts.end(), one.bursts.begin(), one.bursts.end());
            merged.endsBlock = one.endsBlock;
            merged.hangUp = merged.hangUp || one.hangUp;
        }
        answers.push_back(merged);
    }
    return answers;
}

TEST(TerminalSimulatorTest, WrongHandshakeByteIsNakAtTheNamedStep) {
    const Bytes rightAnswers = B({kAck, kBel, kAck, kAck, kAck, kAck, kAck});
    for (int wrong = 0; wrong < kHandshakeAnswers; ++wrong) {
        SimConfig config;
        config.records = {{"1", "2"}};
        config.wrongHandshakeAt = wrong;
        TerminalSimulator terminal(config);
        const std::vector<Answer> answers = PlayHandshake(terminal);
        for (int step = 0; step < kHandshakeAnswers; ++step) {
            const uint8_t expected = step == wrong ? kNak : rightAnswers[step];
            ASSERT_FALSE(answers[step].Bytes().empty());
            EXPECT_EQ(answers[step].Bytes().front(), expected)
                << "fault " << wrong << " step " << step;
        }
    }
}

struct FrameFaultCase {
    const char* name;
    std::function<void(SimConfig&)> configure;
    size_t pcAcks;                // ACKs after the file-name frame before the checked answer
    std::vector<Burst> expected;  // the checked answer
    bool hangUp;
};

TEST(TerminalSimulatorTest, FrameFaults) {
    using std::chrono::milliseconds;
    const std::vector<FrameFaultCase> cases = {
        {"no fault", [](SimConfig&) {}, 1, {{{}, B({2, 'A', '1', 0x72})}}, false},
        {"bad checksum, right one later",
         [](SimConfig& c) {
             c.badChecksumFrame = 1;
             c.faultDelay = milliseconds(30);
         },
         1,
         {{{}, B({2, 'A', '1', 0x73})}, {milliseconds(30), B({0x72})}},
         false},
        {"bad checksum on the file name",
         [](SimConfig& c) { c.badChecksumFrame = 0; },
         0,
         {{{}, B({3, 'A', 'B', 'C', 0xC7})}, {milliseconds(100), B({0xC6})}},
         false},
        {"zero-length frame",
         [](SimConfig& c) { c.zeroLengthFrame = 1; },
         1,
         {{{}, B({0, 0})}},
         false},
        {"silence after the file name",
         [](SimConfig& c) { c.silenceAfterFrames = 1; },
         1,
         {},
         false},
        {"silence from the start", [](SimConfig& c) { c.silenceAfterFrames = 0; }, 0, {}, false},
        {"hang-up halfway through frame 1",
         [](SimConfig& c) { c.hangupAfterFrames = 1; },
         1,
         {{{}, B({2, 'A'})}},
         true},
    };
    for (const FrameFaultCase& test : cases) {
        SCOPED_TRACE(test.name);
        SimConfig config = TwoRecordsInTable2();
        config.table = 0;
        test.configure(config);
        TerminalSimulator terminal(config);
        Answer answer = PlayHandshake(terminal).back();  // the file-name frame
        for (size_t i = 0; i < test.pcAcks; ++i) answer = terminal.Respond(kAck);
        ASSERT_EQ(answer.bursts.size(), test.expected.size());
        for (size_t i = 0; i < test.expected.size(); ++i) {
            EXPECT_EQ(answer.bursts[i].delay, test.expected[i].delay) << "burst " << i;
            EXPECT_EQ(answer.bursts[i].bytes, test.expected[i].bytes) << "burst " << i;
        }
        EXPECT_EQ(answer.hangUp, test.hangUp);
        EXPECT_EQ(terminal.HungUp(), test.hangUp);
        if (!test.hangUp) {
            EXPECT_EQ(answer.endsBlock, !test.expected.empty());
        }
    }
}

TEST(TerminalSimulatorTest, SilentTerminalStillEndsOnEsc) {
    SimConfig config = TwoRecordsInTable2();
    config.table = 0;
    config.silenceAfterFrames = 0;
    TerminalSimulator terminal(config);
    PlayHandshake(terminal);
    EXPECT_EQ(Feed(terminal, B({kAck, kEnq, 'U'})), Bytes{});
    Feed(terminal, B({kEsc}));
    EXPECT_TRUE(terminal.SessionEnded());
}

TEST(TerminalSimulatorTest, OverlongHeaderIsSentWhole) {
    SimConfig config = TwoRecordsInTable2();
    config.headerLength = 1100;
    TerminalSimulator terminal(config);
    const Bytes answer =
        Feed(terminal, Concat({B({kEnq}), Text("UT"), B({kEnq, kStx}), Text("RX"), B({kEtx})}));
    // ACK BEL ACK ACK, then ACK STX and the 1100 header bytes.
    ASSERT_EQ(answer.size(), 4u + 2u + 1100u);
    EXPECT_EQ(answer.back(), kEtx);
}

TEST(TerminalSimulatorTest, EnqWhereNoneIsAwaitedStartsOver) {
    TerminalSimulator terminal(TwoRecordsInTable2());
    Feed(terminal, Concat({B({kEnq}), Text("UT"), B({kEnq, kStx}), Text("RX"),
                           B({kEtx, kAck, kEnq, kStx}), Text("CU2"), B({kEtx, kEnq, kAck})}));
    // Mid-transfer the PC's request button sends ENQ again.
    EXPECT_EQ(Feed(terminal, B({kEnq})), B({kAck}));
    EXPECT_EQ(Feed(terminal, Text("U")), B({kBel}));
}

TEST(TerminalSimulatorTest, RestartWhereAnEnqWasDueFollowsTheGreeting) {
    TerminalSimulator terminal(TwoRecordsInTable2());
    Feed(terminal, Concat({B({kEnq}), Text("UT")}));
    // The PC restarts just when the terminal awaits the ENQ before "RX".
    EXPECT_EQ(Feed(terminal, B({kEnq})), B({kAck}));
    EXPECT_EQ(Feed(terminal, Text("U")), B({kBel}));
    EXPECT_EQ(Feed(terminal, Text("T")), B({kAck}));
    EXPECT_EQ(Feed(terminal, B({kEnq, kStx, 'R', 'X', kEtx})).size(), 3u + kNaturalHeaderLength);
}

TEST(TerminalSimulatorTest, StrayBytesAreIgnoredWhileWaiting) {
    TerminalSimulator terminal(TwoRecordsInTable2());
    EXPECT_EQ(Feed(terminal, B({'x', kAck, kEnq})), B({kAck}));
    EXPECT_EQ(Feed(terminal, B({'T', 0x00, 'U'})), B({kBel}));
    EXPECT_EQ(Feed(terminal, B({'U', 'T'})), B({kAck}));
}

TEST(TerminalSimulatorTest, TableRequestForAnotherTableGetsNak) {
    TerminalSimulator terminal(TwoRecordsInTable2());
    Feed(terminal,
         Concat({B({kEnq}), Text("UT"), B({kEnq, kStx}), Text("RX"), B({kEtx, kAck, kEnq})}));
    EXPECT_EQ(Feed(terminal, Concat({B({kStx}), Text("CU0"), B({kEtx})})), B({kNak}));
    EXPECT_EQ(Feed(terminal, Concat({B({kStx}), Text("XX"), B({kEtx})})), B({kNak}));
    EXPECT_EQ(Feed(terminal, Concat({B({kStx}), Text("CU2"), B({kEtx})})), B({kAck}));
    EXPECT_EQ(Feed(terminal, B({kEnq})), B({3, 'A', 'B', 'C', 0xC6}));
}

TEST(TerminalSimulatorTest, NoRecordsStillSendsTheFileName) {
    SimConfig config;
    config.fileName = "EMPTY";
    TerminalSimulator terminal(config);
    const Answer name = PlayHandshake(terminal).back();
    EXPECT_EQ(name.Bytes(), Frame("EMPTY"));
    EXPECT_EQ(terminal.OnPcByte(kAck), Bytes{});
    EXPECT_TRUE(terminal.TransferDone());
    const Bytes header = BuildHeader(config);
    EXPECT_EQ(header[0], 'A');
    EXPECT_EQ(HeaderField(header, 8, 5), "00000");
    EXPECT_EQ(HeaderField(header, 14, 2), "00");
}

}  // namespace
}  // namespace pdt::sim
