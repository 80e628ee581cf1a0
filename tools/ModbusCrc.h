// CRC-16/MODBUS (initial 0xFFFF, reflected polynomial 0xA001, no final xor), by table.
#pragma once

#include <cstdint>
#include <span>

namespace tools {

struct CrcBytes {
    uint8_t low = 0xFF;  // sent first
    uint8_t high = 0xFF; // sent second
};

// An empty span gives 0xFF, 0xFF.
CrcBytes ModbusCrc16(std::span<const uint8_t> bytes);
// The CRC of what gave `before`, then `bytes`: a frame's CRC carried on a byte at a time.
CrcBytes ModbusCrc16(std::span<const uint8_t> bytes, CrcBytes before);

} // namespace tools
