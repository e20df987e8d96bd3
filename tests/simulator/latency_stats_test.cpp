#include "latency_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace pdt::sim {
namespace {

using us = std::chrono::microseconds;

std::vector<us> Range(int from, int to) {
    std::vector<us> samples;
    for (int v = from; v <= to; ++v) samples.emplace_back(v);
    std::shuffle(samples.begin(), samples.end(), std::mt19937(7));
    return samples;
}

TEST(LatencyStatsTest, Summaries) {
    struct Case {
        std::vector<us> samples;
        LatencySummary expected;
    };
    const std::vector<Case> cases = {
        {{}, {0, us(0), us(0), us(0), us(0)}},
        {{us(42)}, {1, us(42), us(42), us(42), us(42)}},
        {{us(30), us(10)}, {2, us(10), us(20), us(30), us(30)}},
        {Range(1, 100), {100, us(1), us(50), us(99), us(100)}},
        {Range(1, 200), {200, us(1), us(100), us(198), us(200)}},
        {Range(1, 5), {5, us(1), us(3), us(5), us(5)}},
    };
    for (const Case& test : cases) {
        const LatencySummary got = Summarize(test.samples);
        EXPECT_EQ(got.count, test.expected.count);
        EXPECT_EQ(got.min, test.expected.min);
        EXPECT_EQ(got.median, test.expected.median);
        EXPECT_EQ(got.p99, test.expected.p99) << "count " << got.count;
        EXPECT_EQ(got.max, test.expected.max);
    }
}

TEST(LatencyStatsTest, FormatsOneLine) {
    EXPECT_EQ(FormatLatency({3, us(1), us(2), us(3), us(3)}),
              "latency_us count=3 min=1 median=2 p99=3 max=3");
}

}  // namespace
}  // namespace pdt::sim
