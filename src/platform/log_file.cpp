// The library's log bound to the file beside the host executable.
#include "core/log/log.h"

namespace pdt {

void InitLog() {
    InitLog(PlatformLogEnvironment());
}

}  // namespace pdt
