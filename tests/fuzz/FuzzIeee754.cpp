// The IEEE-754 calculator's reading of typed hex pairs. What reads gives the first characters of the
// general float text of its pattern; the pattern's own four pairs read back to it; a failure is one
// of the two messages.
#include <bit>
#include <cstdio>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/Conversions.h"
#include "tools/Ieee754Calc.h"

namespace {

void checkReading(const tools::Ieee754Reading& reading) {
    using fuzzcheck::check;
    if (!reading.ok()) {
        check(reading.failure == tools::kNoSpacesMessage ||
                  reading.failure == tools::kInvalidCharactersMessage,
              "calculator: unknown failure text");
        return;
    }
    const float value = std::bit_cast<float>(reading.pattern);
    const std::string full = tools::GeneralFloatText(static_cast<double>(value));
    check(reading.text == full.substr(0, tools::kIeee754TextWidth), "calculator: text of the pattern");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    checkReading(tools::Ieee754FromHexText(fuzzcheck::asText(data, size)));
    if (size >= 4) {
        char typed[12];
        std::snprintf(typed, sizeof typed, "%02X %02X %02X %02X", data[0], data[1], data[2], data[3]);
        const tools::Ieee754Reading reading = tools::Ieee754FromHexText(typed);
        fuzzcheck::check(reading.ok(), "calculator: four well-formed pairs refused");
        const uint32_t pattern =
            (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
        fuzzcheck::check(reading.pattern == pattern, "calculator: pattern does not read back");
        checkReading(reading);
    }
    return 0;
}
