#include "core/settings/driver_settings.h"

namespace pdt {

DriverSettings Settings;

}  // namespace pdt
