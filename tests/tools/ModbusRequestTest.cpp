// The MODBUS read request: the documented frames, every start and count that fits one byte against
// a frame assembled by hand with a bitwise CRC, full 16-bit values, and the refusals.
#include "tools/ModbusRequest.h"
#include "ReferenceCrc.h"

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
            const uint16_t crc = referenceCrc(std::span(expected).first(6));
            expected[6] = static_cast<uint8_t>(crc & 0xFF);
            expected[7] = static_cast<uint8_t>(crc >> 8);
            const auto frame = tools::ReadHoldingRegistersRequest(
                std::to_string(slave), std::to_string(start), std::to_string(count));
            ASSERT_TRUE(std::equal(frame.begin(), frame.end(), expected))
                << slave << " / " << start << " / " << count << ": " << hexText(frame);
        }
    }
}

TEST(ReadHoldingRegistersRequest, RefusalsAndConversionFailuresStopWithTheirMessage) {
    enum class Stop { Refused, NotAnInteger };
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        Stop stop;
        const char* message;
    };
    const Case cases[] = {
        {"256", "0", "18", Stop::Refused, "MODBUS Slave Address must be between 0 and 255"},
        {"-1", "0", "18", Stop::Refused, "MODBUS Slave Address must be between 0 and 255"},
        {"$100", "0", "18", Stop::Refused, "MODBUS Slave Address must be between 0 and 255"},
        {"1", "65536", "18", Stop::Refused, "MODBUS Start Address must be between 0 and 65535"},
        {"1", "-1", "18", Stop::Refused, "MODBUS Start Address must be between 0 and 65535"},
        {"1", "2147483647", "18", Stop::Refused, "MODBUS Start Address must be between 0 and 65535"},
        {"1", "0", "65536", Stop::Refused, "Read Data Length must be between 0 and 65535"},
        {"1", "0", "-$1", Stop::Refused, "Read Data Length must be between 0 and 65535"},
        {"12a", "00", "18", Stop::NotAnInteger, "'12a' is not a valid integer value"},
        {"1", "abc", "18", Stop::NotAnInteger, "'abc' is not a valid integer value"},
        {"1", "0", "", Stop::NotAnInteger, "'' is not a valid integer value"},
        {"1", "0", "18 ", Stop::NotAnInteger, "'18 ' is not a valid integer value"},
        {"1", "2147483648", "18", Stop::NotAnInteger, "'2147483648' is not a valid integer value"},
        // Fields are read and checked in order: the first bad one is the one reported.
        {"256", "abc", "-1", Stop::Refused, "MODBUS Slave Address must be between 0 and 255"},
        {"1", "70000", "abc", Stop::Refused, "MODBUS Start Address must be between 0 and 65535"},
        {"abc", "999999", "18", Stop::NotAnInteger, "'abc' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.slave) + " / " + c.start + " / " + c.count;
        try {
            tools::ReadHoldingRegistersRequest(c.slave, c.start, c.count);
            ADD_FAILURE() << "sent: " << what;
        } catch (const tools::Error& e) {
            // A refusal leaves the window as it was; a conversion failure is the runtime's own.
            const bool refused = dynamic_cast<const tools::InputRefused*>(&e) != nullptr;
            const bool notAnInteger = dynamic_cast<const tools::ConversionError*>(&e) != nullptr;
            EXPECT_EQ(refused, c.stop == Stop::Refused) << what;
            EXPECT_EQ(notAnInteger, c.stop == Stop::NotAnInteger) << what;
            EXPECT_STREQ(e.what(), c.message) << what;
        }
    }
}

} // namespace
