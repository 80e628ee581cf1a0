// The converter's MODBUS side, served by libmodbus: a request of the data-access functions (1 to 6,
// 15, 16) in, libmodbus's reply out, with the holding registers the converter publishes at that
// moment; every other function gets exception 1 (illegal function), as from a slave that does not
// implement it. libmodbus writes its reply into one end of a socket pair and the bytes
// are taken from the other, so the simulator can hold, split or spoil them like any other reply, and
// libmodbus's habit of flushing its line after some exceptions cannot throw away the next request.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <modbus/modbus.h>

namespace sim {

// A MODBUS RTU request's length (address to CRC) as its function's layout implies it, from its first
// bytes: the length; 0 when the layout leaves it open (or the function is not a public one), so only
// the silence after it can end it; -1 while too few bytes are in to tell.
int ModbusRequestLength(std::string_view head);

class ModbusSide {
public:
    explicit ModbusSide(int registerCount);
    ~ModbusSide();
    ModbusSide(const ModbusSide&) = delete;
    ModbusSide& operator=(const ModbusSide&) = delete;

    // A complete RTU request with its CRC (checked by the caller). Reads are served from `registers`
    // (register 40001 first); writes find no writable register and get libmodbus's exception; a
    // request of those functions whose length is not the one its layout implies gets exception 3
    // (illegal data value); any other function gets exception 1. Returns the reply with its CRC, or
    // nothing for a request to another slave, a broadcast, or a function code above 127 (the range
    // of exception replies, which no master sends).
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
