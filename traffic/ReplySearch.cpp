// The frame interpreter reading a block against the request it answers: the reply that request
// expects is looked for inside noise, the request's own bytes coming back are named an echo, and a
// block that holds no such reply is told by what it is not, never read as a frame made of garbage.
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

using namespace std::string_view_literals;

constexpr uint8_t kPreamble = 0xFF;
constexpr uint8_t kExceptionBit = 0x80;
// A MODBUS RTU frame is at most this long.
constexpr std::size_t kModbusMaxFrame = 256;
constexpr std::array kTextHeads = {"QQQ#"sv, "QQS#"sv, "TAVRIK#"sv};

std::string_view asText(Bytes bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool startsWith(Bytes bytes, Bytes prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

uint16_t word(Bytes bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

// A frame of `length` bytes found at `at` in a block of `size`: its meaning with the noise around it.
Reading found(std::string meaning, Verdict verdict, std::size_t at, std::size_t length, std::size_t size) {
    meaning += NoiseNote(at, size - at - length);
    return {std::move(meaning), verdict, at, length};
}

// The part of a cut frame that is there: "13 of the 41 bytes of the reply: ", or without a length
// when the cut came before the bytes that announce it.
std::string cutHead(std::size_t present, std::size_t announced) {
    if (announced == 0) {
        return "the first " + Counted(present, "byte") + " of a reply, cut before its length: ";
    }
    return std::to_string(present) + " of the " + std::to_string(announced) + " bytes of the reply: ";
}

// What a block that holds no expected reply is by its own shape, when that is something real: text,
// or a MODBUS frame whose CRC covers the whole block. Anything else stays unnamed.
std::string whatItIs(Bytes bytes, int32_t pendingCommand) {
    if (LooksLikeTextReply(bytes)) {
        return "; " + ReadTextReply(bytes, pendingCommand).text;
    }
    if (HasModbusCrc(bytes)) {
        return "; " + ModbusMeaning(bytes, Direction::Received).text;
    }
    return {};
}

// Where a candidate frame lies; `length` is what its header announces (0: not known yet).
struct Candidate {
    std::size_t at = 0;
    std::size_t length = 0;
};

void keepFirst(std::optional<Candidate>& slot, Candidate candidate) {
    if (!slot) {
        slot = candidate;
    }
}

// ---- MODBUS ----

Reading modbusAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    if (request.size() < 2) {
        return OwnShapeReading(bytes, pendingCommand);
    }
    const uint8_t slave = request[0];
    const uint8_t function = request[1];
    const bool reads = function >= 1 && function <= 4;
    const bool writes = function == 5 || function == 6 || function == 15 || function == 16;
    // A read reply's byte count follows from the request's register or bit count.
    std::optional<std::size_t> expectedCount;
    if (reads && request.size() >= 6) {
        const std::size_t count = word(request, 4);
        expectedCount = function <= 2 ? (count + 7) / 8 : 2 * count;
    }
    const std::size_t size = bytes.size();
    const std::string headline = "no MODBUS reply to slave " + std::to_string(slave) + " function " +
                                 std::to_string(function) + " in " + Counted(size, "byte");

    std::optional<Candidate> reply;   // the expected header, the CRC right
    std::optional<Candidate> damaged; // the expected header, the CRC wrong
    std::optional<Candidate> other;   // a whole frame of this slave and function, not the one asked for
    std::optional<Candidate> cut;     // the expected header, the block ends inside the frame
    std::string otherWhy;
    for (std::size_t at = 0; at < size && !reply; ++at) {
        if (bytes[at] != slave) {
            continue;
        }
        const std::size_t left = size - at;
        if (left == 1) {
            // A lone slave address is a cut reply only when it is all the block holds.
            if (at == 0) {
                keepFirst(cut, {at, expectedCount ? 5 + *expectedCount : 0});
            }
            continue;
        }
        const uint8_t code = bytes[at + 1];
        std::size_t length = 0;
        bool headerRight = true;
        if (code == (function | kExceptionBit)) {
            length = 5;
        } else if (code != function) {
            continue;
        } else if (reads) {
            if (left < 3) {
                keepFirst(cut, {at, expectedCount ? 5 + *expectedCount : 0});
                continue;
            }
            length = 5 + std::size_t{bytes[at + 2]};
            headerRight = !expectedCount || bytes[at + 2] == *expectedCount;
        } else if (writes) {
            length = 8;
        } else {
            // A function whose reply layout is not known here: the shortest frame whose CRC holds.
            for (std::size_t n = 4; n <= std::min(left, kModbusMaxFrame) && !reply; ++n) {
                if (HasModbusCrc(bytes.subspan(at, n))) {
                    reply = Candidate{at, n};
                }
            }
            continue;
        }
        if (length > left) {
            if (headerRight) {
                keepFirst(cut, {at, length});
            }
            continue;
        }
        const Bytes frame = bytes.subspan(at, length);
        // A write is answered with the address and value (or start and count) it was given.
        if (writes && code == function && request.size() >= 6) {
            headerRight = std::equal(frame.begin() + 2, frame.begin() + 6, request.begin() + 2);
        }
        const bool crcRight = HasModbusCrc(frame);
        if (crcRight && headerRight) {
            reply = Candidate{at, length};
        } else if (crcRight) {
            if (!other) {
                other = Candidate{at, length};
                otherWhy = reads ? "byte count " + std::to_string(bytes[at + 2]) +
                                       " where the request asks for " + std::to_string(*expectedCount)
                                 : "not the address and value (or start and count) the request gave";
            }
        } else if (headerRight) {
            keepFirst(damaged, {at, length});
        }
    }

    const auto frameText = [&](const Candidate& c) {
        return ModbusMeaning(bytes.subspan(c.at, c.length), Direction::Received);
    };
    if (reply) {
        const FrameMeaning frame = frameText(*reply);
        return found(frame.text, frame.exception ? Verdict::Exception : Verdict::Good, reply->at,
                     reply->length, size);
    }
    if (damaged) {
        return found(headline + ": CRC wrong; " + frameText(*damaged).text, Verdict::ChecksumWrong,
                     damaged->at, damaged->length, size);
    }
    if (other) {
        return found(headline + ": " + otherWhy + "; " + frameText(*other).text, Verdict::Unexpected,
                     other->at, other->length, size);
    }
    if (cut) {
        const std::size_t present = size - cut->at;
        return found(cutHead(present, cut->length) +
                         ModbusMeaning(bytes.subspan(cut->at), Direction::Received).text,
                     Verdict::Cut, cut->at, present, size);
    }
    return {headline + whatItIs(bytes, pendingCommand), Verdict::Unexpected};
}

// ---- HART ----

// What a reply to a HART request must carry: the request's command and address. Unknown for a frame
// typed by hand that is no master's request; then any slave's frame is taken.
struct HartRequest {
    bool known = false;
    uint8_t command = 0;
    Bytes address;
};

HartRequest hartRequest(Bytes request) {
    const long start = HartFrameStart(request, false);
    if (start < 0) {
        return {};
    }
    std::size_t at = static_cast<std::size_t>(start);
    while (at < request.size() && request[at] == kPreamble) {
        ++at;
    }
    if (at == request.size() || (request[at] & 0x07) != 2) {
        return {};
    }
    const uint8_t delimiter = request[at];
    const std::size_t addressLength = (delimiter & 0x80) != 0 ? 5 : 1;
    const std::size_t commandAt = at + 1 + addressLength + ((delimiter >> 5) & 0x03);
    if (commandAt >= request.size()) {
        return {};
    }
    return {true, request[commandAt], request.subspan(at + 1, addressLength)};
}

// The reply carries the request's address; the master and burst bits of its first byte are the
// reply's own.
bool sameAddress(Bytes reply, Bytes request) {
    return reply.size() == request.size() && (reply[0] & 0x3F) == (request[0] & 0x3F) &&
           std::equal(reply.begin() + 1, reply.end(), request.begin() + 1);
}

Reading hartAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    const HartRequest asked = hartRequest(request);
    const std::size_t size = bytes.size();
    const std::string headline =
        "no HART reply" + (asked.known ? " to command " + std::to_string(asked.command) : std::string()) +
        " in " + Counted(size, "byte");

    std::optional<Candidate> reply, damaged, other, cut, masterFrame;
    for (std::size_t start = 0; start < size && !reply; ++start) {
        // Each run of preambles once, from its first byte.
        if (bytes[start] != kPreamble || (start > 0 && bytes[start - 1] == kPreamble)) {
            continue;
        }
        std::size_t at = start;
        while (at < size && bytes[at] == kPreamble) {
            ++at;
        }
        if (at == size) {
            // Preambles at the end of the block: a reply cut there, unless a lone 0xFF of noise.
            if (at - start >= 2 || start == 0) {
                keepFirst(cut, {start, 0});
            }
            break;
        }
        const uint8_t delimiter = bytes[at];
        const int type = delimiter & 0x07;
        if (type == 2) {
            keepFirst(masterFrame, {start, 0});
            continue;
        }
        if (type != 6) {
            continue;
        }
        const std::size_t addressLength = (delimiter & 0x80) != 0 ? 5 : 1;
        if (asked.known && addressLength != asked.address.size()) {
            continue;
        }
        const std::size_t commandAt = at + 1 + addressLength + ((delimiter >> 5) & 0x03);
        if (commandAt >= size) {
            keepFirst(cut, {start, 0});
            continue;
        }
        const bool expected =
            !asked.known || (bytes[commandAt] == asked.command &&
                             sameAddress(bytes.subspan(at + 1, addressLength), asked.address));
        const std::size_t countAt = commandAt + 1;
        if (countAt >= size) {
            if (expected) {
                keepFirst(cut, {start, 0});
            }
            continue;
        }
        const std::size_t end = countAt + 1 + bytes[countAt] + 1; // just after the check byte
        if (end > size) {
            if (expected) {
                keepFirst(cut, {start, end - start});
            }
            continue;
        }
        uint8_t check = 0;
        for (std::size_t i = at; i + 1 < end; ++i) {
            check ^= bytes[i];
        }
        const bool checkRight = check == bytes[end - 1];
        const Candidate candidate{start, end - start};
        if (checkRight && expected) {
            reply = candidate;
        } else if (checkRight) {
            keepFirst(other, candidate);
        } else if (expected) {
            keepFirst(damaged, candidate);
        }
    }

    const auto frameText = [&](const Candidate& c) {
        return HartMeaning(bytes.subspan(c.at, c.length), Direction::Received).text;
    };
    if (reply) {
        return found(frameText(*reply), Verdict::Good, reply->at, reply->length, size);
    }
    if (damaged) {
        return found(headline + ": check byte wrong; " + frameText(*damaged), Verdict::ChecksumWrong,
                     damaged->at, damaged->length, size);
    }
    if (other) {
        return found(headline + "; " + frameText(*other), Verdict::Unexpected, other->at, other->length,
                     size);
    }
    if (cut) {
        const std::size_t present = size - cut->at;
        return found(cutHead(present, cut->length) +
                         HartMeaning(bytes.subspan(cut->at), Direction::Received).text,
                     Verdict::Cut, cut->at, present, size);
    }
    if (masterFrame) {
        const FrameMeaning frame = HartMeaning(bytes.subspan(masterFrame->at), Direction::Received);
        return found(headline + "; " + frame.text, Verdict::Unexpected, masterFrame->at, frame.length, size);
    }
    return {headline + whatItIs(bytes, pendingCommand), Verdict::Unexpected};
}

// ---- text ----

struct TextRequest {
    std::string_view head; // "QQQ#", "QQS#" or "TAVRIK#"; empty when the request is no whole command
    std::string_view key;
    bool hasValue = false;
};

TextRequest textRequest(Bytes request) {
    const std::string_view text = asText(request);
    TextRequest parsed;
    for (std::string_view head : kTextHeads) {
        if (text.starts_with(head)) {
            parsed.head = head;
        }
    }
    const std::string_view rest = text.substr(parsed.head.size());
    if (parsed.head == "QQS#" && rest.starts_with("CAMD")) {
        // The read meter command's raw bytes may hold ':' and '#'; its key is "CAMD0n".
        parsed.key = rest.substr(0, std::min<std::size_t>(rest.size(), 6));
        parsed.hasValue = true;
        return parsed;
    }
    const std::size_t keyEnd = rest.find_first_of(":#");
    if (parsed.head.empty() || keyEnd == std::string_view::npos) {
        return {};
    }
    parsed.key = rest.substr(0, keyEnd);
    parsed.hasValue = rest[keyEnd] == ':';
    return parsed;
}

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isTextByte(uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t';
}

struct Acknowledgement {
    std::size_t at = 0;
    std::size_t length = 0;
    bool taken = false;
    std::string_view head;
    std::string_view key;
};

std::optional<Acknowledgement> findAcknowledgement(std::string_view text, std::string_view head,
                                                   std::string_view key) {
    for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
         colon = text.find(':', colon + 1)) {
        const std::string_view after = text.substr(colon + 1);
        const bool taken = after.starts_with("OK#");
        if (!taken && !after.starts_with("ERR#")) {
            continue;
        }
        std::size_t keyStart = colon;
        while (keyStart > 0 && isKeyCharacter(text[keyStart - 1])) {
            --keyStart;
        }
        const std::string_view foundKey = text.substr(keyStart, colon - keyStart);
        if (foundKey.empty() || (!key.empty() && foundKey != key)) {
            continue;
        }
        std::string_view foundHead;
        for (std::string_view candidate : kTextHeads) {
            if (keyStart >= candidate.size() &&
                text.substr(keyStart - candidate.size(), candidate.size()) == candidate) {
                foundHead = candidate;
            }
        }
        if (foundHead.empty() || (!head.empty() && foundHead != head)) {
            continue;
        }
        const std::size_t at = keyStart - foundHead.size();
        return Acknowledgement{at, colon + 1 + (taken ? 3 : 4) - at, taken, foundHead, foundKey};
    }
    return std::nullopt;
}

bool isBlockMarker(std::string_view key) {
    for (int32_t code : {pending::SystemParameters, pending::AnalogOutputs, pending::CustomHart,
                         pending::ParseFormat, pending::TestValues}) {
        if (BlockMarkerFor(code) == key) {
            return true;
        }
    }
    return false;
}

// A query's reply, found by its block marker as the window's decoder finds it. It starts at the
// query's head when that stands right before the marker; bytes that are no text after it are noise.
Reading blockAnswer(Bytes bytes, int32_t pendingCommand, std::string_view marker) {
    const std::string_view text = asText(bytes);
    const std::size_t position = text.find(marker);
    if (position == std::string_view::npos) {
        return {"no " + std::string(marker) + " reply in " + Counted(bytes.size(), "byte") +
                    whatItIs(bytes, pendingCommand),
                Verdict::Unexpected};
    }
    constexpr std::string_view kHead = "QQQ#";
    const std::size_t start =
        position >= kHead.size() && text.substr(position - kHead.size(), kHead.size()) == kHead
            ? position - kHead.size()
            : position;
    std::size_t end = bytes.size();
    while (end > position + marker.size() && !isTextByte(bytes[end - 1])) {
        --end;
    }
    const TextReplyMeaning reply = ReadTextReply(bytes.subspan(start, end - start), pendingCommand);
    return found(reply.text, reply.fieldCut ? Verdict::Cut : Verdict::Good, start, end - start, bytes.size());
}

Reading textAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    const TextRequest asked = textRequest(request);
    if (asked.key.empty()) {
        return OwnShapeReading(bytes, pendingCommand);
    }
    if (std::optional<Reading> acknowledgement = FindAcknowledgement(bytes, asked.head, asked.key)) {
        return *acknowledgement;
    }
    if (asked.head == "QQQ#" && !asked.hasValue && isBlockMarker(asked.key)) {
        return blockAnswer(bytes, pendingCommand, asked.key);
    }
    if (const auto other = findAcknowledgement(asText(bytes), {}, {})) {
        const std::string_view shown = asText(bytes).substr(other->at, other->length);
        return found("reply " + Quoted(shown) + " answers " + std::string(other->head) +
                         std::string(other->key) + ", not the request's " + std::string(asked.head) +
                         Quoted(asked.key),
                     Verdict::Unexpected, other->at, other->length, bytes.size());
    }
    // A query without a block marker (the communication query) is answered by its head and key, then
    // text up to a "#": placed, so the noise around it is told apart, but not judged.
    const std::string_view text = asText(bytes);
    const std::string prefix = std::string(asked.head) + std::string(asked.key) + ":";
    if (const std::size_t at = text.find(prefix); asked.head == "QQQ#" && !asked.hasValue && at != text.npos) {
        const std::size_t hash = text.find('#', at + prefix.size());
        const std::size_t length = (hash == text.npos ? text.size() : hash + 1) - at;
        Reading reply = OwnShapeReading(bytes.subspan(at, length), pendingCommand);
        return found(reply.meaning, Verdict::None, at, length, bytes.size());
    }
    // The converter's replies to set commands and tests have no documented shape beyond the
    // acknowledgement: anything else is shown as it came, not judged.
    Reading reading = OwnShapeReading(bytes, pendingCommand);
    reading.verdict = Verdict::None;
    return reading;
}

} // namespace

std::optional<Reading> FindAcknowledgement(Bytes bytes, std::string_view head, std::string_view key) {
    const std::string_view text = asText(bytes);
    const std::optional<Acknowledgement> match = findAcknowledgement(text, head, key);
    if (!match) {
        return std::nullopt;
    }
    const std::string shown = Quoted(text.substr(match->at, match->length));
    return found("reply " + shown + (match->taken ? ": the command was taken" : ": the command was refused"),
                 match->taken ? Verdict::Acknowledged : Verdict::Refused, match->at, match->length,
                 bytes.size());
}

Reading AnswerReading(Bytes bytes, int32_t pendingCommand, Bytes request) {
    // Half-duplex adapters hand back what they write, before the reply or instead of it.
    std::size_t echoed = 0;
    while (!request.empty() && bytes.size() - echoed >= request.size() &&
           startsWith(bytes.subspan(echoed), request)) {
        echoed += request.size();
    }
    if (echoed == bytes.size()) {
        return {"echo of the request: " + SentMeaning(request, pendingCommand), Verdict::Echo, 0,
                bytes.size()};
    }
    if (echoed > 0) {
        Reading rest = AnswerReading(bytes.subspan(echoed), pendingCommand, request);
        rest.meaning = "echo of the request (" + Counted(echoed, "byte") + "), then " + rest.meaning;
        if (rest.frameLength > 0) {
            rest.frameOffset += echoed;
        }
        return rest;
    }
    if (StartsLikeTextCommand(request)) {
        return textAnswer(bytes, pendingCommand, request);
    }
    // As for a sent frame: the MODBUS test's slave address 255 is no preamble.
    if (pendingCommand == pending::ModbusTest) {
        return modbusAnswer(bytes, pendingCommand, request);
    }
    if (HartFrameStart(request, false) >= 0) {
        return hartAnswer(bytes, pendingCommand, request);
    }
    if (HasModbusCrc(request)) {
        return modbusAnswer(bytes, pendingCommand, request);
    }
    return OwnShapeReading(bytes, pendingCommand);
}

} // namespace traffic::detail
