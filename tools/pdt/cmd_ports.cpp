// pdt ports: the serial devices present, with what the system knows of each.
#include <cstdio>

#include "commands.h"
#include "serial_ports.h"

namespace pdt::cli {
namespace {

constexpr const char* kHelp = R"(usage: pdt ports

Lists the serial devices present: /dev/ttyS* with a UART behind them, ttyUSB*
(USB-serial adapters) and ttyACM* (USB modems), each with its stable names
under /dev/serial/by-id (use those with --device: they survive re-plugging)
and what the system knows of it (driver, USB vendor:product, maker, serial).
)";

}  // namespace

int PortsCommand(const Args& args) {
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        std::fprintf(stderr, "pdt ports: unexpected argument \"%s\" (see --help)\n", arg.c_str());
        return kExitUsage;
    }
    auto ports = ListSerialPorts();
    if (ports.empty()) {
        std::fprintf(stderr, "pdt ports: no serial devices found\n");
        return kExitOk;
    }
    for (const auto& port : ports) {
        std::printf("%s%s%s\n", port.device.c_str(), port.description.empty() ? "" : "  ",
                    port.description.c_str());
        for (const auto& alias : port.aliases) std::printf("    %s\n", alias.c_str());
    }
    return kExitOk;
}

}  // namespace pdt::cli
