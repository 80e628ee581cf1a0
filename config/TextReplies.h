// Reading the converter's text replies: block marker, field tags and fixed-width values, and the
// decoders of the system parameter, test value and analog output blocks.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace config {

// The received text is the latest block as text (at most 255 characters, zero bytes included). It is
// searched, never parsed from its start: a marker or tag counts wherever it stands, its first
// occurrence wins, comparison is byte for byte and case-sensitive. Nothing is read past its end.

// Whether the block marker ("QX1", "QX2", "QX6"...) occurs anywhere.
bool containsMarker(std::string_view received, std::string_view marker);

// Position of the first character after the first occurrence of `tag` (a plain substring search:
// "MD:" is found inside "QMD:" but never in "MDL:" or "MDBS1:").
std::optional<std::size_t> findTag(std::string_view received, std::string_view tag);

// Position of the first character after the first place where `pattern` stands, each '?' of the
// pattern matching any one character ("MDBS?3:" finds "MDBS 3:" and "MDBSx3:", never "MDBS3:");
// nullopt when it stands nowhere.
std::optional<std::size_t> findPattern(std::string_view received, std::string_view pattern);

// Up to `width` characters from `pos`: fewer when the text ends first, empty when pos is at or past
// the end.
std::string clippedText(std::string_view received, std::size_t pos, std::size_t width);

// The `width` characters after the first occurrence of `tag`, clipped at the end; nullopt when the
// tag does not occur. Empty when the tag stands at the very end.
std::optional<std::string> tagText(std::string_view received, std::string_view tag, std::size_t width);

// The character at `pos` read as a decimal integer, 0..9. Throws tools::ConversionError
// "'%s' is not a valid integer value" with that one character, or with the empty text when `pos` is
// past the end.
int listDigitAt(std::string_view received, std::size_t pos);

// The `width` characters at `pos` (1..9) read together as one decimal number. Every one must be a
// decimal digit and all must be present; otherwise tools::ConversionError
// "'%s' is not a valid integer value" with the characters that are there.
int decimalAt(std::string_view received, std::size_t pos, std::size_t width);

// How a decoded range value is shown: the first 5 characters of tools::GeneralFloatText of the
// single widened to double (123456 shows as "12345", 0.1f as "0.100", 0 as "0").
std::string rangeDisplayText(float value);

// Every decoder result lists its fields in decoding order; a field is nullopt when its tag is absent
// (the window leaves the control as it is). `error` is the message that stopped the decoder: the
// fields before it carry their values, the field that failed and all later ones are nullopt. The
// window applies the fields in order and then shows the error. List fields hold the digit read
// (0..9); the window turns a digit beyond its list into "no selection".

// Reply to "QQQ#QX1#" (and to "QQQ#QV#", which shares its pending command).
struct SystemParameters {
    bool markerFound = false;                   // "QX1"; without it every field is nullopt
    std::optional<std::string> slaveAddress;    // "ADR:", 3 characters -> Edit14
    std::optional<int> baud1;                   // "BA1:" first character -> BRAT1
    std::optional<int> parity1;                 // "BA1:" second character -> XIAO1
    std::optional<int> baud2;                   // "BA2:" first character -> BRAT2
    std::optional<int> parity2;                 // "BA2:" second character -> XIAO2
    std::optional<int> workingMode;             // "MD:", 1 character -> ComboBox7
    std::optional<std::string> commandInterval; // "JTM:", 3 characters -> Edit6
    std::optional<std::string> error;
};
SystemParameters decodeSystemParameters(std::string_view received);

// Reply to "QQQ#QX6#". All fields are text taken as they stand, so nothing can fail.
struct TestValues {
    bool markerFound = false;                          // "QX6"
    std::optional<std::string> totalizer;              // "LJ:", 9 characters -> Edit3
    std::array<std::optional<std::string>, 8> outputs; // "VA0:".."VA7:", 5 characters -> AVO0..AVO7
};
TestValues decodeTestValues(std::string_view received);

// One "DAn:" row of the analog output reply: "DAn:" v s hhhhhhhh s hhhhhhhh.
struct AnalogOutputRow {
    int variable = 0;      // selection digit (k + 4) -> DOUTn
    std::string upperText; // 20 mA value (k + 6 .. k + 13) in rangeDisplayText -> DOUTnH
    std::string lowerText; // 4 mA value (k + 15 .. k + 22) in rangeDisplayText -> DOUTnL
    // The values themselves, which the five-character display cannot always show: what a backup
    // keeps. The hex digits as they stand (clipped at the end of the text), and floatFromHex of them.
    std::string upperHex;
    std::string lowerHex;
    float upper = 0;
    float lower = 0;
};

// Row "DOUTA<output>:" (key DA<output + 1>, output 0..7) wherever its tag stands, whatever the
// totalizer output; nullopt without its tag. Throws tools::ConversionError for a selection character
// that is no digit (or is missing).
std::optional<AnalogOutputRow> decodeAnalogOutputRow(std::string_view received, int output);

// What the reply does to rows "DOUTA4:".."DOUTA7:" (keys DA5..DA8, lists DOUT5..DOUT8, Set buttons
// Button12, Button36, Button37, Button38).
enum class LastRows {
    // A totalizer output is active (index in effect not 0): the window sets DOUT5..DOUT8 to index 0
    // and disables the four Set buttons; "DA5:".."DA8:" are not read.
    Closed,
    // Index in effect 0: the window enables the four Set buttons; lastRows then holds what was read.
    Enabled,
};

// Reply to "QQQ#QX2#". Apply in member order: totalizerOutput, firstRows, lastRowsState, lastRows,
// then show error.
struct AnalogOutputs {
    bool markerFound = false;                                // "QX2"
    std::optional<int> totalizerOutput;                      // "DL:" digit -> LEJIOUT
    std::array<std::optional<AnalogOutputRow>, 4> firstRows; // "DA1:".."DA4:" -> rows DOUTA0..DOUTA3
    std::optional<LastRows> lastRowsState;                   // nullopt when stopped before this step
    std::array<std::optional<AnalogOutputRow>, 4> lastRows;  // "DA5:".."DA8:" -> rows DOUTA4..DOUTA7
    std::optional<std::string> error;

    // Row "DOUTA<output>:", output 0..7.
    const std::optional<AnalogOutputRow>& row(int output) const;
};

// `currentTotalizerIndex` is LEJIOUT's selected index before the reply (kNoSelection allowed); it
// decides the last rows when the reply holds no "DL:". A decoded "DL:" digit takes its place, and a
// digit beyond LEJIOUT's nine items counts as no selection, which is "not 0".
AnalogOutputs decodeAnalogOutputs(std::string_view received, int currentTotalizerIndex);

} // namespace config
