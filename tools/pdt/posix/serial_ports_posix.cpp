// Serial devices on Linux: /dev/ttyS*, ttyUSB*, ttyACM*, with their stable
// /dev/serial/by-id names and what sysfs tells about each.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "../serial_ports.h"

namespace fs = std::filesystem;

namespace pdt::cli {
namespace {

bool IsSerialName(const std::string& name) {
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        size_t n = std::strlen(prefix);
        if (name.size() > n && name.compare(0, n, prefix) == 0 &&
            std::all_of(name.begin() + static_cast<long>(n), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The legacy 8250 driver registers ttyS0..ttyS31 whether or not a UART is
// there; a port without hardware reports type 0 ("unknown").
bool HasHardware(const fs::path& ttyClass, const std::string& name) {
    if (name.rfind("ttyS", 0) != 0) return true;
    std::string type = ReadFirstLine(ttyClass / "type");
    return !type.empty() && type != "0";
}

// Walks up from the tty's device to the USB device that carries the ids.
std::string UsbDescription(const fs::path& device) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return {};
    for (int depth = 0; depth < 6 && !dir.empty() && dir != dir.root_path(); ++depth) {
        if (fs::exists(dir / "idVendor", ec)) {
            std::string text =
                "USB " + ReadFirstLine(dir / "idVendor") + ":" + ReadFirstLine(dir / "idProduct");
            for (const char* attribute : {"manufacturer", "product", "serial"}) {
                std::string value = ReadFirstLine(dir / attribute);
                if (!value.empty()) text += std::string(", ") + attribute + " " + value;
            }
            return text;
        }
        dir = dir.parent_path();
    }
    return {};
}

std::string Describe(const fs::path& ttyClass) {
    std::error_code ec;
    std::string text;
    fs::path driver = fs::read_symlink(ttyClass / "device" / "driver", ec);
    if (!ec) text = "driver " + driver.filename().string();
    std::string usb = UsbDescription(ttyClass / "device");
    if (!usb.empty()) text += (text.empty() ? "" : ", ") + usb;
    return text;
}

// by-id link target (resolved, e.g. /dev/ttyUSB0) -> the link names.
std::map<std::string, std::vector<std::string>> StableNames(const std::string& root) {
    std::map<std::string, std::vector<std::string>> names;
    std::error_code ec;
    fs::path byId = fs::path(root + "/dev/serial/by-id");
    for (const auto& entry : fs::directory_iterator(byId, ec)) {
        fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec) continue;
        std::string device = "/dev/" + target.filename().string();
        names[device].push_back("/dev/serial/by-id/" + entry.path().filename().string());
    }
    for (auto& [device, links] : names) std::sort(links.begin(), links.end());
    return names;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root) {
    std::vector<SerialPortInfo> ports;
    auto stable = StableNames(root);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(root + "/dev"), ec)) {
        std::string name = entry.path().filename().string();
        if (!IsSerialName(name)) continue;
        fs::path ttyClass = fs::path(root + "/sys/class/tty") / name;
        if (!HasHardware(ttyClass, name)) continue;
        SerialPortInfo info;
        info.device = "/dev/" + name;
        info.description = Describe(ttyClass);
        if (auto it = stable.find(info.device); it != stable.end()) info.aliases = it->second;
        ports.push_back(std::move(info));
    }
    // ttyS2 before ttyS10: by prefix, then by number.
    auto key = [](const std::string& device) {
        size_t digits = device.find_last_not_of("0123456789") + 1;
        return std::make_pair(device.substr(0, digits), std::stoul(device.substr(digits)));
    };
    std::sort(ports.begin(), ports.end(),
              [&](const auto& a, const auto& b) { return key(a.device) < key(b.device); });
    return ports;
}

bool RequestLowLatency(const std::string& device, std::string& reason) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    serial_struct serial{};
    bool done = false;
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        reason = std::strerror(errno);
    } else if (serial.flags & ASYNC_LOW_LATENCY) {
        done = true;
    } else {
        serial.flags |= ASYNC_LOW_LATENCY;
        done = ioctl(fd, TIOCSSERIAL, &serial) == 0;
        if (!done) reason = std::strerror(errno);
    }
    close(fd);
    return done;
}

}  // namespace pdt::cli
