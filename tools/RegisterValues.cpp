// MODBUS register data as 4- and 8-byte values in either word order.
#include "tools/RegisterValues.h"

#include <bit>

namespace tools {

std::optional<WordOrder> WordOrderOfIndex(int index) {
    switch (index) {
    case 0: return WordOrder::HighWordFirst;
    case 1: return WordOrder::LowWordFirst;
    default: return std::nullopt;
    }
}

std::string_view WordOrderName(WordOrder order) {
    return order == WordOrder::HighWordFirst ? "ABCD" : "CDAB";
}

std::string_view WordOrderConverterName(WordOrder order) {
    return order == WordOrder::HighWordFirst ? "FF4 FF3 FF2 FF1" : "FF2 FF1 FF4 FF3";
}

std::vector<uint16_t> RegistersFromBytes(std::span<const uint8_t> data) {
    std::vector<uint16_t> registers;
    registers.reserve(data.size() / 2);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        registers.push_back(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
    }
    return registers;
}

uint32_t Bits32(std::span<const uint16_t, 2> registers, WordOrder order) {
    const uint32_t first = registers[0];
    const uint32_t second = registers[1];
    return order == WordOrder::HighWordFirst ? first << 16 | second : second << 16 | first;
}

uint64_t Bits64(std::span<const uint16_t, 4> registers, WordOrder order) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = order == WordOrder::HighWordFirst ? i : 3 - i;
        bits = bits << 16 | registers[at];
    }
    return bits;
}

float FloatOf(std::span<const uint16_t, 2> registers, WordOrder order) {
    return std::bit_cast<float>(Bits32(registers, order));
}

double DoubleOf(std::span<const uint16_t, 4> registers, WordOrder order) {
    return std::bit_cast<double>(Bits64(registers, order));
}

std::array<uint16_t, 2> RegistersOf(float value, WordOrder order) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const auto high = static_cast<uint16_t>(bits >> 16);
    const auto low = static_cast<uint16_t>(bits & 0xFFFF);
    return order == WordOrder::HighWordFirst ? std::array<uint16_t, 2>{high, low} : std::array<uint16_t, 2>{low, high};
}

std::array<uint16_t, 4> RegistersOf(double value, WordOrder order) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    std::array<uint16_t, 4> registers{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto word = static_cast<uint16_t>(bits >> (48 - 16 * i));
        registers[order == WordOrder::HighWordFirst ? i : 3 - i] = word;
    }
    return registers;
}

std::optional<double> ValueOfBytes(std::span<const uint8_t> bytes, WordOrder order) {
    const std::vector<uint16_t> registers = RegistersFromBytes(bytes);
    if (bytes.size() == 4) {
        return double{FloatOf(std::span<const uint16_t, 2>(registers.data(), 2), order)};
    }
    if (bytes.size() == 8) {
        return DoubleOf(std::span<const uint16_t, 4>(registers.data(), 4), order);
    }
    return std::nullopt;
}

} // namespace tools
