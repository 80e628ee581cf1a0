// How a CommName becomes a device path.
#include <gtest/gtest.h>

#include "serial/PosixPort.h"

namespace {

struct NameCase {
    const char* name;
    const char* path;
};

class PortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNameTest, MapsToDevicePath) {
    EXPECT_EQ(serial::portPathFor(GetParam().name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    ::testing::Values(NameCase{"COM1", "/dev/ttyS0"}, NameCase{"COM2", "/dev/ttyS1"},
                      NameCase{"COM9", "/dev/ttyS8"}, NameCase{"COM10", "/dev/ttyS9"},
                      NameCase{"COM256", "/dev/ttyS255"}, NameCase{"com3", "/dev/ttyS2"},
                      NameCase{"Com4", "/dev/ttyS3"},
                      // Outside COM1..COM256 the name is an ordinary device name under /dev/.
                      NameCase{"COM0", "/dev/COM0"}, NameCase{"COM257", "/dev/COM257"},
                      NameCase{"COM01", "/dev/COM01"}, NameCase{"COM", "/dev/COM"},
                      NameCase{"COM1a", "/dev/COM1a"}, NameCase{"COM-1", "/dev/COM-1"},
                      NameCase{"COM1000", "/dev/COM1000"}, NameCase{"XCOM1", "/dev/XCOM1"},
                      NameCase{"ttyUSB0", "/dev/ttyUSB0"}, NameCase{"ttyACM1", "/dev/ttyACM1"},
                      NameCase{"", "/dev/"},
                      // A name with a slash is a path as it stands.
                      NameCase{"/dev/pts/7", "/dev/pts/7"}, NameCase{"./COM1", "./COM1"},
                      NameCase{"serial/by-id/x", "serial/by-id/x"}));

TEST(PortNameRange, EveryComNumberNamesItsTtyS) {
    for (int n = 1; n <= 256; ++n) {
        EXPECT_EQ(serial::portPathFor("COM" + std::to_string(n)), "/dev/ttyS" + std::to_string(n - 1));
    }
}

} // namespace
