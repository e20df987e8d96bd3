// Turning the records of one reading into the host's result, without the
// platform: the quantity conversion and the walk over the records, feeding an
// abstract array builder (the Windows side builds the Variant array with it).
//
// Each element takes the quantity of its own record; records whose barcodes
// are equal (or differ only in letter case) keep their own quantities. The
// walk is linear in the number of records.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/records/result_list.h"

namespace pdt {

// A quantity as the host gets it: a 32-bit signed decimal integer. Leading
// spaces and one sign are allowed (terminals pad numeric fields on the left);
// anything else, an empty text or a value outside 32 bits is not a quantity.
inline std::optional<int32_t> ParseQuantity(std::string_view text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) return std::nullopt;
    const int64_t value = static_cast<int64_t>(magnitude);
    return static_cast<int32_t>(negative ? -value : value);
}

// A record whose quantity is not a 32-bit decimal integer: the whole result
// fails. `position` counts records from 1, as the user sees them.
class EBadQuantity : public std::runtime_error {
  public:
    EBadQuantity(size_t position, std::string quantity)
        : std::runtime_error("bad quantity in record " + std::to_string(position)),
          position_(position),
          quantity_(std::move(quantity)) {}
    size_t Position() const { return position_; }
    const std::string& Quantity() const { return quantity_; }

  private:
    size_t position_;
    std::string quantity_;
};

// Receives the result, element by element, in record order.
class ResultArrayBuilder {
  public:
    virtual ~ResultArrayBuilder() = default;
    virtual void Begin(size_t count) = 0;
    virtual void Element(size_t index, std::string_view barcode, int32_t quantity) = 0;
};

// Feeds every record to `builder`; throws EBadQuantity at the first record
// whose quantity does not convert (the builder may then hold a part).
inline void BuildResult(const std::vector<TRecord>& records, ResultArrayBuilder& builder) {
    builder.Begin(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const auto quantity = ParseQuantity(records[i].quantity);
        if (!quantity) throw EBadQuantity(i + 1, records[i].quantity);
        builder.Element(i, records[i].barcode, *quantity);
    }
}

}  // namespace pdt
