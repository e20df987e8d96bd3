// Growth of the host's result with the table: the same walk over 10,000 and
// over 99,999 records. Linear growth keeps the time per record the same at
// both sizes; run-benchmarks.sh reports the ratio.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "driver/result_builder.h"

namespace {

// Keeps what the Variant array keeps: a copy of every barcode and quantity.
class CopyingBuilder final : public pdt::ResultArrayBuilder {
  public:
    void Begin(size_t count) override { elements_.assign(count, {}); }
    void Element(size_t index, std::string_view barcode, int32_t quantity) override {
        elements_[index] = {std::string(barcode), quantity};
    }
    size_t Size() const { return elements_.size(); }

  private:
    std::vector<std::pair<std::string, int32_t>> elements_;
};

void BM_ResultGrowth(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<pdt::TRecord> records;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i)
        records.push_back({"460" + std::to_string(1000000000 + i), std::to_string(i % 1000)});
    for (auto _ : state) {
        CopyingBuilder builder;
        pdt::BuildResult(records, builder);
        benchmark::DoNotOptimize(builder.Size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ResultGrowth)->Arg(10000)->Arg(99999)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
