// Strict integer reading of any typed text. Whatever reads must render and read back to itself; the
// decimal rendering of any 32-bit value taken from the input reads back to that value; a failure
// carries the runtime's message with the text.
#include <cstring>
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/Conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);
    try {
        const int32_t value = tools::StrToInt(text);
        check(tools::StrToInt(std::to_string(value)) == value, "StrToInt: value does not read back");
    } catch (const tools::ConversionError& error) {
        const std::string expected = "'" + std::string(text) + "' is not a valid integer value";
        check(error.what() == fuzzcheck::upToZero(expected), "StrToInt: message");
    }
    if (size >= 4) {
        int32_t value = 0;
        std::memcpy(&value, data, sizeof value);
        check(tools::StrToInt(std::to_string(value)) == value, "StrToInt: decimal rendering");
        check(tools::StrToInt(" " + std::to_string(value)) == value, "StrToInt: leading blank");
    }
    return 0;
}
