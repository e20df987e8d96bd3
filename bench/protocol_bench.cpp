// Throughput of the protocol machine: a whole exchange fed in memory, byte by
// byte, as the port's event thread feeds it.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "../tests/protocol/terminal_script.h"
#include "core/protocol/protocol_machine.h"

namespace {

using namespace pdt;

// Outlets that only count, so the figure is the machine's own cost.
class CountingOutlets : public ProtocolOutlets {
  public:
    size_t sent = 0;
    size_t records = 0;
    void SendByte(uint8_t) override { ++sent; }
    void SendBlock(const uint8_t*, uint16_t count) override { sent += count; }
    void Log(uint32_t, std::string_view, std::string_view) override {}
    void AppendRecord(std::string_view, std::string_view) override { ++records; }
    void ClearRecords() override { records = 0; }
};

std::vector<uint8_t> ExchangeBytes(int records) {
    testing::TerminalScript script;
    for (int i = 0; i < records; ++i) {
        script.records.push_back({"46" + std::to_string(10000000000 + i),
                                  "Product name " + std::to_string(i), std::to_string(i % 1000)});
    }
    return script.Bytes();
}

void BM_FullExchange(benchmark::State& state) {
    const std::vector<uint8_t> bytes = ExchangeBytes(static_cast<int>(state.range(0)));
    DriverSettings settings;
    settings.c_CountFldNum = 3;
    CountingOutlets outlets;
    ProtocolMachine machine(settings, outlets);
    for (auto _ : state) {
        machine.StartExchange();
        for (uint8_t b : bytes) machine.ProcessByte(b);
        benchmark::DoNotOptimize(outlets.records);
    }
    if (machine.State() != ProtocolMachine::kDone) state.SkipWithError("exchange did not finish");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_FullExchange)->Arg(10)->Arg(1000)->Arg(30000);

// The header alone: stored in the fixed buffer, nothing allocated per byte.
void BM_OverlongHeader(benchmark::State& state) {
    std::vector<uint8_t> bytes = {wire::ACK, wire::BEL, wire::ACK, wire::ACK, wire::ACK, wire::STX};
    bytes.insert(bytes.end(), 64 * 1024, '.');
    bytes.push_back(wire::ETX);
    DriverSettings settings;
    CountingOutlets outlets;
    ProtocolMachine machine(settings, outlets);
    for (auto _ : state) {
        machine.StartExchange();
        for (uint8_t b : bytes) machine.ProcessByte(b);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_OverlongHeader);

}  // namespace

BENCHMARK_MAIN();
