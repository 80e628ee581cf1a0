// CRC-16/MODBUS: the published check values, every single byte, and random buffers against a
// bit-by-bit reference.
#include "tools/ModbusCrc.h"
#include "ReferenceCrc.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace {

uint16_t crcValue(tools::CrcBytes crc) {
    return static_cast<uint16_t>(crc.low | (crc.high << 8));
}

TEST(ModbusCrc16, CheckValueOfTheStandardText) {
    const std::string_view text = "123456789";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    const tools::CrcBytes crc = tools::ModbusCrc16(bytes);
    EXPECT_EQ(crc.low, 0x37);
    EXPECT_EQ(crc.high, 0x4B);
}

TEST(ModbusCrc16, ReadRequests) {
    const std::vector<uint8_t> defaultRequest = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12};
    tools::CrcBytes crc = tools::ModbusCrc16(defaultRequest);
    EXPECT_EQ(crc.low, 0xC5);
    EXPECT_EQ(crc.high, 0xC7);

    const std::vector<uint8_t> other = {0xF7, 0x03, 0x00, 0x02, 0x00, 0x10};
    crc = tools::ModbusCrc16(other);
    EXPECT_EQ(crc.low, 0xF1);
    EXPECT_EQ(crc.high, 0x50);
}

TEST(ModbusCrc16, EmptyGivesInitialValue) {
    const tools::CrcBytes crc = tools::ModbusCrc16({});
    EXPECT_EQ(crc.low, 0xFF);
    EXPECT_EQ(crc.high, 0xFF);
}

TEST(ModbusCrc16, EverySingleByte) {
    for (int value = 0; value <= 255; ++value) {
        const uint8_t byte = static_cast<uint8_t>(value);
        EXPECT_EQ(crcValue(tools::ModbusCrc16({&byte, 1})), referenceCrc({&byte, 1})) << "byte " << value;
    }
}

TEST(ModbusCrc16, RandomBuffersMatchTheBitwiseReference) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> length(0, 300);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 500; ++i) {
        std::vector<uint8_t> buffer(static_cast<size_t>(length(rng)));
        for (uint8_t& b : buffer)
            b = static_cast<uint8_t>(byte(rng));
        const tools::CrcBytes crc = tools::ModbusCrc16(buffer);
        ASSERT_EQ(crcValue(crc), referenceCrc(buffer))
            << "buffer " << i << " of " << buffer.size() << " bytes";
        // Carried on from any split of the buffer, the same CRC.
        const std::size_t split = buffer.size() / 3;
        const tools::CrcBytes carried = tools::ModbusCrc16(std::span(buffer).subspan(split),
                                                           tools::ModbusCrc16(std::span(buffer).first(split)));
        ASSERT_EQ(crcValue(carried), crcValue(crc)) << "buffer " << i << " split at " << split;

        // A frame followed by its CRC, low byte first, leaves a remainder of zero.
        buffer.push_back(crc.low);
        buffer.push_back(crc.high);
        ASSERT_EQ(crcValue(tools::ModbusCrc16(buffer)), 0x0000);
    }
}

} // namespace
