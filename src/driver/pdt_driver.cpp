#include "driver/pdt_driver.h"

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "driver/configure.h"

namespace pdt {
namespace {

constexpr CPDTDriverTable kTable{&ReceiveData, &Configure};

// The driver reference whose address the host gets, and every object made so
// far (freed only when the library goes).
CPDTDriver* gDriver = nullptr;
std::vector<std::unique_ptr<CPDTDriver>> gDrivers;

}  // namespace

CPDTDriver::CPDTDriver() : table_(&kTable) {}

static_assert(std::is_standard_layout_v<CPDTDriver>);
static_assert(sizeof(CPDTDriver) == sizeof(void*), "the host sees one pointer-sized field");
static_assert(sizeof(CPDTDriverTable) == 2 * sizeof(void*));

CPDTDriver** NewDriver() noexcept {
    try {
        gDrivers.push_back(std::make_unique<CPDTDriver>());
        gDriver = gDrivers.back().get();
    } catch (...) {
        // Out of memory: the reference keeps the previous object.
    }
    return &gDriver;
}

void __stdcall Configure(CPDTDriver* /*self*/) noexcept {
    try {
        RunSettingsDialog();
    } catch (...) {
        // The host is never told: Configure has no result.
    }
}

}  // namespace pdt
