#include "latency_stats.h"

#include <algorithm>

namespace pdt::sim {

LatencySummary Summarize(std::vector<std::chrono::microseconds> samples) {
    LatencySummary summary;
    summary.count = samples.size();
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    summary.min = samples.front();
    summary.max = samples.back();
    summary.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    const size_t rank = (99 * n + 99) / 100;  // ceil(0.99 n), at least 1
    summary.p99 = samples[rank - 1];
    return summary;
}

std::string FormatLatency(const LatencySummary& s) {
    return "latency_us count=" + std::to_string(s.count) + " min=" + std::to_string(s.min.count()) +
           " median=" + std::to_string(s.median.count()) + " p99=" + std::to_string(s.p99.count()) +
           " max=" + std::to_string(s.max.count());
}

}  // namespace pdt::sim
