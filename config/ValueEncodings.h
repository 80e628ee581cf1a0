// Value encodings of the converter's text commands, in both directions: list digits, fixed-width
// decimal digits and float hex. Every frame builder and reply decoder of this folder goes through them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace config {

// The index a list reports when it has no selected item (text typed that matches no item).
inline constexpr int kNoSelection = -1;

// A list as a frame reads it: its caption as the user sees it (named in refusals) and its item count.
struct ListField {
    std::string_view caption;
    int itemCount = 0;
};

// '0' + index. A frame must carry a digit the converter knows, so tools::InputRefused is thrown,
// naming the list, when the index is kNoSelection or lies beyond the list's items.
char listDigit(int index, const ListField& list);

// '4' + index, for lists whose items are the numbers "4" to "9"; refused like listDigit.
char offsetListDigit(int index, const ListField& list);

// The text read with tools::StrToInt and written as exactly `width` decimal digits with leading zeros
// (width 1..9). Throws tools::ConversionError when the text does not convert, then
// tools::InputRefused naming `caption` and the range when the value lies outside 0 .. 10^width - 1.
std::string decimalDigits(std::string_view text, int width, std::string_view caption);

// The single's 32-bit pattern as 8 upper-case hex digits, most significant first ("42C80000" for 100).
std::string floatHex(float value);

// The reverse of floatHex, as lenient as the converter's replies need: each character goes through
// tools::HexDigitValue (so lower case and any other character count as 0), and characters missing
// at the end of a text shorter than 8 count as 0. Characters after the eighth are ignored.
float floatFromHex(std::string_view digits);

} // namespace config
