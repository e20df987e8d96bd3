// Summary of the PC's reply latencies: how long the PC took to acknowledge
// each header or frame after its last byte was on the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace pdt::sim {

struct LatencySummary {
    size_t count = 0;
    std::chrono::microseconds min{0};
    std::chrono::microseconds median{0};  // mean of the two middle samples when even
    std::chrono::microseconds p99{0};     // nearest rank
    std::chrono::microseconds max{0};
};

LatencySummary Summarize(std::vector<std::chrono::microseconds> samples);

// One line: "latency_us count=N min=... median=... p99=... max=...".
std::string FormatLatency(const LatencySummary& summary);

}  // namespace pdt::sim
