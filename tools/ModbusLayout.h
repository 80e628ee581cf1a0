// The layout of a MODBUS RTU frame at the start of some bytes: the length its function code and
// counts imply, and whether its fields are ones a master or slave sends. Plain C++ without I/O, so
// whatever describes a frame and whatever looks for frames in a stream read it the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tools {

enum class ModbusRole : uint8_t { Request, Reply };

// Functions 1-6, 15, 16 and 23; exception codes 1-6, 8, 10 and 11.
bool IsModbusFunction(uint8_t function);
bool IsModbusExceptionCode(uint8_t code);

struct ModbusLayout {
    enum class Is : uint8_t {
        Unknown,    // no function whose layout is known (an exception reply is 5 bytes whatever it answers)
        Incomplete, // the bytes end before the count that gives the length
        Known,
    } is = Is::Unknown;
    std::size_t length = 0; // Known: the frame's length, CRC included; Incomplete: the bytes needed
};

// The frame the bytes start with (slave address, function, ...), read as `role`.
ModbusLayout ReadModbusLayout(std::span<const uint8_t> bytes, ModbusRole role);

// Whether a frame's fields are ones a master or slave sends: a known function (and exception code),
// counts in range, a byte count matching its count, a coil value of on or off, and no reply from the
// broadcast address. A frame that fails may still be described by its layout; one looked for in a
// stream of unknown bytes is not taken.
struct ModbusFieldsFit {
    enum class Is : uint8_t { No, Incomplete, Yes } is = Is::No;
    std::size_t need = 0; // Incomplete: the bytes needed to judge
};
ModbusFieldsFit ModbusFieldsHold(std::span<const uint8_t> bytes, ModbusRole role);

// The byte count of the read reply `request` asks for (functions 1-4 and 23), or -1.
int ModbusReplyByteCount(std::span<const uint8_t> request);

} // namespace tools
