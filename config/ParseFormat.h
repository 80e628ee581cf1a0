// The HART data parsing format: how the converter cuts the eight variables out of its two HART
// commands' data (format, address, length, coefficient) and the address bit; their set commands, the
// query and the decoder of its reply.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace config {

inline constexpr int kParseVariables = 8;   // rows "Command 1 Variable 1" .. "Command 2 Variable 8"
inline constexpr int kParseFormatItems = 2; // FAMOUTn: the two IEEE-754 byte orders
inline constexpr int kAddressBitItems = 6;  // ComboBox15: "4" .. "9"
inline constexpr std::size_t kCoefficientWidth = 5;

// "QQS#MDBSn:f,aa,l,ccccc#" (23 characters) for variable n = 1..8, read in frame order:
//  - the format list (refused at kNoSelection or beyond its two items);
//  - the address text, tools::StrToInt, refused outside 0..99 ("<row> Address must be between 0 and 99");
//  - the length list ("4 Bit", "8 Bit", and for variables 2 and 3 a third, empty item sent as "2");
//  - the coefficient text: its first five characters as they stand; a shorter text is refused, since
//    the converter reads exactly five.
// Failures as in TextCommands.h: tools::ConversionError for an address that does not convert,
// tools::InputRefused for the rest; <row> is "Command 1 Variable 1" .. "Command 2 Variable 8". A variable
// outside 1..8 is a programming error (std::out_of_range).
std::string parseFormatFrame(int variable, int formatIndex, std::string_view addressText, int lengthIndex,
                             std::string_view coefficientText);

// "QQS#MDL:d#": the item of "Address Bit" (index 0..5 for "4".."9") as its own digit.
std::string addressBitFrame(int addressBitIndex);

// "QQQ#QX4#".
std::string parseFormatQueryFrame();

// One variable's fields as the reply gives them, in decoding order; nullopt where the variable's tag is
// absent or decoding stopped before the field.
struct ParseFormatRow {
    std::optional<int> format;              // digit -> FAMOUTn's index
    std::optional<std::string> address;     // 2 characters as they stand -> READADRn
    std::optional<int> length;              // digit -> READLGn's index
    std::optional<std::string> coefficient; // 5 characters as they stand -> Xishoun
};

// Reply to "QQQ#QX4#": marker "QX4"; "MDL:" and the address bit digit; per variable n the tag "MDBS",
// any one character, the digit n and ":" (one character more than the set command's tag), then the
// value with format at 0, address at 2..3, length at 5, coefficient at 7..11 after the colon. Each
// search runs from the start of the text. Apply in member order, then show `error`: fields before the
// failing one keep their values, that one and all later ones (later rows included) are nullopt.
struct ParseFormatReply {
    bool markerFound = false;
    std::optional<int> addressBitIndex; // the digit less 4 -> ComboBox15 (below 0: no selection)
    std::array<ParseFormatRow, kParseVariables> rows;
    std::optional<std::string> error;
};
ParseFormatReply decodeParseFormat(std::string_view received);

} // namespace config
