// Hex and number conversions shared by every part of the tool: byte and digit hex, the general
// float text shown in the fields, and the strict text-to-number readings of typed fields.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tools {

// Base of every error whose message the window shows to the user as it stands.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A typed text that does not convert ("'%s' is not a valid integer value",
// "'%s' is not a valid floating point value", "Floating point overflow").
class ConversionError : public Error {
public:
    using Error::Error;
};

// A value that converts but that the frame cannot carry (a slave address of 1000, a list with no
// selected item...). Raised before anything is cleared or sent.
class InputRefused : public Error {
public:
    using Error::Error;
};

// The one table of hex digits: upper case, index = digit value.
inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Two upper-case hex digits for 0..255; "." above 255. Negative values are outside the domain and
// give "." as well.
std::string ByteToHex(int32_t value);

// Exactly "0".."9" and "A".."F" give 0..15; every other text (lower case, two characters, empty) 0.
uint8_t HexDigitValue(std::string_view text);

// The strict form for typed hex pairs: "0".."9" and "A".."F" give 0..15, any other character -1
// (lower case and blanks included), so a caller can refuse the pair.
int UpperHexDigit(char c);

// Each byte as ByteToHex followed by one blank ("FF 06 1A "), the form binary frames are shown in.
std::string BytesToHexText(std::span<const uint8_t> bytes);

// The decimal separator GeneralFloatText shows and StrToFloat reads besides the point. The program
// sets it once at start-up from the user's locale; tests set it explicitly. Defaults to '.'.
void SetDecimalSeparator(char separator);
char DecimalSeparator();

// The general number format with 15 significant digits: fixed notation for -3 <= E <= 15 (value
// written as 0.d1d2... x 10^E), otherwise scientific ("1E20", "9.99999997475243E-7"); "INF" and
// "NAN", with "-" when the sign bit is set. Negative zero is not negative and gives "0".
// Independent of the process's C locale.
std::string GeneralFloatText(double value);

// Strict integer reading: leading blanks, optional sign, decimal digits or hex digits after "$",
// "x", "X", "0x", "0X"; nothing may follow; signed 32-bit range.
// Blanks are spaces only (a tab makes the text invalid). The sign comes before the prefix ("-$1");
// hex digits give a magnitude like decimal ones, so "$FFFFFFFF" is out of range rather than -1 and
// "-$80000000" is the lowest value.
// Throws ConversionError("'<text>' is not a valid integer value").
int32_t StrToInt(std::string_view text);

// Strict float reading: optional sign, digits, fraction, exponent. The fraction follows either the
// point or DecimalSeparator(), once; neither is valid anywhere else (no grouping: "1.000,5" is not a
// number). Leading and trailing spaces are ignored; "5." and ".5" are numbers, a comma where the
// separator is the point, "inf", "nan" and hex floats are not. A value beyond double's range is not a valid
// floating point value; one too small for it reads as zero. Independent of the process's C locale. Throws
// ConversionError("'<text>' is not a valid floating point value").
double StrToFloat(std::string_view text);

// StrToInt for a number a frame carries only in 0..maximum: its ConversionError first, then
// InputRefused("<caption> must be between 0 and <maximum>") for a value outside the range.
int32_t StrToIntUpTo(std::string_view text, int32_t maximum, std::string_view caption);

// StrToFloat rounded with ToSingle, for a value typed for a single: a number beyond double's range
// ("1E400") is "Floating point overflow" like any other number too large for a single; a text that is
// no number is "'<text>' is not a valid floating point value".
float StrToSingle(std::string_view text);

// Rounds to the nearest single; throws ConversionError("Floating point overflow") when the
// magnitude does not round to a finite single (infinity included). A not-a-number stays one, sign
// kept; values too small for a single become subnormal or zero without error.
float ToSingle(double value);

// The shortest text that StrToFloat and ToSingle read back as exactly this single ("100", "0.1",
// "-1.5e-41", "-0"), with the point as its separator; empty for an infinity or a not-a-number, which no
// text reads as.
std::string ShortestSingleText(float value);

// Integer formatted with a zero pattern ("000", "00000000"): at least that many digits with leading
// zeros, all digits when there are more, "-" before the digits of a negative number. The minimum
// is the number of '0' characters in the pattern.
std::string FormatZeroPadded(int32_t value, std::string_view zeroPattern);

} // namespace tools
