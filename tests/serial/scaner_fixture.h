// Helpers for TScaner tests: a progress sink that keeps its lines, and a wait
// for the records of an exchange.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/records/result_list.h"
#include "serial/tscaner.h"

namespace pdt::testing {

class KeptProgress : public ProgressSink {
  public:
    void ProgressLine(uint32_t, std::string_view label, std::string_view payload) override {
        std::lock_guard guard(mutex_);
        lines_.push_back(std::string(label) + std::string(payload));
    }
    std::vector<std::string> Lines() const {
        std::lock_guard guard(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// True once `scaner` has finished the transfer (state 17) within the time.
inline bool WaitForTransferDone(const TScaner& scaner, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (scaner.State() != 17) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline std::vector<std::vector<std::string>> AsRecords(const TResultList& results) {
    std::vector<std::vector<std::string>> records;
    for (const TRecord& r : results.Snapshot()) records.push_back({r.barcode, r.quantity});
    return records;
}

// The barcode (field 1) and quantity (field 3) of the simulator's records.
inline std::vector<std::vector<std::string>> Expected(
    const std::vector<std::vector<std::string>>& all) {
    std::vector<std::vector<std::string>> records;
    for (const auto& r : all) records.push_back({r.at(0), r.at(2)});
    return records;
}

}  // namespace pdt::testing
