#include "core/records/result_list.h"

namespace pdt {

void TResultList::Clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void TResultList::Append(std::string_view barcode, std::string_view quantity) {
    TRecord record{std::string(barcode), std::string(quantity)};
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(record));
}

size_t TResultList::Count() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::vector<TRecord> TResultList::Snapshot() const {
    std::lock_guard lock(mutex_);
    return records_;
}

}  // namespace pdt
