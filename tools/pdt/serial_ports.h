// The serial devices present on this computer, for `pdt ports`.
#pragma once

#include <string>
#include <vector>

namespace pdt::cli {

struct SerialPortInfo {
    std::string device;                // what --device takes: /dev/ttyUSB0, COM3
    std::vector<std::string> aliases;  // stable names: /dev/serial/by-id/...
    std::string description;           // what the system knows: driver, USB ids, maker
};

// Sorted by device name. `root` prefixes every system path looked at ("" for
// the real system; tests pass a fake tree). Ignored on Windows.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "");

// Asks a USB-serial adapter for low-latency mode (its latency timer otherwise
// delays every frame, 16 ms on common adapters). Best effort: false, with the
// reason, when the device does not support or refuses it.
bool RequestLowLatency(const std::string& device, std::string& reason);

}  // namespace pdt::cli
