// The converter's MODBUS side, served by libmodbus: a read-holding-registers request (or any other
// request libmodbus knows) in, libmodbus's reply out, with the holding registers the converter
// publishes at that moment. libmodbus writes its reply into one end of a socket pair and the bytes
// are taken from the other, so the simulator can hold, split or spoil them like any other reply, and
// libmodbus's habit of flushing its line after some exceptions cannot throw away the next request.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <modbus/modbus.h>

namespace sim {

class ModbusSide {
public:
    explicit ModbusSide(int registerCount);
    ~ModbusSide();
    ModbusSide(const ModbusSide&) = delete;
    ModbusSide& operator=(const ModbusSide&) = delete;

    // A complete RTU request with its CRC. Reads are served from `registers` (register 40001 first);
    // writes find no writable register and get libmodbus's exception. Returns the reply with its
    // CRC, or nothing for a request to another slave or a broadcast.
    std::string reply(std::string_view request, uint8_t slaveAddress, std::span<const uint16_t> registers);

private:
    void release();

    modbus_t* context_ = nullptr;
    modbus_mapping_t* readable_ = nullptr;
    modbus_mapping_t* nothing_ = nullptr;
    int replyEnd_ = -1; // libmodbus writes here
    int takeEnd_ = -1;  // and the reply is read from here
};

} // namespace sim
