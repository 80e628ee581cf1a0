// The frame interpreter: what a request or a received block means, in one line, and whether a block
// is the reply its request expects. Plain C++ so that the traffic monitor, the window's status line,
// a command-line tool and a fuzz harness can all call it with just the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace traffic {

enum class Direction {
    Sent,     // a request written to the port
    Received, // a block delivered by the port
};

// Pending command codes of the exchange: the request whose reply is awaited (0: none). They decide
// what a received block is expected to be.
namespace pending {
inline constexpr int32_t None = 0;
inline constexpr int32_t HartIdentity = 100;
inline constexpr int32_t HartVariables = 103;
inline constexpr int32_t HartManual = 104;
inline constexpr int32_t HartAddress = 106;
inline constexpr int32_t SetCommand = 200;
inline constexpr int32_t SystemParameters = 201;
inline constexpr int32_t AnalogOutputs = 202;
inline constexpr int32_t CustomHart = 203;
inline constexpr int32_t ParseFormat = 204;
inline constexpr int32_t TestValues = 206;
inline constexpr int32_t ModbusTest = 302;
} // namespace pending

// What the exchange waits for under a pending command, for people: the code followed by its name
// ("201 System Parameters", "302 MODBUS Test", "0 None"), or the code alone for one the exchange never
// records. With `request`, the reply to it is named by its frame where it shares its code with another
// request: "201 Communication Query" for "QQQ#QV#".
std::string PendingText(int32_t pendingCommand, std::span<const uint8_t> request = {});
// The pending command under which the exchange decodes the reply to a configuration query ("QX1":
// 201, "QX2": 202...); None for a key without a decoder.
int32_t QueryPending(std::string_view key);

// How a received block stands against the request it answers.
enum class Verdict : uint8_t {
    None, // a request, or a block with nothing to judge (a reply nobody waits for, "not recognised")
    Good, // the reply its request expects, whole and with its check passing: a text reply carrying
          // its block marker, a HART reply whose check byte is right, a MODBUS reply whose CRC is right
    Acknowledged,  // a set command's (or output test's, factory record's) reply that says it was taken:
                   // "<head><key>:OK#"
    Refused,       // ... that says it was refused: "<head><key>:ERR#"
    ChecksumWrong, // HART check byte wrong, MODBUS CRC wrong
    Exception,     // a MODBUS exception reply (CRC right)
    Cut,           // a reply shorter than its header announces (cut by a pause)
    Echo,          // the request's own bytes came back (half-duplex adapters echo)
    Unexpected,    // the block holds no reply of the kind the request expects
};

// ChecksumWrong, Exception, Cut, Unexpected and Refused: what a status line shows as a fault.
bool IsFault(Verdict verdict);
// A few words for people: "no verdict", "good", "acknowledged", "refused", "CRC or check byte wrong",
// "exception", "cut short", "echo", "unexpected".
std::string_view VerdictText(Verdict verdict);

// What kind of frame a reading describes.
enum class Protocol : uint8_t {
    None,   // nothing recognised, or an empty block
    Text,   // the converter's text command set
    Hart,   // a HART frame (through the converter in transparent mode)
    Modbus, // a MODBUS RTU frame
};

struct Reading {
    std::string meaning; // the one line Interpret returns
    Verdict verdict = Verdict::None;
    std::size_t frameOffset = 0; // where the frame the meaning describes starts in the block
    std::size_t frameLength = 0; // its length (0 when no frame was found)
    Protocol protocol = Protocol::None;
};

// For a reader that stops as soon as a reply is whole instead of waiting for the line to go quiet:
// whether the block read against its request holds that reply whole (its verdict good, a MODBUS
// exception, an acknowledgement or refusal that echoes the request), shows that more of it is still
// to come (cut short, or only the request's echo so far), or says neither (only silence ends it).
enum class ReplyEnd : uint8_t { Whole, Partial, Unknown };
ReplyEnd ReplyEndOf(const Reading& reading);

// What the bytes are, in one line (no line break, no tab), and how they stand against the request:
// a text command by name and value, a text reply by its block markers and fields (a query's reply is
// good only when every field its decoder reads is there at its full width and a "#" closes it,
// otherwise cut; a set command's reply only when it echoes the request's head and key), a MODBUS RTU or
// HART frame field by field with its checksum verdict, or their length and "not recognised".
// `pendingCommand` is the code recorded by the exchange at that moment: for a sent frame the one the
// request set, for a received block the one it is handled under.
//
// `request` is the frame the block answers (the last one sent); empty when unknown, which reads the
// block by its own shape and the pending command alone. With a request, a block that does not read as
// the reply that request expects is searched for that reply (MODBUS: the request's slave and function
// or its exception, the right byte count, a valid CRC; HART: preambles, a slave's delimiter, the
// request's command, a valid check byte; text: the block marker, or the acknowledgement of the
// request's key). A reply found inside noise is described as itself, with the bytes of noise before
// and after it counted; a block that holds none says what it is not, and never reads garbage as a
// frame. A frame whose check fails or that is cut short is still placed (frameOffset, frameLength)
// when its header is the expected one, and so is a whole frame that is not the one asked for (another
// byte count, command or device; verdict Unexpected). A sent frame is all of its bytes, verdict None.
// Any bytes are accepted; nothing past the spans is read.
Reading Read(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand,
             std::span<const uint8_t> request = {});

// Read(bytes, direction, pendingCommand).meaning.
std::string Interpret(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand);

} // namespace traffic
