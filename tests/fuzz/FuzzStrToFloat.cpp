// Strict float reading and the rounding to single of any typed text: a value read renders with
// GeneralFloatText and reads back within its 15 significant digits; the rounding either gives a
// finite single or the overflow message.
#include <cmath>
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/Conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);
    double value = 0;
    try {
        value = tools::StrToFloat(text);
    } catch (const tools::ConversionError& error) {
        const std::string expected = "'" + std::string(text) + "' is not a valid floating point value";
        check(error.what() == fuzzcheck::upToZero(expected), "StrToFloat: message");
        return 0;
    }
    check(std::isfinite(value), "StrToFloat: not finite");
    const double back = tools::StrToFloat(tools::GeneralFloatText(value));
    check(std::fabs(back - value) <= std::fabs(value) * 1e-14, "StrToFloat: rendering does not read back");
    try {
        const float single = tools::ToSingle(value);
        check(std::isfinite(single), "ToSingle: not finite");
    } catch (const tools::ConversionError& error) {
        check(std::string(error.what()) == "Floating point overflow", "ToSingle: message");
        check(std::fabs(value) > 3.4e38, "ToSingle: overflow below the single range");
    }
    return 0;
}
