// Value encodings of the converter's text commands: list digits, fixed-width decimal digits, float hex.
#include "config/ValueEncodings.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "tools/Conversions.h"

namespace config {

namespace {

char digitForIndex(int index, const ListField& list, char firstDigit) {
    if (index == kNoSelection) {
        throw tools::InputRefused("No item is selected in " + std::string(list.caption));
    }
    // Any other index outside the list cannot come from the list itself; it would put a character
    // into the frame that is no digit the converter knows.
    if (index < 0 || index >= list.itemCount) {
        throw tools::InputRefused(std::string(list.caption) + " has no item " + std::to_string(index) +
                                  " (items 0 to " + std::to_string(list.itemCount - 1) + ")");
    }
    return static_cast<char>(firstDigit + index);
}

} // namespace

char listDigit(int index, const ListField& list) {
    return digitForIndex(index, list, '0');
}

char offsetListDigit(int index, const ListField& list) {
    return digitForIndex(index, list, '4');
}

std::string decimalDigits(std::string_view text, int width, std::string_view caption) {
    if (width < 1 || width > 9) {
        throw std::invalid_argument("decimalDigits: width must be 1 to 9");
    }
    int32_t limit = 1;
    for (int i = 0; i < width; ++i) {
        limit *= 10;
    }
    return tools::FormatZeroPadded(tools::StrToIntUpTo(text, limit - 1, caption),
                                   std::string(static_cast<std::size_t>(width), '0'));
}

std::string floatHex(float value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(std::bit_cast<uint32_t>(value)));
    return digits;
}

float floatFromHex(std::string_view digits) {
    uint32_t pattern = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const uint32_t nibble = i < digits.size() ? tools::HexDigitValue(digits.substr(i, 1)) : 0;
        pattern = (pattern << 4) | nibble;
    }
    return std::bit_cast<float>(pattern);
}

} // namespace config
