// TComPort over the in-memory line: rings, parameters, errors and threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include "cpu_time.h"
#include "serial/serial_errors.h"
#include "test_port.h"

namespace pdt {
namespace {

using namespace std::chrono_literals;
using serial::LineState;
using serial::MemoryWire;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::TestPort;

constexpr uint16_t kPort = 3;
constexpr auto kGenerous = 5s;

std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

// True once the writer has taken everything out of the transmit ring.
bool WaitUntilDrained(TComPort& port) {
    serial::LineStatus status;
    for (auto end = std::chrono::steady_clock::now() + kGenerous;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(1ms)) {
        port.GetStatus(status);
        if (status.cbOutQue == 0) return true;
    }
    return false;
}

// Keeps what DataReceived took, in order.
struct Collected {
    std::mutex mutex;
    std::vector<uint8_t> bytes;

    TestPort::Handler TakeAll() {
        return [this](TestPort& port, int32_t count) {
            auto taken = port.Take(count);
            std::lock_guard guard(mutex);
            bytes.insert(bytes.end(), taken.begin(), taken.end());
        };
    }
    std::vector<uint8_t> Get() {
        std::lock_guard guard(mutex);
        return bytes;
    }
};

class ComPortTest : public ::testing::Test {
  protected:
    std::shared_ptr<MemoryWire> wire = std::make_shared<MemoryWire>();
    LineParams params{9600, 8, 1, 0};

    // Moves the receive ring's indices to `position` by reading that many bytes.
    void Advance(TestPort& port, size_t position) {
        const size_t before = port.Calls().size();
        wire->Feed(Pattern(position, 99));
        ASSERT_TRUE(port.WaitForCalls(before + 1));
    }
};

// ---- receive ring ---------------------------------------------------------------

TEST_F(ComPortTest, BurstAcrossTheRingEndArrivesInOneCall) {
    Collected got;
    TestPort port(wire, kPort, params, got.TakeAll());
    Advance(port, 8000);
    const auto burst = Pattern(500, 1);
    wire->Feed(burst);
    ASSERT_TRUE(port.WaitForCalls(2));
    EXPECT_THAT(port.Calls(), ElementsAre(8000, 500));
    auto all = got.Get();
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + 8000, all.end()), burst);
}

TEST_F(ComPortTest, ShortFirstReadLeavesTheRestForTheNextEvent) {
    Collected got;
    TestPort port(wire, kPort, params, got.TakeAll());
    Advance(port, 8000);
    wire->LimitReads(100);  // the first piece (192 bytes up to the end) comes back short
    const auto burst = Pattern(500, 2);
    wire->Feed(burst);
    ASSERT_TRUE(port.WaitForCalls(2));
    EXPECT_EQ(port.Calls()[1], 100);
    EXPECT_EQ(wire->Waiting(), 400u);
    wire->LimitReads(0);
    wire->RaiseEvents(serial::kEvRxChar);
    ASSERT_TRUE(port.WaitForCalls(3));
    auto all = got.Get();
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + 8000, all.end()), burst);
}

TEST_F(ComPortTest, BurstThatFillsTheRingExactlyMarksItFull) {
    for (size_t start : {size_t{0}, size_t{5000}}) {
        SCOPED_TRACE(start);
        auto localWire = std::make_shared<MemoryWire>();
        bool consume = true;
        TestPort port(localWire, kPort, params, [&](TestPort& p, int32_t count) {
            if (consume) p.Take(count);
        });
        if (start != 0) {
            localWire->Feed(Pattern(start));
            ASSERT_TRUE(port.WaitForCalls(1));
        }
        consume = false;
        const auto burst = Pattern(TComPort::kReceiveRingSize, 3);
        localWire->Feed(burst);
        ASSERT_TRUE(port.WaitForCalls(start != 0 ? 2 : 1));
        EXPECT_EQ(port.Calls().back(), TComPort::kReceiveRingSize);
        uint8_t value = 0;
        port.PeekChar(value, TComPort::kReceiveRingSize);
        EXPECT_EQ(value, burst.back());
        EXPECT_THROW(port.PeekChar(value, TComPort::kReceiveRingSize + 1), EBufferIsEmpty);

        // GetChar on the full ring returns the oldest byte and clears the flag.
        EXPECT_EQ(port.GetChar(), burst.front());
        EXPECT_THROW(port.PeekChar(value, TComPort::kReceiveRingSize), EBufferIsEmpty);
        port.PeekChar(value, TComPort::kReceiveRingSize - 1);
        EXPECT_EQ(value, burst.back());
    }
}

TEST_F(ComPortTest, FullRingReadsNothingUntilThereIsRoom) {
    TestPort port(wire, kPort, params);  // takes nothing
    wire->Feed(Pattern(TComPort::kReceiveRingSize));
    ASSERT_TRUE(port.WaitForCalls(1));

    const size_t waits = wire->WaitCount();
    wire->Feed(Pattern(10, 50));
    // The event is handled (the thread waits again) without a read or a call.
    for (auto end = std::chrono::steady_clock::now() + kGenerous;
         wire->WaitCount() <= waits && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(port.Calls().size(), 1u);
    EXPECT_EQ(wire->Waiting(), 10u);

    port.GetChar();  // one byte of room
    wire->Feed(Pattern(1, 60));
    ASSERT_TRUE(port.WaitForCalls(2));
    EXPECT_EQ(port.Calls()[1], 1);
    EXPECT_TRUE(port.MoreWaiting());
    EXPECT_EQ(wire->Waiting(), 10u);
}

TEST_F(ComPortTest, CharacterEventWhoseReadsReturnNothingReportsZero) {
    TestPort port(wire, kPort, params);
    wire->StarveReads(true);
    wire->Feed(Pattern(5));
    ASSERT_TRUE(port.WaitForCalls(1));
    EXPECT_THAT(port.Calls(), ElementsAre(0));
}

TEST_F(ComPortTest, GetCharOnAnEmptyRingRaisesAndChangesNothing) {
    Collected got;
    TestPort port(wire, kPort, params);
    EXPECT_THROW(port.GetChar(), EBufferIsEmpty);
    wire->Feed(std::vector<uint8_t>{0x41});
    ASSERT_TRUE(port.WaitForCalls(1));
    EXPECT_EQ(port.GetChar(), 0x41);
    try {
        port.GetChar();
        FAIL() << "no exception";
    } catch (const EBufferIsEmpty& error) {
        EXPECT_STREQ(error.what(), "Buffer is empty for port COM3");
    }
}

TEST_F(ComPortTest, LineErrorsAreGatheredOnBreakAndErrorEvents) {
    TestPort port(wire, kPort, params);
    wire->AddLineErrors(0x10 | 0x08 | 0x100);  // break, frame, and a bit that is not gathered
    wire->RaiseEvents(serial::kEvErr);
    for (auto end = std::chrono::steady_clock::now() + kGenerous;
         port.LineErrors() == 0 && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(port.LineErrors(), 0x18u);
}

// ---- transmit ring ----------------------------------------------------------------

TEST_F(ComPortTest, FullTransmitRingRefusesMoreUntilAPieceIsSent) {
    TestPort port(wire, kPort, params);
    wire->StallWrites(true);
    const auto block = Pattern(TComPort::kQueueSize);
    port.PutBlock(block.data(), TComPort::kQueueSize);
    serial::LineStatus status;
    port.GetStatus(status);
    EXPECT_EQ(status.cbOutQue, TComPort::kQueueSize);
    try {
        port.PutChar(1);
        FAIL() << "no exception";
    } catch (const EOutputBufferTooSmall& error) {
        EXPECT_STREQ(error.what(), "Buffer too small for port COM3");
    }

    wire->StallWrites(false);
    ASSERT_TRUE(WaitUntilDrained(port));
    EXPECT_EQ(wire->Written(), block);
    port.PutChar(1);
    ASSERT_TRUE(wire->WaitForWritten(TComPort::kQueueSize + 1, kGenerous));
}

TEST_F(ComPortTest, BlocksAtTheRingEndGoOutTailFirst) {
    TestPort port(wire, kPort, params);
    const auto first = Pattern(4000, 1);
    port.PutBlock(first.data(), 4000);
    ASSERT_TRUE(WaitUntilDrained(port));

    // Ends exactly at the ring's end: one write, and the next block starts at 0.
    const auto exact = Pattern(96, 2);
    port.PutBlock(exact.data(), 96);
    ASSERT_TRUE(WaitUntilDrained(port));

    port.PutBlock(first.data(), 4000);  // from 0 to 4000
    ASSERT_TRUE(WaitUntilDrained(port));
    wire->StallWrites(true);
    const auto wrapping = Pattern(200, 3);
    port.PutBlock(wrapping.data(), 200);  // 96 bytes to the end, 104 from 0
    ASSERT_TRUE(wire->WaitForStalledWrite(kGenerous));
    wire->StallWrites(false);
    ASSERT_TRUE(wire->WaitForWritten(8296, kGenerous));

    EXPECT_THAT(wire->WriteSizes(), ElementsAre(4000, 96, 4000, 96, 104));
    auto written = wire->Written();
    EXPECT_EQ(std::vector<uint8_t>(written.end() - 200, written.end()), wrapping);
}

TEST_F(ComPortTest, PutBlockOfNothingDoesNothing) {
    TestPort port(wire, kPort, params);
    port.PutBlock(nullptr, 0);
    serial::LineStatus status;
    port.GetStatus(status);
    EXPECT_EQ(status.cbOutQue, 0u);
}

// ---- open, parameters, errors --------------------------------------------------

TEST_F(ComPortTest, PortZeroOpensNothingAndSettersOnlyStore) {
    TComPort port(serial::MemoryLineFactory(wire), 0);
    EXPECT_FALSE(wire->IsOpen());
    port.SetBaud(19200);
    port.SetStopBits(2);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.StopBits(), 2);
    EXPECT_TRUE(wire->StatesSet().empty());
    uint8_t byte = 1;
    for (auto call : std::initializer_list<std::function<void()>>{
             [&] { port.GetChar(); }, [&] { port.PutChar(1); }, [&] { port.PutBlock(&byte, 1); }}) {
        try {
            call();
            FAIL() << "no exception";
        } catch (const EPortNotOpen& error) {
            EXPECT_STREQ(error.what(), "Port COM0 not open");
        }
    }
}

TEST_F(ComPortTest, OpenProgramsTheLineAndHoldsRtsOn) {
    wire->SetInitialState({1200, 0xFFFF2011, 7, 2, serial::kTwoStopBits});
    TComPort port(serial::MemoryLineFactory(wire), kPort, {19200, 8, 1, 1});
    EXPECT_EQ(wire->OpenedPort(), kPort);
    const LineState state = wire->StatesSet().front();
    EXPECT_EQ(state.BaudRate, 19200u);
    EXPECT_EQ(state.ByteSize, 8);
    EXPECT_EQ(state.Parity, 1);
    EXPECT_EQ(state.StopBits, serial::kOneStopBit);
    EXPECT_EQ(state.Flags, 0x1011u);  // RTS enabled, bits 16-31 cleared, the rest kept
    EXPECT_EQ(wire->EventMask(), serial::kEventMask);
    EXPECT_EQ(wire->PriorityRaises(), 2u);
}

struct SetterCase {
    const char* name;
    std::function<void(TComPort&)> call;
    LineState expected;  // from the state {9600, flags, 8, 0, one stop bit}
    std::function<bool(const TComPort&)> fieldCheck;
};

TEST_F(ComPortTest, SettersKeepWhatTheirSentinelsLeaveAndClampStopBits) {
    const SetterCase cases[] = {
        {"stop bits 0 -> one",
         [](TComPort& p) { p.SetStopBits(0); },
         {9600, 0x1001, 8, 0, serial::kOneStopBit},
         [](auto& p) { return p.StopBits() == 0; }},
        {"stop bits 2 -> two",
         [](TComPort& p) { p.SetStopBits(2); },
         {9600, 0x1001, 8, 0, serial::kTwoStopBits},
         [](auto& p) { return p.StopBits() == 2; }},
        {"stop bits 4 -> two",
         [](TComPort& p) { p.SetStopBits(4); },
         {9600, 0x1001, 8, 0, serial::kTwoStopBits},
         [](auto& p) { return p.StopBits() == 4; }},
        {"parity 5 keeps parity",
         [](TComPort& p) { p.SetParity(5); },
         {9600, 0x1001, 8, 0, serial::kOneStopBit},
         [](auto& p) { return p.Parity() == 5; }},
        {"parity 4 (space)",
         [](TComPort& p) { p.SetParity(4); },
         {9600, 0x1001, 8, 4, serial::kOneStopBit},
         [](auto& p) { return p.Parity() == 4; }},
        {"data bits 9 keeps the size",
         [](TComPort& p) { p.SetDataBits(9); },
         {9600, 0x1001, 8, 0, serial::kOneStopBit},
         [](auto& p) { return p.DataBits() == 9; }},
        {"data bits 7",
         [](TComPort& p) { p.SetDataBits(7); },
         {9600, 0x1001, 7, 0, serial::kOneStopBit},
         [](auto& p) { return p.DataBits() == 7; }},
        {"baud 0 keeps the rate",
         [](TComPort& p) { p.SetBaud(0); },
         {9600, 0x1001, 8, 0, serial::kOneStopBit},
         [](auto& p) { return p.Baud() == 0; }},
        {"baud 38400",
         [](TComPort& p) { p.SetBaud(38400); },
         {38400, 0x1001, 8, 0, serial::kOneStopBit},
         [](auto& p) { return p.Baud() == 38400; }},
    };
    for (const SetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto localWire = std::make_shared<MemoryWire>();
        TComPort port(serial::MemoryLineFactory(localWire), kPort, params);
        // The driver reports RTS off; every setter turns it on again.
        localWire->SetInitialState({9600, 0x0001, 8, 0, serial::kOneStopBit});
        c.call(port);
        const LineState state = localWire->StatesSet().back();
        EXPECT_EQ(state.BaudRate, c.expected.BaudRate);
        EXPECT_EQ(state.Flags, c.expected.Flags);
        EXPECT_EQ(state.ByteSize, c.expected.ByteSize);
        EXPECT_EQ(state.Parity, c.expected.Parity);
        EXPECT_EQ(state.StopBits, c.expected.StopBits);
        EXPECT_TRUE(c.fieldCheck(port));
    }
}

TEST_F(ComPortTest, DefaultParametersOpenAtTheRefusedRateAndFail) {
    wire->RefuseBaud(5760);
    try {
        TComPort port(serial::MemoryLineFactory(wire), kPort);  // the defaults: 5760 baud
        FAIL() << "no exception";
    } catch (const ENotSupported& error) {
        EXPECT_STREQ(error.what(), "Parameter not supported for COM3");
    }
    EXPECT_FALSE(wire->IsOpen());

    // The configured parameters applied at open never meet the refused rate.
    TComPort port(serial::MemoryLineFactory(wire), kPort, params);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(wire->StatesSet().back().BaudRate, 9600u);
}

TEST_F(ComPortTest, RefusedSetterKeepsTheFieldAndThePortOpen) {
    TComPort port(serial::MemoryLineFactory(wire), kPort, params);
    wire->RefuseBaud(5760);
    EXPECT_THROW(port.SetBaud(5760), ENotSupported);
    EXPECT_EQ(port.Baud(), 5760);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.LastLineState().BaudRate, 5760u);
}

TEST_F(ComPortTest, FailedOpenLeavesThePortFreeForTheNextAttempt) {
    struct Case {
        const char* message;
        std::function<void(MemoryWire&, bool)> fault;
    };
    const Case cases[] = {
        {"Can't open COM3", [](MemoryWire& w, bool on) { w.FailOpen(on); }},
        {"Setup parameter not supported for COM3",
         [](MemoryWire& w, bool on) { w.FailSetupQueues(on); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        c.fault(*wire, true);
        try {
            TComPort port(serial::MemoryLineFactory(wire), kPort, params);
            FAIL() << "no exception";
        } catch (const ESerialIO& error) {
            EXPECT_STREQ(error.what(), c.message);
            EXPECT_EQ(error.Port(), kPort);
        }
        EXPECT_FALSE(wire->IsOpen());
        c.fault(*wire, false);
        TComPort port(serial::MemoryLineFactory(wire), kPort, params);
        EXPECT_TRUE(wire->IsOpen());
    }
}

TEST_F(ComPortTest, SecondOpenOfTheSamePortFails) {
    TComPort first(serial::MemoryLineFactory(wire), kPort, params);
    EXPECT_THROW(TComPort(serial::MemoryLineFactory(wire), kPort, params), EOpenPortFail);
}

TEST_F(ComPortTest, RefusedExtraEventBitFallsBackAndDataStillFlows) {
    wire->RefuseExtraEventBit(true);
    Collected got;
    TestPort port(wire, kPort, params, got.TakeAll());
    wire->Feed("abc");
    ASSERT_TRUE(port.WaitForCalls(1));
    EXPECT_EQ(wire->EventMask(), serial::kEventMaskFallback);
    EXPECT_EQ(got.Get(), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

// ---- threads -------------------------------------------------------------------------

TEST_F(ComPortTest, CloseReturnsWithAWritePendingOnAStalledLine) {
    TestPort port(wire, kPort, params);
    wire->StallWrites(true);
    port.PutBlock(Pattern(100).data(), 100);
    ASSERT_TRUE(wire->WaitForStalledWrite(kGenerous));
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(wire->IsOpen());
}

TEST_F(ComPortTest, CloseReturnsWhileTheEventThreadIsInsideDataReceived) {
    serial::SyncEvent entered(true);
    std::atomic<bool> replied{false};
    TestPort port(wire, kPort, params, [&](TestPort& p, int32_t count) {
        p.Take(count);
        entered.Set();
        std::this_thread::sleep_for(100ms);  // still busy when Close starts
        p.PutChar(0x06);                     // and answering needs the port's lock
        replied = true;
    });
    wire->Feed("x");
    ASSERT_TRUE(entered.WaitFor(kGenerous));
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(replied);
    EXPECT_TRUE(port.Failures().empty());
}

TEST_F(ComPortTest, OutputQueuedJustBeforeCloseStillLeaves) {
    TestPort port(wire, kPort, params);
    port.PutChar(0x1B);
    port.Close();
    EXPECT_EQ(wire->Written(), std::vector<uint8_t>{0x1B});
}

TEST_F(ComPortTest, LostDeviceEndsReceptionOnceWithoutSpinning) {
    struct Case {
        const char* name;
        std::function<void(MemoryWire&)> loseIt;
        size_t maxWaits;
    };
    const Case cases[] = {
        {"vanished", [](MemoryWire& w) { w.Vanish(); }, 2},
        {"waits fail with a loss",
         [](MemoryWire& w) { w.FailWaits(serial::WaitOutcome::kDeviceLost); }, 2},
        {"waits keep failing", [](MemoryWire& w) { w.FailWaits(serial::WaitOutcome::kFailed); },
         25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto localWire = std::make_shared<MemoryWire>();
        TestPort port(localWire, kPort, params);
        c.loseIt(*localWire);
        ASSERT_TRUE(port.WaitForFailures(1));
        EXPECT_TRUE(port.DeviceLost());

        const auto cpuBefore = testing::ProcessCpuTime();
        std::this_thread::sleep_for(1s);
        const auto cpuUsed = testing::ProcessCpuTime() - cpuBefore;
        EXPECT_LT(cpuUsed, 200ms);
        EXPECT_LE(localWire->WaitCount(), c.maxWaits);
        ASSERT_EQ(port.Failures().size(), 1u);
        EXPECT_THAT(port.Failures()[0], HasSubstr("COM3"));
        EXPECT_THAT(port.Failures()[0], HasSubstr("memory line failure"));
        port.Close();
        EXPECT_FALSE(localWire->IsOpen());
    }
}

TEST_F(ComPortTest, AnAbortWeDidNotCauseIsRetried) {
    Collected got;
    TestPort port(wire, kPort, params, got.TakeAll());
    wire->FailWaits(serial::WaitOutcome::kAborted);
    while (wire->WaitCount() < 3) std::this_thread::sleep_for(1ms);
    wire->FailWaits(std::nullopt);
    wire->Feed("ok");
    ASSERT_TRUE(port.WaitForCalls(1));
    EXPECT_FALSE(port.DeviceLost());
    EXPECT_EQ(got.Get(), (std::vector<uint8_t>{'o', 'k'}));
}

TEST_F(ComPortTest, ExceptionFromDataReceivedIsLoggedAndReceptionGoesOn) {
    std::atomic<int> calls{0};
    TestPort port(wire, kPort, params, [&](TestPort& p, int32_t count) {
        p.Take(count);
        if (++calls == 1) throw EOutputBufferTooSmall(kPort);
    });
    wire->Feed("a");
    ASSERT_TRUE(port.WaitForFailures(1));
    EXPECT_THAT(port.Failures()[0], HasSubstr("Buffer too small for port COM3"));
    wire->Feed("b");
    ASSERT_TRUE(port.WaitForCalls(1));  // the first call ended in the exception
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(port.DeviceLost());
}

// The echo of a burst, answered from inside DataReceived, while the owner's
// thread queues bytes of its own: traffic both ways for ThreadSanitizer.
TEST_F(ComPortTest, BurstIsAnsweredFromInsideDataReceived) {
    TestPort port(wire, kPort, params, [](TestPort& p, int32_t count) {
        auto bytes = p.Take(count);
        for (size_t at = 0; at < bytes.size(); at += 512) {
            const auto piece = static_cast<uint16_t>(std::min<size_t>(512, bytes.size() - at));
            p.PutBlock(bytes.data() + at, piece);
        }
    });
    const auto burst = Pattern(3000);
    std::thread feeder([&] {
        for (size_t at = 0; at < burst.size(); at += 300) {
            wire->Feed(std::vector<uint8_t>(burst.begin() + at, burst.begin() + at + 300));
            std::this_thread::sleep_for(1ms);
        }
    });
    size_t ownBytes = 0;
    for (int i = 0; i < 200; ++i, ++ownBytes) {
        try {
            port.PutChar(0xEE);
        } catch (const EOutputBufferTooSmall&) {
            --ownBytes;
        }
    }
    feeder.join();
    ASSERT_TRUE(wire->WaitForWritten(burst.size() + ownBytes, kGenerous));
    std::vector<uint8_t> echoed;
    for (uint8_t b : wire->Written()) {
        if (b != 0xEE) echoed.push_back(b);
    }
    std::vector<uint8_t> expected;
    for (uint8_t b : burst) {
        if (b != 0xEE) expected.push_back(b);
    }
    EXPECT_EQ(echoed, expected);
}

}  // namespace
}  // namespace pdt
