#include "core/records/result_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace pdt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ResultListTest, KeepsPairsWholeAndInOrder) {
    TResultList list;
    list.Append("A=1", "5");
    list.Append(std::string_view("\0\xFF", 2), "");
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_THAT(list.Snapshot(),
                ElementsAre(TRecord{"A=1", "5"}, TRecord{std::string("\0\xFF", 2), ""}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_THAT(list.Snapshot(), IsEmpty());
}

// The event thread appends while the UI thread clears and reads.
TEST(ResultListTest, AppendClearAndSnapshotFromTwoThreads) {
    TResultList list;
    constexpr int kRecords = 2000;
    std::thread writer([&] {
        for (int i = 0; i < kRecords; ++i) list.Append(std::to_string(i), "1");
    });
    for (int i = 0; i < 50; ++i) {
        const auto snapshot = list.Snapshot();
        // Whatever survives a clear is a run of consecutive appends.
        for (size_t k = 1; k < snapshot.size(); ++k)
            ASSERT_EQ(std::stoi(snapshot[k].barcode), std::stoi(snapshot[k - 1].barcode) + 1);
        if (i % 10 == 0) list.Clear();
    }
    writer.join();
    const auto rest = list.Snapshot();
    if (!rest.empty()) {
        EXPECT_EQ(rest.back().barcode, std::to_string(kRecords - 1));
    }
}

}  // namespace
}  // namespace pdt
