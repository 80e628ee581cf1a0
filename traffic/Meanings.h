// Inside the frame interpreter: one reader per kind of traffic and the small text helpers they share.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "traffic/Interpreter.h"

namespace traffic::detail {

using Bytes = std::span<const uint8_t>;

// What a frame's own check said, as far as the bytes given to a reader go.
enum class FrameCheck {
    None,  // nothing to check (text, a frame that is no frame)
    Good,  // CRC or check byte right
    Wrong, // CRC or check byte wrong
    Cut,   // the frame ends before its header says it does
};

// A binary frame read by its reader: the meaning, the check, and where the frame lies in the bytes.
struct FrameMeaning {
    std::string text;
    FrameCheck check = FrameCheck::None;
    bool exception = false;     // a MODBUS exception reply
    bool masterToSlave = false; // a HART request frame
    std::size_t start = 0;      // the frame's first byte (HART: its first preamble)
    std::size_t length = 0;     // what the frame takes of the bytes; 0 when no frame was found
};

// A text reply read by its block markers and fields.
struct TextReplyMeaning {
    std::string text;
    bool expectedMarker = false; // the marker of the block the pending command decodes is there
    // ... with every field its decoder reads there at its full width, and a '#' after the last
    // value: the reply is whole. Only then good; with the marker but not whole, cut.
    bool whole = false;
};

// Each reader returns the whole meaning of bytes it is given.
std::string TextCommandMeaning(Bytes bytes);
TextReplyMeaning ReadTextReply(Bytes bytes, int32_t pendingCommand);
FrameMeaning HartMeaning(Bytes bytes, Direction direction);
FrameMeaning ModbusMeaning(Bytes bytes, Direction direction);

// The communication query ("QQQ#QV#"), which waits under the system parameters' code.
bool IsCommunicationQuery(Bytes request);
// The communication query's reply, "QQQ#QV:" then the converter's identity up to a '#', where the
// bytes hold its head: good with the identity once the '#' is there, cut before.
std::optional<Reading> CommunicationReply(Bytes bytes);

// The protocol a frame sent under `pendingCommand` is read by, which also picks the search for its reply.
Protocol FrameProtocol(Bytes frame, int32_t pendingCommand);
// A sent frame's meaning; a received block read by its own shape and the pending command alone; a
// received block read against the request it answers (searched for the reply that request expects).
Reading SentReading(Bytes bytes, int32_t pendingCommand);
Reading OwnShapeReading(Bytes bytes, int32_t pendingCommand);
Reading AnswerReading(Bytes bytes, int32_t pendingCommand, Bytes request);

// The first "<head><key>:OK#" or "<head><key>:ERR#" in the bytes, read as an acknowledgement or a
// refusal with the noise around it; an empty head or key stands for any.
std::optional<Reading> FindAcknowledgement(Bytes bytes, std::string_view head, std::string_view key);

// "; 3 bytes of noise before it and 1 after it", or an empty text when there is none.
std::string NoiseNote(std::size_t before, std::size_t after);

// Recognisers used to pick a reader.
bool StartsLikeTextCommand(Bytes bytes);
bool LooksLikeTextReply(Bytes bytes);
// Whether the text holds the marker of a query's reply block ("QX1").
bool HoldsBlockMarker(std::string_view text);
// Printable ASCII, or a line break or tab.
bool IsTextByte(uint8_t byte);

// The heads of the converter's text frames, and the one `text` starts with (or an empty text).
inline constexpr std::string_view kTextHeads[] = {"QQQ#", "QQS#", "TAVRIK#"};
std::string_view TextHead(std::string_view text);
// Offset of the first preamble byte of a HART frame (0xFF followed, after more 0xFF, by a known
// delimiter), or -1. Only the start is tried unless `search` is set.
long HartFrameStart(Bytes bytes, bool search);
// A frame of at least four bytes whose last two are its CRC-16/MODBUS.
bool HasModbusCrc(Bytes bytes);
// The marker of the text block that `pendingCommand` decodes ("QX1"), or an empty text.
std::string_view BlockMarkerFor(int32_t pendingCommand);

// A protocol code or flag bit with its name, for the tables of names the readers keep.
struct CodeName {
    uint8_t code;
    std::string_view name;
};
// The name of `code` in `names`, or an empty text.
std::string_view NameOf(uint8_t code, std::span<const CodeName> names);
// "6 (write polling address)": the code in decimal, with its name when `names` has one.
std::string CodeWithName(uint8_t code, std::span<const CodeName> names);

// A frame's check as found and as its bytes give it: "; CRC 12 34 ok" or "; check byte 7F wrong,
// expected 3A", then the bytes that follow it; returns Good or Wrong.
FrameCheck AppendCheck(std::string& out, std::string_view name, Bytes found, Bytes expected,
                       std::size_t after);

// "1 byte", "3 bytes": a count with its noun, singular or plural.
std::string Counted(std::size_t count, std::string_view noun);

// "76 89 FD AD": each byte as two upper-case hex digits, separated by blanks (no trailing one).
std::string HexBytes(Bytes bytes);
// Bytes of a frame quoted in a meaning: printable ASCII as it stands, anything else as \xNN, so the
// meaning stays one line without tabs.
std::string Quoted(std::string_view text);
// The shortest text that reads back as the same single-precision value ("100", "0.1", "-1.5e-41").
std::string FloatText(float value);

} // namespace traffic::detail
