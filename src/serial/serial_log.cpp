#include "serial/serial_log.h"

#if __has_include("core/log/log.h")
#include "core/log/log.h"
#define PDT_SERIAL_HAS_LOG 1
#endif

namespace pdt::serial {

void WriteFailureToLog(std::string_view text) {
#ifdef PDT_SERIAL_HAS_LOG
    WriteLog(3, text);
#else
    (void)text;
#endif
}

}  // namespace pdt::serial
