#include "serial/serial_log.h"

#include "core/log/log.h"

namespace pdt::serial {

void WriteFailureToLog(std::string_view text) { WriteLog(3, text); }

}  // namespace pdt::serial
