// The MODBUS RTU layout reader: a frame's length comes from its function and byte count alone, so a
// frame whose fields no master or slave sends is still laid out (and described), while the separate
// verdict keeps such frames out of a stream; and how many bytes each answer waits for.
#include "tools/ModbusLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tools::ModbusRole;
using Is = tools::ModbusLayout::Is;
using Fit = tools::ModbusFieldsFit::Is;

TEST(ModbusLayout, LengthApartFromFieldsThatHold) {
    struct Case {
        const char* name;
        ModbusRole role;
        std::vector<uint8_t> bytes;
        Is is;
        std::size_t length;
        Fit fit;
        std::size_t need; // the bytes the verdict waits for
    };
    constexpr auto Q = ModbusRole::Request;
    constexpr auto R = ModbusRole::Reply;
    const Case cases[] = {
        {"read of 0 registers", Q, {1, 3, 0, 0, 0, 0}, Is::Known, 8, Fit::No, 0},
        {"read before its count", Q, {1, 3, 0, 0}, Is::Known, 8, Fit::Incomplete, 6},
        {"coil written neither on nor off", Q, {1, 5, 0, 1, 0x12, 0x34}, Is::Known, 8, Fit::No, 0},
        {"register write", Q, {1, 6}, Is::Known, 8, Fit::Yes, 0},
        {"byte count not matching the count", Q, {1, 16, 0, 0, 0, 2, 3}, Is::Known, 12, Fit::No, 0},
        {"write before its byte count", Q, {1, 16, 0, 0, 0, 2}, Is::Incomplete, 7, Fit::Incomplete, 7},
        {"read/write", Q, {1, 23, 0, 0, 0, 2, 0, 16, 0, 1, 2}, Is::Known, 15, Fit::Yes, 0},
        {"read/write before its byte count", Q, {1, 23, 0, 0, 0, 2}, Is::Incomplete, 11, Fit::Incomplete, 11},
        {"unknown function", Q, {1, 7, 0, 0, 0, 0}, Is::Unknown, 0, Fit::No, 0},
        {"registers in an odd byte count", R, {1, 3, 3}, Is::Known, 8, Fit::No, 0},
        {"coils", R, {1, 1, 1}, Is::Known, 6, Fit::Yes, 0},
        {"reply from the broadcast address", R, {0, 3}, Is::Incomplete, 3, Fit::No, 0},
        {"write of 0 registers acknowledged", R, {1, 16, 0, 0, 0, 0}, Is::Known, 8, Fit::No, 0},
        {"coil write echoed before its value", R, {1, 5, 0, 1}, Is::Known, 8, Fit::Incomplete, 6},
        {"exception to an unknown function", R, {1, 0x87, 2}, Is::Known, 5, Fit::No, 0},
        {"exception of an unknown code", R, {1, 0x83, 7}, Is::Known, 5, Fit::No, 0},
        {"exception before its code", R, {1, 0x83}, Is::Known, 5, Fit::Incomplete, 3},
    };
    for (const Case& c : cases) {
        const auto [layout, fields] = tools::ReadModbusFrame(c.bytes, c.role);
        EXPECT_EQ(layout.is, c.is) << c.name;
        EXPECT_EQ(layout.length, c.length) << c.name;
        EXPECT_EQ(fields.is, c.fit) << c.name;
        EXPECT_EQ(fields.need, c.need) << c.name;
    }
}

} // namespace
