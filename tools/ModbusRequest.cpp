// The read-holding-registers request of the MODBUS communication test.
#include "tools/ModbusRequest.h"

#include <span>

#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"

namespace tools {

std::array<uint8_t, kReadRequestLength> ReadHoldingRegistersRequest(std::string_view slaveText,
                                                                    std::string_view startText,
                                                                    std::string_view countText) {
    // Sending only the low bits of a value that does not fit would quietly address another register,
    // or turn slave 256 into the broadcast address 0, so such a value is refused instead.
    const auto slave = static_cast<uint16_t>(StrToIntUpTo(slaveText, 255, "MODBUS Slave Address"));
    const auto start = static_cast<uint16_t>(StrToIntUpTo(startText, 65535, "MODBUS Start Address"));
    const auto count = static_cast<uint16_t>(StrToIntUpTo(countText, 65535, "Read Data Length"));

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
