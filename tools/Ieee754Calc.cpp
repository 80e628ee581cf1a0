// The IEEE-754 calculator's reading of typed hex pairs.
#include "tools/Ieee754Calc.h"

#include <bit>

#include "tools/Conversions.h"

namespace tools {

Ieee754Reading Ieee754FromHexText(std::string_view typed) {
    Ieee754Reading reading;
    const std::size_t length = typed.size();

    for (std::size_t separator = 2; separator < length; separator += 3) {
        if (typed[separator] != ' ') {
            reading.failure = kNoSpacesMessage;
            return reading;
        }
    }

    // One pair more than there are separators: a text that ends in a blank expects another pair,
    // and the empty text expects one.
    const std::size_t pairs = length / 3 + 1;
    const auto digitAt = [&](std::size_t position) {
        return position < length ? UpperHexDigit(typed[position]) : -1;
    };
    // Pairs beyond the fourth are not used, but a bad one still makes the whole text invalid.
    uint32_t pattern = 0;
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        const int high = digitAt(3 * pair);
        const int low = digitAt(3 * pair + 1);
        if (high < 0 || low < 0) {
            reading.failure = kInvalidCharactersMessage;
            return reading;
        }
        if (pair < 4) {
            pattern |= static_cast<uint32_t>(high * 16 + low) << (8 * (3 - pair));
        }
    }

    reading.pattern = pattern;
    reading.text = GeneralFloatText(static_cast<double>(std::bit_cast<float>(pattern)));
    if (reading.text.size() > kIeee754TextWidth) {
        reading.text.resize(kIeee754TextWidth);
    }
    return reading;
}

} // namespace tools
