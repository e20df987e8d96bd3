#include "serial_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace pdt::cli {
namespace {

namespace fs = std::filesystem;

// A fake /dev and /sys with what Linux shows for an on-board UART, a phantom
// 8250 port, a USB-serial adapter and an unrelated tty.
class FakeSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("pdt-ports-" + std::to_string(::getpid()));
        for (const char* dev : {"ttyS0", "ttyS1", "ttyS10", "ttyUSB0", "tty0", "ttySx"}) {
            Touch(root_ / "dev" / dev, "");
        }
        Tty("ttyS0", "4", "serial8250");
        Tty("ttyS1", "0", "serial8250");  // no hardware
        Tty("ttyS10", "4", "serial8250");
        fs::path usb = root_ / "sys/devices/pci0/usb1/1-2";
        Touch(usb / "idVendor", "0403\n");
        Touch(usb / "idProduct", "6001\n");
        Touch(usb / "manufacturer", "FTDI\n");
        Touch(usb / "serial", "A50285BI\n");
        fs::path intf = usb / "1-2:1.0/ttyUSB0";
        fs::create_directories(intf);
        fs::create_directories(root_ / "sys/bus/usb-serial/drivers/ftdi_sio");
        fs::create_directory_symlink(root_ / "sys/bus/usb-serial/drivers/ftdi_sio",
                                     intf / "driver");
        fs::create_directories(root_ / "sys/class/tty/ttyUSB0");
        fs::create_directory_symlink(intf, root_ / "sys/class/tty/ttyUSB0/device");
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../ttyUSB0",
                           root_ / "dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    }
    void TearDown() override { fs::remove_all(root_); }

    void Tty(const std::string& name, const std::string& type, const std::string& driver) {
        fs::path cls = root_ / "sys/class/tty" / name;
        Touch(cls / "type", type + "\n");
        fs::path device = root_ / "sys/devices/platform/serial8250" / name;
        fs::create_directories(device);
        fs::create_directories(root_ / "sys/bus/platform/drivers" / driver);
        if (!fs::exists(device / "driver")) {
            fs::create_directory_symlink(root_ / "sys/bus/platform/drivers" / driver,
                                         device / "driver");
        }
        fs::create_directory_symlink(device, cls / "device");
    }
    static void Touch(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    fs::path root_;
};

TEST_F(FakeSystem, ListsRealSerialDevicesWithTheirStableNames) {
    auto ports = ListSerialPorts(root_.string());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].device, "/dev/ttyS0");
    EXPECT_EQ(ports[0].description, "driver serial8250");
    EXPECT_EQ(ports[1].device, "/dev/ttyS10");
    EXPECT_EQ(ports[2].device, "/dev/ttyUSB0");
    EXPECT_EQ(ports[2].description,
              "driver ftdi_sio, USB 0403:6001, manufacturer FTDI, serial A50285BI");
    ASSERT_EQ(ports[2].aliases.size(), 1u);
    EXPECT_EQ(ports[2].aliases[0], "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
}

TEST(SerialPorts, LowLatencyIsRefusedCleanlyByANonSerialDevice) {
    std::string reason;
    EXPECT_FALSE(RequestLowLatency("/dev/null", reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(RequestLowLatency("/nonexistent/ttyUSB9", reason));
}

}  // namespace
}  // namespace pdt::cli
