#include "driver/pdt_driver.h"

namespace pdt {

void __stdcall ReceiveData(VARIANT* /*result*/, CPDTDriver* /*self*/) noexcept {}

}  // namespace pdt
