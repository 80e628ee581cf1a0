// The layout of a MODBUS RTU frame at the start of some bytes, for every public function code: the
// length its function code and counts imply (or, where the layout leaves it open, the end its CRC
// marks), apart from it whether its fields are ones a master or slave sends, and what a reply must
// repeat of the request it answers. One table (ModbusLayout.cpp) answers all three, so whatever
// describes a frame, looks for frames in a stream or checks a reply against its request reads a
// function the same way. Plain C++ without I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tools {

enum class ModbusRole : uint8_t { Request, Reply };

// The longest RTU frame: address, 253 bytes of PDU, CRC.
inline constexpr std::size_t kModbusMaxFrame = 256;
inline constexpr uint8_t kModbusExceptionBit = 0x80;

// The public function codes: 1-8, 11, 12, 15-17, 20-24 and 43 (encapsulated interface transport,
// with its MEI types 13 and 14).
bool IsModbusFunction(uint8_t function);
// Exception codes 1-6, 8, 10 and 11.
bool IsModbusExceptionCode(uint8_t code);

struct ModbusLayout {
    enum class Is : uint8_t {
        Unknown,    // no function whose layout is known (an exception reply is 5 bytes whatever it answers)
        Incomplete, // the bytes end before the count that gives the length
        Known,
        Open, // the layout does not give the length: the frame ends at the first CRC that holds
    } is = Is::Unknown;
    // Known: the frame's length, CRC included; Incomplete: the bytes needed; Open: the shortest the
    // frame can be, CRC included.
    std::size_t length = 0;
};

// Whether a frame's fields are ones a master or slave sends: a known function (and sub-function,
// MEI type, exception code), counts in range, a byte count matching its count, a coil value of on or
// off, and no reply from the broadcast address. A frame that fails may still be described by its
// layout; one looked for in a stream of unknown bytes is not taken.
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

// Where a frame of an open layout ends in `bytes`: the shortest length from `shortest` on (at most
// kModbusMaxFrame) whose last two bytes are the CRC of the ones before; 0 when there is none.
std::size_t ModbusCrcEnd(std::span<const uint8_t> bytes, std::size_t shortest);

// The length of the frame at the start of `bytes` as its layout gives it: Known as it stands, Open
// resolved by its CRC (Unknown when no CRC holds in the bytes there are).
ModbusLayout ModbusFrameLength(std::span<const uint8_t> bytes, ModbusRole role);

// How the bytes at the start of `reply` stand as the reply `request` expects.
struct ModbusAnswer {
    enum class Is : uint8_t {
        No,         // another slave or function, an exception of no known code, an open layout
                    // whose CRC is nowhere in the bytes
        Incomplete, // its head so far is the expected one; the reply is longer than the bytes, and
                    // `need` bytes would tell more
        Known,      // the expected head: the reply is `length` bytes (the bytes may end before)
    } is = Is::No;
    std::size_t need = 0;
    std::size_t length = 0;
    bool exception = false;
    // What a reply repeats of its request is not what the request holds; Known only.
    enum class Mismatch : uint8_t {
        None,
        ByteCount,   // a read's byte count is not the one its count asks for
        Repeated,    // the address and value (or start and count, or whole request) a write repeats
        SubFunction, // a diagnostic's sub-function, or an encapsulated transport's MEI type
    } mismatch = Mismatch::None;
};
ModbusAnswer ModbusReplyTo(std::span<const uint8_t> request, std::span<const uint8_t> reply);

// Whether a reply to `function` is laid out as its request is (5, 6, 8, 21, 22): a frame of it is
// told a reply only by the request it answers.
bool ModbusReplySharesLayout(uint8_t function);

// The byte count of the read reply `request` asks for (functions 1-4 and 23), or -1.
int ModbusReplyByteCount(std::span<const uint8_t> request);

} // namespace tools
