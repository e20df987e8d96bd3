#include "driver/configure.h"

namespace pdt {

// Until the settings dialog is built, Configure shows nothing.
void RunSettingsDialog() {}

}  // namespace pdt
