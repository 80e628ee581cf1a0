// The MODBUS read request: the documented frames, every start and count that fits one byte against
// a frame assembled by hand with a bitwise CRC, full 16-bit values, and the refusals.
#include "tools/ModbusRequest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/Conversions.h"

namespace {

std::string hexText(const std::array<uint8_t, tools::kReadRequestLength>& frame) {
    std::string text;
    for (uint8_t b : frame) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02X", text.empty() ? "" : " ", b);
        text += pair;
    }
    return text;
}

// Bit-serial CRC-16/MODBUS, independent of the table the tool uses.
uint16_t bitwiseCrc(const uint8_t* bytes, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

TEST(ReadHoldingRegistersRequest, FramesOfTypedFields) {
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        const char* frame;
    };
    const Case cases[] = {
        {"001", "00", "18", "01 03 00 00 00 12 C5 C7"}, // the fields as the window starts
        {"247", "2", "16", "F7 03 00 02 00 10 F1 50"},
        {"$F7", "2", "16", "F7 03 00 02 00 10 F1 50"},
        {"0xF7", "$2", "x10", "F7 03 00 02 00 10 F1 50"},
        {" +247", "0X2", "X10", "F7 03 00 02 00 10 F1 50"},
        {"1", "0", "0", "01 03 00 00 00 00 45 CA"},    // count 0 goes out unchecked
        {"1", "300", "18", "01 03 01 2C 00 12 05 F2"}, // start 300 is 01 2C, not 00 2C
        {"1", "1000", "2", "01 03 03 E8 00 02 44 7B"},
        {"0", "$1234", "256", "00 03 12 34 01 00 01 3D"}, // slave 0 (broadcast) is a slave address too
        {"255", "65535", "65535", "FF 03 FF FF FF FF 51 80"},
        {"-0", "-0", "-0", "00 03 00 00 00 00 44 1B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hexText(tools::ReadHoldingRegistersRequest(c.slave, c.start, c.count)), c.frame)
            << c.slave << " / " << c.start << " / " << c.count;
    }
}

TEST(ReadHoldingRegistersRequest, OneByteValuesGiveTheFrameWithZeroHighBytes) {
    // Where start and count fit one byte the frame is the one with high bytes 0 that the converter's
    // documentation shows; the slave's byte is checked over its whole range on the way.
    for (int start = 0; start <= 255; ++start) {
        for (int count = 0; count <= 255; ++count) {
            const int slave = (start + count) % 256;
            uint8_t expected[8] = {static_cast<uint8_t>(slave), 3, 0,
                                   static_cast<uint8_t>(start), 0, static_cast<uint8_t>(count)};
            const uint16_t crc = bitwiseCrc(expected, 6);
            expected[6] = static_cast<uint8_t>(crc & 0xFF);
            expected[7] = static_cast<uint8_t>(crc >> 8);
            const auto frame = tools::ReadHoldingRegistersRequest(
                std::to_string(slave), std::to_string(start), std::to_string(count));
            ASSERT_TRUE(std::equal(frame.begin(), frame.end(), expected))
                << slave << " / " << start << " / " << count << ": " << hexText(frame);
        }
    }
}

TEST(ReadHoldingRegistersRequest, ValuesTheFrameCannotCarryAreRefusedNamingTheField) {
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        const char* message;
    };
    const Case cases[] = {
        {"256", "0", "18", "MODBUS Slave Address must be between 0 and 255"},
        {"-1", "0", "18", "MODBUS Slave Address must be between 0 and 255"},
        {"$100", "0", "18", "MODBUS Slave Address must be between 0 and 255"},
        {"1", "65536", "18", "MODBUS Start Address must be between 0 and 65535"},
        {"1", "-1", "18", "MODBUS Start Address must be between 0 and 65535"},
        {"1", "2147483647", "18", "MODBUS Start Address must be between 0 and 65535"},
        {"1", "0", "65536", "Read Data Length must be between 0 and 65535"},
        {"1", "0", "-$1", "Read Data Length must be between 0 and 65535"},
        // Fields are read and checked in order: the first bad one is the one reported.
        {"256", "abc", "-1", "MODBUS Slave Address must be between 0 and 255"},
        {"1", "70000", "abc", "MODBUS Start Address must be between 0 and 65535"},
    };
    for (const Case& c : cases) {
        try {
            tools::ReadHoldingRegistersRequest(c.slave, c.start, c.count);
            ADD_FAILURE() << "not refused: " << c.slave << " / " << c.start << " / " << c.count;
        } catch (const tools::InputRefused& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(ReadHoldingRegistersRequest, TextsThatAreNoIntegerStopWithTheConversionMessage) {
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        const char* message;
    };
    const Case cases[] = {
        {"12a", "00", "18", "'12a' is not a valid integer value"},
        {"1", "abc", "18", "'abc' is not a valid integer value"},
        {"1", "0", "", "'' is not a valid integer value"},
        {"1", "0", "18 ", "'18 ' is not a valid integer value"},
        {"abc", "999999", "18", "'abc' is not a valid integer value"},
        {"1", "2147483648", "18", "'2147483648' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        try {
            tools::ReadHoldingRegistersRequest(c.slave, c.start, c.count);
            ADD_FAILURE() << "converted: " << c.slave << " / " << c.start << " / " << c.count;
        } catch (const tools::ConversionError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

} // namespace
