// Building the host's result from a full terminal table: 99,999 records (the
// most a terminal table holds), each quantity converted and handed to an array
// builder. The Windows builder adds one safe array and one string per record,
// so the walk itself must stay linear, far below 100 ms for the whole table.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "driver/result_builder.h"

namespace {

// Keeps what a Variant array would keep: a copy of every barcode and quantity.
class VectorBuilder final : public pdt::ResultArrayBuilder {
  public:
    void Begin(size_t count) override { elements_.assign(count, {}); }
    void Element(size_t index, std::string_view barcode, int32_t quantity) override {
        elements_[index] = {std::string(barcode), quantity};
    }
    size_t Size() const { return elements_.size(); }

  private:
    std::vector<std::pair<std::string, int32_t>> elements_;
};

std::vector<pdt::TRecord> Records(size_t count, bool duplicateBarcodes) {
    std::vector<pdt::TRecord> records;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        // Duplicates: the lookup by barcode that each element once did was
        // quadratic here.
        const size_t code = duplicateBarcodes ? i % 10 : i;
        records.push_back({"460" + std::to_string(1000000000 + code), std::to_string(i % 1000)});
    }
    return records;
}

void BM_BuildResult(benchmark::State& state) {
    const auto records = Records(static_cast<size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        VectorBuilder builder;
        pdt::BuildResult(records, builder);
        benchmark::DoNotOptimize(builder.Size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildResult)
    ->ArgsProduct({{1000, 99999}, {0, 1}})
    ->ArgNames({"records", "duplicates"})
    ->Unit(benchmark::kMillisecond);

void BM_ParseQuantity(benchmark::State& state) {
    const std::vector<std::string> texts = {"5", "  12", "-2147483648", "2147483647", "00042"};
    for (auto _ : state)
        for (const std::string& text : texts) benchmark::DoNotOptimize(pdt::ParseQuantity(text));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size()));
}
BENCHMARK(BM_ParseQuantity);

}  // namespace

BENCHMARK_MAIN();
