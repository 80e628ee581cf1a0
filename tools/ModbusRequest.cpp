// The read-holding-registers request of the MODBUS communication test.
#include "tools/ModbusRequest.h"

#include <span>
#include <string>

#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"

namespace tools {

namespace {

// A typed value that must fit `maximum` (255 for an address byte, 65535 for a 16-bit field).
// Sending only the low bits would quietly address another register, or turn slave 256 into the
// broadcast address 0, so a value that does not fit is refused instead.
uint16_t fieldValue(std::string_view text, std::string_view caption, int32_t maximum) {
    const int32_t value = StrToInt(text);
    if (value < 0 || value > maximum) {
        throw InputRefused(std::string(caption) + " must be between 0 and " + std::to_string(maximum));
    }
    return static_cast<uint16_t>(value);
}

} // namespace

std::array<uint8_t, kReadRequestLength> ReadHoldingRegistersRequest(std::string_view slaveText,
                                                                    std::string_view startText,
                                                                    std::string_view countText) {
    const uint16_t slave = fieldValue(slaveText, "MODBUS Slave Address", 255);
    const uint16_t start = fieldValue(startText, "MODBUS Start Address", 65535);
    const uint16_t count = fieldValue(countText, "Read Data Length", 65535);

    std::array<uint8_t, kReadRequestLength> frame = {
        static_cast<uint8_t>(slave),      kReadHoldingRegisters,
        static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start & 0xFF),
        static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF),
    };
    const CrcBytes crc = ModbusCrc16(std::span(frame).first(6));
    frame[6] = crc.low;
    frame[7] = crc.high;
    return frame;
}

} // namespace tools
