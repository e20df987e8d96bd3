// A spin edit of the settings dialog: an edit with an up-down control beside
// it, holding one 32-bit integer within a range.
//
// A value set into it is brought into the range; so is typed text when the
// focus leaves the edit. Text that is not an integer reads as the minimum.
// A range whose minimum equals its maximum means no limit.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pdt {

class TSpinEdit {
  public:
    TSpinEdit(int32_t minValue, int32_t maxValue) : min_(minValue), max_(maxValue) {}

    // Binds the edit and its up-down control (already created) and sets the
    // up-down's range.
    void Attach(HWND edit, HWND upDown);

    HWND Edit() const { return edit_; }
    void SetValue(int32_t value);
    // The value the text stands for, within the range.
    int32_t Value() const;
    // The focus has left the edit: show the value that will be taken.
    void OnExit();

    int32_t Clamp(int64_t value) const;
    bool Unlimited() const { return min_ == max_; }

  private:
    int32_t min_;
    int32_t max_;
    HWND edit_ = nullptr;
};

}  // namespace pdt
