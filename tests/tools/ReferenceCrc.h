// Bit-serial CRC-16/MODBUS written straight from the polynomial, independent of the tool's table.
#pragma once

#include <cstdint>
#include <span>

inline uint16_t referenceCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}
