// How long TComPort::Close takes in the two hard cases: a write pending on a
// stalled line, and the event thread busy inside DataReceived answering the
// terminal. The goal is under 200 ms for both.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "serial/com_port.h"
#include "serial/line_memory.h"

namespace {

using namespace std::chrono_literals;
using pdt::LineParams;
using pdt::TComPort;
using pdt::serial::MemoryWire;

constexpr LineParams kParams{9600, 8, 1, 0};

// Answers every byte inside DataReceived and signals that it is busy.
class AnsweringPort : public TComPort {
  public:
    AnsweringPort(std::shared_ptr<MemoryWire> wire, pdt::serial::SyncEvent& busy)
        : TComPort(pdt::serial::MemoryLineFactory(std::move(wire)), 1, kParams, DeferOpen{}),
          busy_(busy) {
        Open();
    }
    ~AnsweringPort() override { Close(); }

  protected:
    void DataReceived(int32_t count) override {
        for (int32_t i = 0; i < count; ++i) PutChar(GetChar());
        busy_.Set();
        std::this_thread::sleep_for(20ms);  // still at work when Close begins
    }

  private:
    pdt::serial::SyncEvent& busy_;
};

double SecondsOf(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CloseWithStalledWrite(benchmark::State& state) {
    for (auto _ : state) {
        auto wire = std::make_shared<MemoryWire>();
        TComPort port(pdt::serial::MemoryLineFactory(wire), 1, kParams);
        wire->StallWrites(true);
        const uint8_t bytes[64] = {};
        port.PutBlock(bytes, sizeof bytes);
        wire->WaitForStalledWrite(5s);
        const auto start = std::chrono::steady_clock::now();
        port.Close();
        state.SetIterationTime(SecondsOf(start));
    }
}
BENCHMARK(BM_CloseWithStalledWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_CloseInsideDataReceived(benchmark::State& state) {
    for (auto _ : state) {
        auto wire = std::make_shared<MemoryWire>();
        pdt::serial::SyncEvent busy(true);
        AnsweringPort port(wire, busy);
        wire->Feed("\x06");
        busy.WaitFor(5s);
        const auto start = std::chrono::steady_clock::now();
        port.Close();
        state.SetIterationTime(SecondsOf(start));
    }
}
BENCHMARK(BM_CloseInsideDataReceived)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Bytes per second through the port: fed in, taken in DataReceived, echoed.
void BM_EchoThroughput(benchmark::State& state) {
    auto wire = std::make_shared<MemoryWire>();
    class EchoPort : public TComPort {
      public:
        explicit EchoPort(std::shared_ptr<MemoryWire> w)
            : TComPort(pdt::serial::MemoryLineFactory(std::move(w)), 1, kParams, DeferOpen{}) {
            Open();
        }
        ~EchoPort() override { Close(); }

      protected:
        void DataReceived(int32_t count) override {
            uint8_t bytes[TComPort::kReceiveRingSize];
            for (int32_t i = 0; i < count; ++i) bytes[i] = GetChar();
            PutBlock(bytes, static_cast<uint16_t>(count));
        }
    } port(wire);
    const std::vector<uint8_t> chunk(1024, 0x55);
    size_t total = 0;
    for (auto _ : state) {
        wire->Feed(chunk);
        total += chunk.size();
        wire->WaitForWritten(total, 5s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}
BENCHMARK(BM_EchoThroughput);

}  // namespace

BENCHMARK_MAIN();
