// Inside the frame interpreter: one reader per kind of traffic and the small text helpers they share.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "traffic/Interpreter.h"

namespace traffic::detail {

using Bytes = std::span<const uint8_t>;

// Each reader returns the whole meaning of bytes it is given.
std::string TextCommandMeaning(Bytes bytes);
std::string TextReplyMeaning(Bytes bytes, int32_t pendingCommand);
std::string HartMeaning(Bytes bytes, Direction direction);
std::string ModbusMeaning(Bytes bytes, Direction direction);

// Recognisers used to pick a reader.
bool StartsLikeTextCommand(Bytes bytes);
bool LooksLikeTextReply(Bytes bytes);
// Offset of the first preamble byte of a HART frame (0xFF followed, after more 0xFF, by a known
// delimiter), or -1. Only the start is tried unless `search` is set.
long HartFrameStart(Bytes bytes, bool search);
// A frame of at least four bytes whose last two are its CRC-16/MODBUS.
bool HasModbusCrc(Bytes bytes);

// A protocol code or flag bit with its name, for the tables of names the readers keep.
struct CodeName {
    uint8_t code;
    std::string_view name;
};
// The name of `code` in `names`, or an empty text.
std::string_view NameOf(uint8_t code, std::span<const CodeName> names);
// "6 (write polling address)": the code in decimal, with its name when `names` has one.
std::string CodeWithName(uint8_t code, std::span<const CodeName> names);

// "1 byte", "3 bytes": a count with its noun, singular or plural.
std::string Counted(std::size_t count, std::string_view noun);

// "76 89 FD AD": each byte as two upper-case hex digits, separated by blanks (no trailing one).
std::string HexBytes(Bytes bytes);
// Bytes of a frame quoted in a meaning: printable ASCII as it stands, anything else as \xNN, so the
// meaning stays one line without tabs.
std::string Quoted(std::string_view text);
// The shortest text that reads back as the same single-precision value ("100", "0.1", "-1.5e-41").
std::string FloatText(float value);
// A single-precision value from four bytes, most significant first.
float FloatFromBytes(uint8_t b3, uint8_t b2, uint8_t b1, uint8_t b0);

} // namespace traffic::detail
