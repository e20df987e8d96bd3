// Where the port's threads report their failures: the driver's log, level 3.
#pragma once

#include <string_view>

namespace pdt::serial {

void WriteFailureToLog(std::string_view text);

}  // namespace pdt::serial
