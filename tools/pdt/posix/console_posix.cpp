#include <sys/ioctl.h>
#include <unistd.h>

#include "../console.h"

namespace pdt::cli {

bool IsTerminal(Stream stream) {
    return isatty(stream == Stream::kStdout ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void PrepareConsole() {}

}  // namespace pdt::cli
