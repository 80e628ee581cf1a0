// The layout of a MODBUS RTU frame at the start of some bytes: the length its function code and
// counts imply, and apart from it whether its fields are ones a master or slave sends. Plain C++
// without I/O, so whatever describes a frame and whatever looks for frames in a stream read it the
// same way. Inline, one switch for both answers: the bus framer asks at every byte that could start
// a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tools {

enum class ModbusRole : uint8_t { Request, Reply };

// A reply's function code with this bit set is an exception: the function it answers, refused.
inline constexpr uint8_t kModbusExceptionBit = 0x80;

// Functions 1-6, 15, 16 and 23; exception codes 1-6, 8, 10 and 11.
constexpr bool IsModbusFunction(uint8_t function) {
    return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 23;
}
constexpr bool IsModbusExceptionCode(uint8_t code) {
    return (code >= 1 && code <= 6) || code == 8 || code == 10 || code == 11;
}

struct ModbusLayout {
    enum class Is : uint8_t {
        Unknown,    // no function whose layout is known (an exception reply is 5 bytes whatever it answers)
        Incomplete, // the bytes end before the count that gives the length
        Known,
    } is = Is::Unknown;
    std::size_t length = 0; // Known: the frame's length, CRC included; Incomplete: the bytes needed
};

// Whether a frame's fields are ones a master or slave sends: a known function (and exception code),
// counts in range, a byte count matching its count, a coil value of on or off, and no reply from the
// broadcast address. A frame that fails may still be described by its layout; one looked for in a
// stream of unknown bytes is not taken.
struct ModbusFieldsFit {
    enum class Is : uint8_t { No, Incomplete, Yes } is = Is::No;
    std::size_t need = 0; // Incomplete: the bytes needed to judge
};

struct ModbusFrameShape {
    ModbusLayout layout;
    ModbusFieldsFit fields;
};
// The frame the bytes start with (slave address, function, ...), read as `role`.
ModbusFrameShape ReadModbusFrame(std::span<const uint8_t> bytes, ModbusRole role);

namespace modbus_layout {

using Bytes = std::span<const uint8_t>;
using Layout = ModbusLayout;
using Fit = ModbusFieldsFit;

using tools::kModbusExceptionBit;
inline constexpr uint8_t kExceptionBit = kModbusExceptionBit;

inline uint16_t word(Bytes b, std::size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

inline bool inRange(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

// The frame's length follows its byte count at `countAt`: the head, the count, the data, the CRC.
inline Layout counted(Bytes b, std::size_t countAt) {
    if (b.size() <= countAt) {
        return {Layout::Is::Incomplete, countAt + 1};
    }
    return {Layout::Is::Known, countAt + 1 + std::size_t{b[countAt]} + 2};
}

// The verdict once `need` bytes are there.
template <typename Holds>
Fit judged(Bytes b, std::size_t need, Holds holds) {
    if (b.size() < need) {
        return {Fit::Is::Incomplete, need};
    }
    return {holds(b) ? Fit::Is::Yes : Fit::Is::No};
}

inline constexpr Layout kEight{Layout::Is::Known, 8};
inline constexpr Fit kYes{Fit::Is::Yes};
inline constexpr Fit kNo{Fit::Is::No};

// One row per function: its length, and what its fields must hold.
inline ModbusFrameShape request(Bytes b) {
    switch (b[1]) {
    case 1:
    case 2:
        return {kEight, judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 2000); })};
    case 3:
    case 4:
        return {kEight, judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 125); })};
    case 5:
        return {kEight, judged(b, 6, [](Bytes f) { return word(f, 4) == 0x0000 || word(f, 4) == 0xFF00; })};
    case 6:
        return {kEight, kYes};
    case 15:
        return {counted(b, 6), judged(b, 7, [](Bytes f) {
                    const unsigned count = word(f, 4);
                    return inRange(count, 1, 1968) && f[6] == (count + 7) / 8;
                })};
    case 16:
        return {counted(b, 6), judged(b, 7, [](Bytes f) {
                    const unsigned count = word(f, 4);
                    return inRange(count, 1, 123) && f[6] == 2 * count;
                })};
    case 23:
        return {counted(b, 10), judged(b, 11, [](Bytes f) {
                    const unsigned writes = word(f, 8);
                    return inRange(word(f, 4), 1, 125) && inRange(writes, 1, 121) && f[10] == 2 * writes;
                })};
    default:
        return {};
    }
}

inline ModbusFrameShape reply(Bytes b) {
    const uint8_t function = b[1];
    if ((function & kExceptionBit) != 0) {
        const Layout five{Layout::Is::Known, 5};
        if (!IsModbusFunction(function & ~kExceptionBit)) {
            return {five, kNo};
        }
        return {five, judged(b, 3, [](Bytes f) { return IsModbusExceptionCode(f[2]); })};
    }
    switch (function) {
    case 1:
    case 2:
        return {counted(b, 2), judged(b, 3, [](Bytes f) { return inRange(f[2], 1, 250); })};
    case 3:
    case 4:
    case 23:
        return {counted(b, 2), judged(b, 3, [](Bytes f) { return inRange(f[2], 2, 250) && f[2] % 2 == 0; })};
    case 5:
    case 6:
        return request(b); // the request's own bytes come back
    case 15:
        return {kEight, judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 1968); })};
    case 16:
        return {kEight, judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 123); })};
    default:
        return {};
    }
}

} // namespace modbus_layout

inline ModbusFrameShape ReadModbusFrame(std::span<const uint8_t> b, ModbusRole role) {
    ModbusFrameShape shape{{ModbusLayout::Is::Incomplete, 2}, {ModbusFieldsFit::Is::Incomplete, 2}};
    if (b.size() >= 2) {
        shape = role == ModbusRole::Request ? modbus_layout::request(b) : modbus_layout::reply(b);
    }
    if (role == ModbusRole::Reply && !b.empty() && b[0] == 0) {
        shape.fields = modbus_layout::kNo; // nobody answers a broadcast
    }
    return shape;
}

// The byte count of the read reply `request` asks for (functions 1-4 and 23), or -1.
inline int ModbusReplyByteCount(std::span<const uint8_t> request) {
    if (request.size() < 6) {
        return -1;
    }
    const unsigned count = modbus_layout::word(request, 4);
    switch (request[1]) {
    case 1:
    case 2:
        return static_cast<int>((count + 7) / 8);
    case 3:
    case 4:
    case 23:
        return static_cast<int>(2 * count);
    default:
        return -1;
    }
}

} // namespace tools
