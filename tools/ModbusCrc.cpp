// CRC-16/MODBUS by lookup table; the table is computed at compile time from the polynomial so it
// cannot hold a mistyped entry.
#include "tools/ModbusCrc.h"

#include <array>

namespace tools {

namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;

constexpr std::array<uint16_t, 256> makeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned index = 0; index < 256; ++index) {
        uint16_t crc = static_cast<uint16_t>(index);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                            : static_cast<uint16_t>(crc >> 1);
        table[index] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

// Two well-known entries of the standard table, so a broken generator fails the build.
static_assert(kCrcTable[1] == 0xC0C1 && kCrcTable[255] == 0x4040);

} // namespace

CrcBytes ModbusCrc16(std::span<const uint8_t> bytes) {
    return ModbusCrc16(bytes, CrcBytes{});
}

CrcBytes ModbusCrc16(std::span<const uint8_t> bytes, CrcBytes before) {
    uint16_t crc = static_cast<uint16_t>(before.high << 8 | before.low);
    for (uint8_t b : bytes)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
    return {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
}

} // namespace tools
