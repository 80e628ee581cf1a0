// MODBUS holding registers as numbers: a value of 4 or 8 bytes spread over 2 or 4 registers, in either
// word order. No I/O, so the traffic interpreter, the window, vx538 and the commissioning arithmetic
// all read register data the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tools {

// How a value's 16-bit words are laid out in consecutive registers. Each register is itself sent
// high byte first, as MODBUS has it; only the order of the words differs.
enum class WordOrder : uint8_t {
    HighWordFirst, // ABCD: the converter's "FF4 FF3 FF2 FF1" (parse format order 0)
    LowWordFirst,  // CDAB: the converter's "FF2 FF1 FF4 FF3" (parse format order 1)
};

// The parse format's order index (0 or 1) as a word order; nullopt for any other index.
std::optional<WordOrder> WordOrderOfIndex(int index);
// "ABCD" / "CDAB": the names PLC programmers use.
std::string_view WordOrderName(WordOrder order);
// "FF4 FF3 FF2 FF1" / "FF2 FF1 FF4 FF3": the converter's own names.
std::string_view WordOrderConverterName(WordOrder order);

// Register values from the data bytes of a read reply (two bytes a register, high byte first); an odd
// last byte is left out.
std::vector<uint16_t> RegistersFromBytes(std::span<const uint8_t> data);

// The 32-bit pattern of two registers / the 64-bit pattern of four, in `order`. For eight bytes the
// low-word-first order reverses all four words (GH EF CD AB), as libmodbus's CDAB readers do.
uint32_t Bits32(std::span<const uint16_t, 2> registers, WordOrder order);
uint64_t Bits64(std::span<const uint16_t, 4> registers, WordOrder order);

float FloatOf(std::span<const uint16_t, 2> registers, WordOrder order);
double DoubleOf(std::span<const uint16_t, 4> registers, WordOrder order);

// The registers that hold `value` in `order` (the inverse of FloatOf / DoubleOf).
std::array<uint16_t, 2> RegistersOf(float value, WordOrder order);
std::array<uint16_t, 4> RegistersOf(double value, WordOrder order);

// A value of 4 or 8 bytes as they lie in a byte stream (the registers' bytes on the wire, or a field
// of a HART reply), read in `order`: 4 bytes as a single, 8 as a double. nullopt for another length.
std::optional<double> ValueOfBytes(std::span<const uint8_t> bytes, WordOrder order);

} // namespace tools
