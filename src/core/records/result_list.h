// The records read out of the terminal in one exchange.
//
// Each record is kept as its two texts, barcode and quantity, exactly as the
// terminal sent them; they are never joined into one line and split again, so
// a barcode that itself holds "=" survives whole.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pdt {

struct TRecord {
    std::string barcode;   // bytes as received, one 8-bit character each
    std::string quantity;  // bytes as received, one 8-bit character each

    bool operator==(const TRecord&) const = default;
};

// Filled on the port's event thread, cleared from the UI thread when an
// exchange restarts, read by the host side after the exchange: every call
// takes the list's own lock.
class TResultList {
  public:
    void Clear();
    void Append(std::string_view barcode, std::string_view quantity);
    size_t Count() const;
    std::vector<TRecord> Snapshot() const;

  private:
    mutable std::mutex mutex_;
    std::vector<TRecord> records_;
};

}  // namespace pdt
