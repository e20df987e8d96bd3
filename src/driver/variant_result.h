// The host's result as an OLE Automation Variant: a one-dimensional array,
// bounds 0..n-1, of one-dimensional arrays, bounds 0..1, each holding
// [VT_BSTR barcode, VT_I4 quantity].
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <utility>
#include <vector>

#include "core/records/result_list.h"

namespace pdt {

// Owns one VARIANT and clears it when it goes.
class UniqueVariant {
  public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    UniqueVariant(UniqueVariant&& other) noexcept : value_(other.Release()) {}
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&value_); }

    VARIANT& Get() noexcept { return value_; }
    // Hands the content over; this object is left empty.
    VARIANT Release() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

  private:
    VARIANT value_;
};

// The array for `records`, barcodes converted through the ANSI code page.
// Throws EBadQuantity for a quantity that is not a 32-bit decimal integer and
// std::bad_alloc when the system cannot allocate the arrays or strings.
UniqueVariant MakeResultVariant(const std::vector<TRecord>& records);

// Releases the caller's previous content, then stores `value` (taking it over).
void AssignResult(VARIANT* result, UniqueVariant& value) noexcept;
// Releases the caller's previous content, then stores Null.
void AssignNull(VARIANT* result) noexcept;

}  // namespace pdt
