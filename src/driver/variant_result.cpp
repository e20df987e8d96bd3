#include "driver/variant_result.h"

#include <oleauto.h>

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "driver/result_builder.h"
#include "driver/ui/text_convert.h"

namespace pdt {
namespace {

// A safe array of `count` variants, bounds 0..count-1, with its data locked
// for direct writes while this object lives.
class LockedVariantArray {
  public:
    explicit LockedVariantArray(size_t count) {
        array_ = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
        if (!array_) throw std::bad_alloc();
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array_, &data))) {
            SafeArrayDestroy(array_);
            throw std::bad_alloc();
        }
        items_ = static_cast<VARIANT*>(data);
    }
    LockedVariantArray(const LockedVariantArray&) = delete;
    LockedVariantArray& operator=(const LockedVariantArray&) = delete;
    ~LockedVariantArray() {
        if (!array_) return;
        SafeArrayUnaccessData(array_);
        SafeArrayDestroy(array_);  // clears every element written so far
    }

    VARIANT& operator[](size_t index) { return items_[index]; }

    // Unlocks the array and stores it into `target` as VT_ARRAY | VT_VARIANT.
    void MoveInto(VARIANT& target) noexcept {
        SafeArrayUnaccessData(array_);
        V_VT(&target) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&target) = std::exchange(array_, nullptr);
    }

  private:
    SAFEARRAY* array_ = nullptr;
    VARIANT* items_ = nullptr;
};

BSTR MakeBstr(std::string_view ansiBytes) {
    const std::wstring wide = ui::AnsiToWide(ansiBytes);
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!text) throw std::bad_alloc();
    return text;
}

class VariantArrayBuilder final : public ResultArrayBuilder {
  public:
    void Begin(size_t count) override { outer_.emplace(count); }

    void Element(size_t index, std::string_view barcode, int32_t quantity) override {
        LockedVariantArray pair(2);
        V_VT(&pair[0]) = VT_BSTR;
        V_BSTR(&pair[0]) = MakeBstr(barcode);
        V_VT(&pair[1]) = VT_I4;
        V_I4(&pair[1]) = quantity;
        pair.MoveInto((*outer_)[index]);
    }

    void MoveInto(VARIANT& target) { outer_->MoveInto(target); }

  private:
    std::optional<LockedVariantArray> outer_;
};

}  // namespace

UniqueVariant MakeResultVariant(const std::vector<TRecord>& records) {
    VariantArrayBuilder builder;
    BuildResult(records, builder);
    UniqueVariant result;
    builder.MoveInto(result.Get());
    return result;
}

void AssignResult(VARIANT* result, UniqueVariant& value) noexcept {
    if (!result) return;
    VariantClear(result);
    *result = value.Release();
}

void AssignNull(VARIANT* result) noexcept {
    if (!result) return;
    VariantClear(result);
    V_VT(result) = VT_NULL;
}

}  // namespace pdt
