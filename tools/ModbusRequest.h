// The MODBUS RTU read-holding-registers request of the communication test, built from the three
// typed fields: slave address, start address and register count.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tools {

inline constexpr uint8_t kReadHoldingRegisters = 0x03;
inline constexpr std::size_t kReadRequestLength = 8;

// Slave address, function code 3, start address and register count (each high byte first), then
// the CRC-16/MODBUS low byte and high byte.
//
// Each text is read with StrToInt (decimal, or hex after "$", "x", "0x"...), in the order slave,
// start, count, and checked before the next one is read. A text that does not convert throws its
// ConversionError; a slave address outside 0..255, or a start address or count outside 0..65535,
// throws InputRefused naming the field ("MODBUS Slave Address", "MODBUS Start Address",
// "Read Data Length") and its range. A count of 0 is sent as it stands.
std::array<uint8_t, kReadRequestLength> ReadHoldingRegistersRequest(std::string_view slaveText,
                                                                    std::string_view startText,
                                                                    std::string_view countText);

} // namespace tools
