// Hex and number conversions: byte and digit hex, the 15-digit general float text and the strict
// readings of typed integers and floats. Nothing here touches the C locale of the process.
#include "tools/Conversions.h"

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tools {

namespace {

// Written once at start-up and read by the user-interface thread; atomic so that a test or a tool
// that sets it from another thread is still well defined.
std::atomic<char> decimalSeparator{'.'};

// Only the space character counts as a blank in typed numbers; a tab is an ordinary character and
// makes the text invalid.
constexpr char kBlank = ' ';

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// Value of a hex digit of either case, or -1.
int hexDigitOfEitherCase(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

[[noreturn]] void throwNotInteger(std::string_view text) {
    throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void throwNotFloat(std::string_view text) {
    throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
}

// The 15 significant digits of a finite non-zero magnitude, trailing zeros removed, and the exponent
// E of the form 0.d1d2... x 10^E. std::to_chars rounds correctly and ignores the locale; letting it
// do the rounding also takes care of a carry into a new digit (9.999999999999999 -> 1.0e+01).
struct SignificantDigits {
    std::string digits;
    int exponent = 0;
};

SignificantDigits roundTo15Digits(double magnitude) {
    // "d.dddddddddddddde-ddd" fits in 32 characters with room to spare.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));

    const size_t ePos = text.find('e');
    SignificantDigits out;
    out.digits.reserve(15);
    for (char c : text.substr(0, ePos))
        if (isDecimalDigit(c))
            out.digits.push_back(c);
    while (out.digits.size() > 1 && out.digits.back() == '0')
        out.digits.pop_back();

    int exponent10 = 0;
    std::string_view exponentText = text.substr(ePos + 1);
    if (!exponentText.empty() && exponentText.front() == '+')
        exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent10);
    out.exponent = exponent10 + 1;
    return out;
}

} // namespace

std::string ByteToHex(int32_t value) {
    if (value < 0 || value > 255)
        return ".";
    return {kHexDigits[static_cast<size_t>(value / 16)], kHexDigits[static_cast<size_t>(value % 16)]};
}

uint8_t HexDigitValue(std::string_view text) {
    if (text.size() != 1)
        return 0;
    const int value = UpperHexDigit(text.front());
    return static_cast<uint8_t>(value < 0 ? 0 : value);
}

int UpperHexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string BytesToHexText(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        text += ByteToHex(b);
        text += ' ';
    }
    return text;
}

void SetDecimalSeparator(char separator) {
    decimalSeparator.store(separator, std::memory_order_relaxed);
}

char DecimalSeparator() {
    return decimalSeparator.load(std::memory_order_relaxed);
}

std::string GeneralFloatText(double value) {
    const bool negative = std::signbit(value);
    if (std::isnan(value))
        return negative ? "-NAN" : "NAN";
    if (std::isinf(value))
        return negative ? "-INF" : "INF";
    // Negative zero is not a negative value: it shows as "0" like positive zero.
    if (value == 0)
        return "0";

    const SignificantDigits sd = roundTo15Digits(std::fabs(value));
    const int digitCount = static_cast<int>(sd.digits.size());
    const char separator = DecimalSeparator();

    std::string text;
    text.reserve(24);
    if (negative)
        text += '-';

    if (sd.exponent >= -3 && sd.exponent <= 15) {
        if (sd.exponent <= 0) {
            text += '0';
            text += separator;
            text.append(static_cast<size_t>(-sd.exponent), '0');
            text += sd.digits;
        } else if (digitCount <= sd.exponent) {
            text += sd.digits;
            text.append(static_cast<size_t>(sd.exponent - digitCount), '0');
        } else {
            text.append(sd.digits, 0, static_cast<size_t>(sd.exponent));
            text += separator;
            text.append(sd.digits, static_cast<size_t>(sd.exponent));
        }
        return text;
    }

    text += sd.digits.front();
    if (digitCount > 1) {
        text += separator;
        text.append(sd.digits, 1);
    }
    text += 'E';
    text += std::to_string(sd.exponent - 1);
    return text;
}

int32_t StrToInt(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == kBlank)
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }

    int base = 10;
    const std::string_view rest = text.substr(pos);
    if (rest.starts_with("0x") || rest.starts_with("0X")) {
        base = 16;
        pos += 2;
    } else if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
        base = 16;
        pos += 1;
    }

    if (pos >= text.size())
        throwNotInteger(text);

    // The magnitude may reach 2^31 for the one negative value that has no positive counterpart;
    // anything beyond that is out of range however many digits follow.
    constexpr uint64_t kMaxMagnitude = uint64_t{1} << 31;
    uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit =
            base == 16 ? hexDigitOfEitherCase(text[pos]) : (isDecimalDigit(text[pos]) ? text[pos] - '0' : -1);
        if (digit < 0)
            throwNotInteger(text);
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (magnitude > kMaxMagnitude)
            throwNotInteger(text);
    }

    if (negative)
        return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        throwNotInteger(text);
    return static_cast<int32_t>(magnitude);
}

int32_t StrToIntUpTo(std::string_view text, int32_t maximum, std::string_view caption) {
    const int32_t value = StrToInt(text);
    if (value < 0 || value > maximum)
        throw InputRefused(std::string(caption) + " must be between 0 and " + std::to_string(maximum));
    return value;
}

namespace {

// StrToFloat's reading; a number beyond double's range is reported through `beyondDouble` (and reads
// as 0) so that each caller can say what that means for it.
double readFloat(std::string_view text, bool& beyondDouble) {
    beyondDouble = false;
    const char separator = DecimalSeparator();

    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && text[begin] == kBlank)
        ++begin;
    while (end > begin && text[end - 1] == kBlank)
        --end;

    // Check the grammar here and build a copy with '.' as the separator, so that std::from_chars
    // (which knows nothing of locales) can do the correctly rounded conversion.
    std::string normalized;
    normalized.reserve(end - begin);
    size_t pos = begin;
    bool negative = false;
    if (pos < end && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }

    // Decimal exponent of the leading non-zero mantissa digit, used only to tell an overflow from
    // an underflow when from_chars reports the result out of range.
    int64_t leadingExponent = 0;
    bool seenNonZero = false;
    int integerDigits = 0;
    int fractionDigits = 0;
    for (; pos < end && isDecimalDigit(text[pos]); ++pos, ++integerDigits) {
        normalized += text[pos];
        if (seenNonZero)
            ++leadingExponent;
        else if (text[pos] != '0')
            seenNonZero = true;
    }
    // The point is read as the decimal separator in every locale (start texts, values pasted from
    // elsewhere), besides the locale's own; either may appear once, and nowhere else.
    if (pos < end && (text[pos] == separator || text[pos] == '.')) {
        normalized += '.';
        ++pos;
        int64_t zerosBeforeFirst = 0;
        for (; pos < end && isDecimalDigit(text[pos]); ++pos, ++fractionDigits) {
            normalized += text[pos];
            if (!seenNonZero) {
                if (text[pos] != '0') {
                    seenNonZero = true;
                    leadingExponent = -(zerosBeforeFirst + 1);
                } else {
                    ++zerosBeforeFirst;
                }
            }
        }
    }
    if (integerDigits + fractionDigits == 0)
        throwNotFloat(text);

    int64_t explicitExponent = 0;
    if (pos < end && (text[pos] == 'e' || text[pos] == 'E')) {
        normalized += 'e';
        ++pos;
        bool exponentNegative = false;
        if (pos < end && (text[pos] == '-' || text[pos] == '+')) {
            exponentNegative = text[pos] == '-';
            normalized += text[pos];
            ++pos;
        }
        int exponentDigits = 0;
        for (; pos < end && isDecimalDigit(text[pos]); ++pos, ++exponentDigits) {
            normalized += text[pos];
            // Saturate: only the sign of (leading + explicit) matters beyond double's range.
            if (explicitExponent < 1'000'000'000)
                explicitExponent = explicitExponent * 10 + (text[pos] - '0');
        }
        if (exponentDigits == 0)
            throwNotFloat(text);
        if (exponentNegative)
            explicitExponent = -explicitExponent;
    }
    if (pos != end)
        throwNotFloat(text);

    double magnitude = 0;
    const auto result = std::from_chars(normalized.data(), normalized.data() + normalized.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond double's range is not a value the program can hold; a value too small for it
        // simply becomes zero, as a field cannot show the difference anyway.
        if (seenNonZero && leadingExponent + explicitExponent >= 0)
            beyondDouble = true;
        magnitude = 0;
    } else if (result.ec != std::errc() || result.ptr != normalized.data() + normalized.size()) {
        throwNotFloat(text);
    }
    return negative ? -magnitude : magnitude;
}

} // namespace

double StrToFloat(std::string_view text) {
    bool beyondDouble = false;
    const double value = readFloat(text, beyondDouble);
    if (beyondDouble)
        throwNotFloat(text);
    return value;
}

float StrToSingle(std::string_view text) {
    bool beyondDouble = false;
    const double value = readFloat(text, beyondDouble);
    // A number too large for a double is all the more too large for a single.
    if (beyondDouble)
        throw ConversionError("Floating point overflow");
    return ToSingle(value);
}

float ToSingle(double value) {
    // A not-a-number is representable as a single; it stays one, sign kept, so that its float hex
    // still says "-NAN" or "NAN" when shown back.
    if (std::isnan(value))
        return std::copysign(std::numeric_limits<float>::quiet_NaN(), std::signbit(value) ? -1.0f : 1.0f);
    // Halfway between FLT_MAX and 2^128: ties go to even, and FLT_MAX has an odd mantissa, so this
    // value and everything above it round to infinity.
    constexpr double kOverflowThreshold = 0x1.ffffffp+127;
    if (std::fabs(value) >= kOverflowThreshold)
        throw ConversionError("Floating point overflow");
    return static_cast<float>(value);
}

std::string ShortestSingleText(float value) {
    if (!std::isfinite(value))
        return {};
    // std::to_chars finds the shortest digits that round to the single directly; StrToFloat goes
    // through a double first, so the rare text that rounds differently that way gets more digits.
    char buffer[64];
    for (int precision = 0; precision <= 9; ++precision) {
        const auto result = precision == 0
                                ? std::to_chars(buffer, buffer + sizeof buffer, value)
                                : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                                                precision);
        const std::string text(buffer, result.ptr);
        const float back = ToSingle(StrToFloat(text));
        if (std::bit_cast<uint32_t>(back) == std::bit_cast<uint32_t>(value))
            return text;
    }
    return {}; // not reached: nine significant digits always read back
}

std::string FormatZeroPadded(int32_t value, std::string_view zeroPattern) {
    size_t minimumDigits = 0;
    for (char c : zeroPattern)
        if (c == '0')
            ++minimumDigits;

    // Work on the magnitude as an unsigned value so that INT32_MIN needs no special case.
    const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const std::string digits = std::to_string(magnitude);

    std::string text;
    if (value < 0)
        text += '-';
    if (digits.size() < minimumDigits)
        text.append(minimumDigits - digits.size(), '0');
    text += digits;
    return text;
}

} // namespace tools
