// The serial device scan on fake trees: which names are offered, which are not, and in what order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/PortScan.h"

namespace {

namespace fs = std::filesystem;

class FakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vx538_scan_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(root / "dev/serial/by-id");
        fs::create_directories(root / "sys/class/tty");
    }
    void TearDown() override { fs::remove_all(root); }

    void device(const std::string& name) { std::ofstream(root / "dev" / name).put('\0'); }
    // A ttyS with the UART type the serial core reports; no type at all when `type` is null.
    void uart(const std::string& name, const char* type) {
        device(name);
        fs::create_directories(root / "sys/class/tty" / name);
        if (type) {
            std::ofstream(root / "sys/class/tty" / name / "type") << type << '\n';
        }
    }
    std::string at(const std::string& path) const { return (root / path).string(); }

    fs::path root;
};

TEST_F(FakeTree, OffersStableNamesUsbAdaptersAndRealUartsInNaturalOrder) {
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    fs::create_symlink("../../ttyACM0", root / "dev/serial/by-id/usb-Board_CDC_9-if00");
    fs::create_symlink("../../ttyUSB7", root / "dev/serial/by-id/usb-Gone_Adapter-if00-port0"); // dangling
    // Serial numbers with leading zeros still sort by their value.
    fs::create_symlink("../../ttyUSB2", root / "dev/serial/by-id/usb-FTDI_FT232R_A10-if00-port0");
    fs::create_symlink("../../ttyUSB10", root / "dev/serial/by-id/usb-FTDI_FT232R_A007-if00-port0");
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0",
                             // not serial devices of these families
                             "ttyUSB", "ttyUSBa", "ttyUSB1x", "tty0", "ttyAMA0x", "console", "ttyACM"}) {
        device(name);
    }
    uart("ttyS0", "4"); // a 16550A
    uart("ttyS1", "0"); // a phantom: PORT_UNKNOWN
    uart("ttyS2", nullptr);
    uart("ttyS10", "1"); // an 8250
    uart("ttyS3", "garbage");

    EXPECT_EQ(serial::ScanSerialDevices(root), (std::vector<std::string>{
                                                   at("dev/serial/by-id/usb-Board_CDC_9-if00"),
                                                   at("dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"),
                                                   at("dev/serial/by-id/usb-FTDI_FT232R_A007-if00-port0"),
                                                   at("dev/serial/by-id/usb-FTDI_FT232R_A10-if00-port0"),
                                                   at("dev/ttyACM0"),
                                                   at("dev/ttyUSB0"),
                                                   at("dev/ttyUSB2"),
                                                   at("dev/ttyUSB10"),
                                                   at("dev/ttyS0"),
                                                   at("dev/ttyS10"),
                                               }));
}

TEST_F(FakeTree, AnEmptyOrMissingTreeOffersNothing) {
    EXPECT_TRUE(serial::ScanSerialDevices(root).empty());
    EXPECT_TRUE(serial::ScanSerialDevices(root / "no-such-folder").empty());
    uart("ttyS0", "0");
    uart("ttyS1", "0");
    EXPECT_TRUE(serial::ScanSerialDevices(root).empty());
}

TEST(RealTree, ListsOnlyWhatExists) {
    for (const std::string& path : serial::ScanSerialDevices()) {
        EXPECT_TRUE(fs::exists(path)) << path;
        EXPECT_TRUE(path.starts_with("/dev/")) << path;
    }
}

} // namespace
