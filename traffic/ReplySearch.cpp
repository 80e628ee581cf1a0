// The frame interpreter reading a block against the request it answers: the reply that request
// expects is looked for inside noise, the request's own bytes coming back are named an echo, and a
// block that holds no such reply is told by what it is not, never read as a frame made of garbage.
#include <algorithm>
#include <optional>
#include <string_view>

#include "tools/Bytes.h"
#include "tools/ModbusLayout.h"
#include "traffic/FrameSearch.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

using tools::asText;

bool startsWith(Bytes bytes, Bytes prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// "; 3 bytes of noise before it and 1 after it", or an empty text when there is none.
std::string noiseNote(std::size_t before, std::size_t after) {
    if (before == 0) {
        return after == 0 ? std::string() : "; " + Counted(after, "byte") + " of noise after it";
    }
    const std::string note = "; " + Counted(before, "byte") + " of noise before it";
    return after == 0 ? note : note + " and " + std::to_string(after) + " after it";
}

// A frame of `length` bytes found at `at` in a block of `size`: its meaning with the noise around it.
Reading found(std::string meaning, Verdict verdict, std::size_t at, std::size_t length, std::size_t size,
              Protocol protocol = Protocol::Text) {
    return {std::move(meaning) + noiseNote(at, size - at - length), verdict, at, length, protocol};
}

// What a block that holds no expected reply is by its own shape, when that is something real: text,
// or a MODBUS frame whose CRC covers the whole block. Anything else stays unnamed.
std::string whatItIs(Bytes bytes, int32_t pendingCommand) {
    return LooksLikeTextReply(bytes) ? "; " + ReadTextReply(bytes, pendingCommand).text
           : HasModbusCrc(bytes)     ? "; " + ModbusMeaning(bytes, Direction::Received).text
                                     : std::string();
}

// The best candidate a search for a MODBUS or HART reply found, told as the reply, or as what is
// wrong with the one found, or when there is none as what the bytes are; `headline` says what was
// looked for, `otherWhy` why a whole frame is not the one asked for.
Reading ranked(const CandidateRanking& ranking, Bytes bytes, int32_t pendingCommand, Protocol protocol,
               const std::string& headline, const std::string& otherWhy = {}) {
    const bool modbus = protocol == Protocol::Modbus;
    const auto frameText = [&](std::size_t at, std::size_t length) {
        return (modbus ? ModbusMeaning : HartMeaning)(bytes.subspan(at, length), Direction::Received);
    };
    const std::size_t size = bytes.size();
    const auto best = ranking.best();
    if (!best) {
        return {headline + whatItIs(bytes, pendingCommand), Verdict::Unexpected, 0, 0, protocol};
    }
    const Candidate& c = best->candidate;
    switch (best->rank) {
    case CandidateRank::Reply: {
        const FrameMeaning frame = frameText(c.at, c.length);
        return found(frame.text, frame.exception ? Verdict::Exception : Verdict::Good, c.at, c.length, size,
                     protocol);
    }
    case CandidateRank::Damaged:
        return found(headline + (modbus ? ": CRC wrong; " : ": check byte wrong; ") +
                         frameText(c.at, c.length).text,
                     Verdict::ChecksumWrong, c.at, c.length, size, protocol);
    case CandidateRank::Other:
        return found(headline + (otherWhy.empty() ? "" : ": " + otherWhy) + "; " +
                         frameText(c.at, c.length).text,
                     Verdict::Unexpected, c.at, c.length, size, protocol);
    case CandidateRank::Cut: {
        // The part of the frame that is there: "13 of the 41 bytes of the reply: ", or without a length
        // when the cut came before the bytes that announce it.
        const std::size_t present = size - c.at;
        const std::string part =
            c.length == 0
                ? "the first " + Counted(present, "byte") + " of a reply, cut before its length: "
                : std::to_string(present) + " of the " + std::to_string(c.length) + " bytes of the reply: ";
        return found(part + frameText(c.at, present).text, Verdict::Cut, c.at, present, size, protocol);
    }
    case CandidateRank::Stray: {
        const FrameMeaning frame = frameText(c.at, size - c.at);
        return found(headline + "; " + frame.text, Verdict::Unexpected, c.at, frame.length, size, protocol);
    }
    }
    return {};
}

// ---- MODBUS ----

Reading modbusAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    if (request.size() < 2) {
        return OwnShapeReading(bytes, pendingCommand);
    }
    using Answer = tools::ModbusAnswer;
    const uint8_t slave = request[0];
    const uint8_t function = request[1];
    // A read reply's byte count follows from the request's register or bit count.
    const int expected = tools::ModbusReplyByteCount(request);
    const std::size_t cutLength = expected >= 0 ? 5 + std::size_t(expected) : 0; // 0: not known
    const std::size_t size = bytes.size();
    std::string headline = "no MODBUS reply to slave " + std::to_string(slave) + " function " +
                           std::to_string(function) + " in " + Counted(size, "byte");

    CandidateRanking ranking;
    std::string otherWhy;
    for (std::size_t at = 0; at < size && !ranking.hasReply(); ++at) {
        if (bytes[at] != slave) {
            continue;
        }
        const Bytes from = bytes.subspan(at);
        const Answer answer = tools::ModbusReplyTo(request, from);
        if (answer.is == Answer::Is::No) {
            continue;
        }
        if (answer.is == Answer::Is::Incomplete) {
            // The head so far is the reply's; a lone slave address only when it is all the block holds.
            if (from.size() >= 2 || at == 0) {
                const bool exception = from.size() >= 2 && (from[1] & tools::kModbusExceptionBit) != 0;
                ranking.offer(CandidateRank::Cut, {at, exception ? 5 : from.size() < 3 ? cutLength : 0});
            }
            continue;
        }
        const bool headerRight = answer.mismatch == Answer::Mismatch::None;
        if (answer.length > from.size()) {
            if (headerRight) {
                ranking.offer(CandidateRank::Cut, {at, answer.length});
            }
            continue;
        }
        const bool crcRight = HasModbusCrc(from.first(answer.length));
        if (crcRight && headerRight) {
            ranking.offer(CandidateRank::Reply, {at, answer.length});
        } else if (crcRight) {
            if (otherWhy.empty()) {
                otherWhy = answer.mismatch == Answer::Mismatch::ByteCount
                               ? "byte count " + std::to_string(from[2]) + " where the request asks for " +
                                     std::to_string(expected)
                           : answer.mismatch == Answer::Mismatch::SubFunction
                               ? "not the sub-function (or MEI type) the request gave"
                               : "not the address and value (or start and count) the request gave";
            }
            ranking.offer(CandidateRank::Other, {at, answer.length});
        } else if (headerRight) {
            ranking.offer(CandidateRank::Damaged, {at, answer.length});
        }
    }
    return ranked(ranking, bytes, pendingCommand, Protocol::Modbus, headline, otherWhy);
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
    const std::size_t at = PreamblesEnd(request, 0);
    if (HartFrameStart(request, false) < 0 || at == request.size()) {
        return {};
    }
    const HartHeader header = ReadHartHeader(at, request[at]);
    if (header.type() != HartFrameType::MasterToSlave || header.commandAt >= request.size()) {
        return {};
    }
    return {true, request[header.commandAt], request.subspan(header.addressAt, header.addressLength)};
}

Reading hartAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    const HartRequest asked = hartRequest(request);
    const std::size_t size = bytes.size();
    const std::string headline =
        "no HART reply" + (asked.known ? " to command " + std::to_string(asked.command) : std::string()) +
        " in " + Counted(size, "byte");

    CandidateRanking ranking;
    for (std::size_t start = 0; start < size && !ranking.hasReply(); ++start) {
        // Each run of preambles once, from its first byte.
        if (bytes[start] != kHartPreamble || (start > 0 && bytes[start - 1] == kHartPreamble)) {
            continue;
        }
        const std::size_t at = PreamblesEnd(bytes, start);
        if (at == size) {
            // Preambles at the end of the block: a reply cut there, unless a lone 0xFF of noise.
            if (at - start >= 2 || start == 0) {
                ranking.offer(CandidateRank::Cut, {start, 0});
            }
            break;
        }
        const HartHeader header = ReadHartHeader(at, bytes[at]);
        if (header.type() == HartFrameType::MasterToSlave) {
            ranking.offer(CandidateRank::Stray, {start, 0});
            continue;
        }
        if (header.type() != HartFrameType::SlaveToMaster ||
            (asked.known && header.addressLength != asked.address.size())) {
            continue;
        }
        if (header.commandAt >= size) {
            ranking.offer(CandidateRank::Cut, {start, 0});
            continue;
        }
        const bool expected =
            !asked.known ||
            (bytes[header.commandAt] == asked.command &&
             SameHartAddress(bytes.subspan(header.addressAt, header.addressLength), asked.address));
        if (header.countAt >= size) {
            if (expected) {
                ranking.offer(CandidateRank::Cut, {start, 0});
            }
            continue;
        }
        const std::size_t end = header.end(bytes[header.countAt]);
        if (end > size) {
            if (expected) {
                ranking.offer(CandidateRank::Cut, {start, end - start});
            }
            continue;
        }
        const bool checkRight = HartCheckRight(bytes.subspan(header.delimiterAt, end - header.delimiterAt));
        const Candidate candidate{start, end - start};
        if (checkRight) {
            ranking.offer(expected ? CandidateRank::Reply : CandidateRank::Other, candidate);
        } else if (expected) {
            ranking.offer(CandidateRank::Damaged, candidate);
        }
    }
    return ranked(ranking, bytes, pendingCommand, Protocol::Hart, headline);
}

// ---- text ----

struct TextRequest {
    std::string_view head; // "QQQ#", "QQS#" or "TAVRIK#"; empty when the request is no whole command
    std::string_view key;
    bool hasValue = false;
};

TextRequest textRequest(Bytes request) {
    const std::string_view text = asText(request);
    TextRequest parsed{TextHead(text), {}, false};
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
        const std::string_view before = text.substr(0, keyStart);
        const auto* foundHead =
            std::ranges::find_if(kTextHeads, [&](std::string_view h) { return before.ends_with(h); });
        if (foundHead == std::end(kTextHeads) || (!head.empty() && *foundHead != head)) {
            continue;
        }
        const std::size_t at = keyStart - foundHead->size();
        return Acknowledgement{at, colon + 1 + (taken ? 3 : 4) - at, taken, *foundHead, foundKey};
    }
    return std::nullopt;
}

// Where the bytes end in the first characters of `reply` (at least one, not all of it): the start
// of the reply a pause cut off after them.
std::optional<std::size_t> endsInStartOf(std::string_view text, std::string_view reply) {
    for (std::size_t n = std::min(text.size(), reply.size() - 1); n > 0; --n) {
        if (text.ends_with(reply.substr(0, n))) {
            return text.size() - n;
        }
    }
    return std::nullopt;
}

// The reply to a text request cut before what tells it (its block marker, its OK or ERR): the
// bytes end in the start of "<head><key>:", or of the acknowledgement that echoes them.
std::optional<Reading> cutBeforeItsEnd(Bytes bytes, const TextRequest& asked) {
    const std::string_view text = asText(bytes);
    const std::string echo = std::string(asked.head) + std::string(asked.key) + ":";
    std::optional<std::size_t> at = endsInStartOf(text, echo);
    if (asked.hasValue || asked.head != "QQQ#") {
        // Set commands, output tests and the factory record are answered "<head><key>:OK#" or ":ERR#".
        for (const char* ending : {"OK#", "ERR#"}) {
            const auto whole = endsInStartOf(text, echo + ending);
            at = whole && (!at || *whole < *at) ? whole : at;
        }
    }
    if (!at) {
        return std::nullopt;
    }
    const std::size_t present = bytes.size() - *at;
    return found("the first " + Counted(present, "byte") + " of the reply to " + std::string(asked.head) +
                     Quoted(asked.key) + ", cut: '" + Quoted(text.substr(*at)) + "'",
                 Verdict::Cut, *at, present, bytes.size());
}

// A query's reply, found by its block marker as the window's decoder finds it. It starts at the
// query's head when that stands right before the marker; bytes that are no text after it are noise.
Reading blockAnswer(Bytes bytes, int32_t pendingCommand, const TextRequest& asked) {
    const std::string_view marker = asked.key;
    const std::string_view text = asText(bytes);
    const std::size_t position = text.find(marker);
    if (position == std::string_view::npos) {
        if (std::optional<Reading> cut = cutBeforeItsEnd(bytes, asked)) {
            return *cut;
        }
        return {"no " + std::string(marker) + " reply in " + Counted(bytes.size(), "byte") +
                    whatItIs(bytes, pendingCommand),
                Verdict::Unexpected};
    }
    constexpr std::string_view kHead = "QQQ#";
    const std::size_t start = text.substr(0, position).ends_with(kHead) ? position - kHead.size() : position;
    std::size_t end = bytes.size();
    while (end > position + marker.size() && !IsTextByte(bytes[end - 1])) {
        --end;
    }
    // Read by the fields the query's own decoder needs, whatever the exchange waited under (a frame typed
    // as it stands waits under none): a reply short of them is cut, and says which are missing.
    const TextReplyMeaning reply = ReadTextReply(bytes.subspan(start, end - start), QueryPending(asked.key));
    return found(reply.text, reply.whole ? Verdict::Good : Verdict::Cut, start, end - start, bytes.size());
}

Reading textAnswer(Bytes bytes, int32_t pendingCommand, Bytes request) {
    const TextRequest asked = textRequest(request);
    if (asked.key.empty()) {
        return OwnShapeReading(bytes, pendingCommand);
    }
    if (std::optional<Reading> acknowledgement = FindAcknowledgement(bytes, asked.head, asked.key)) {
        return *acknowledgement;
    }
    if (asked.head == "QQQ#" && !asked.hasValue && QueryPending(asked.key) != pending::None) {
        return blockAnswer(bytes, pendingCommand, asked);
    }
    if (IsCommunicationQuery(request)) {
        if (std::optional<Reading> reply = CommunicationReply(bytes)) {
            return *reply;
        }
    }
    if (const auto other = findAcknowledgement(asText(bytes), {}, {})) {
        const std::string_view shown = asText(bytes).substr(other->at, other->length);
        return found("reply " + Quoted(shown) + " answers " + std::string(other->head) +
                         std::string(other->key) + ", not the request's " + std::string(asked.head) +
                         Quoted(asked.key),
                     Verdict::Unexpected, other->at, other->length, bytes.size());
    }
    if (std::optional<Reading> cut = cutBeforeItsEnd(bytes, asked)) {
        return *cut;
    }
    // The converter's replies to set commands and tests have no documented shape beyond the
    // acknowledgement: anything else is shown as it came, not judged.
    Reading reading = OwnShapeReading(bytes, pendingCommand);
    reading.verdict = Verdict::None;
    return reading;
}

} // namespace

bool IsCommunicationQuery(Bytes request) {
    return asText(request) == "QQQ#QV#";
}

std::optional<Reading> CommunicationReply(Bytes bytes) {
    constexpr std::string_view kHead = "QQQ#QV:";
    const std::string_view text = asText(bytes);
    const std::size_t at = text.find(kHead);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t hash = text.find('#', at + kHead.size());
    if (hash == std::string_view::npos) {
        return found("the communication query's reply, cut before its closing #: '" +
                         Quoted(text.substr(at)) + "'",
                     Verdict::Cut, at, bytes.size() - at, bytes.size());
    }
    const std::string_view identity = text.substr(at + kHead.size(), hash - at - kHead.size());
    return found("communication query answered: converter '" + Quoted(identity) + "'", Verdict::Good, at,
                 hash + 1 - at, bytes.size());
}

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
    // A MODBUS reply laid out as its request (a write acknowledged by repeating it, a diagnostic
    // whose counter reads 0) can be the same bytes: the last copy is the slave's reply.
    // (A request too short to hold a function code has no such layout.)
    if (echoed > 0 && echoed == bytes.size() && request.size() >= 2 &&
        FrameProtocol(request, pendingCommand) == Protocol::Modbus && tools::ModbusReplySharesLayout(request[1])) {
        echoed -= request.size();
    }
    if (echoed == bytes.size()) {
        const Reading sent = SentReading(request, pendingCommand);
        return {"echo of the request: " + sent.meaning, Verdict::Echo, 0, bytes.size(), sent.protocol};
    }
    if (echoed > 0) {
        Reading rest = AnswerReading(bytes.subspan(echoed), pendingCommand, request);
        rest.meaning = "echo of the request (" + Counted(echoed, "byte") + "), then " + rest.meaning;
        if (rest.frameLength > 0) {
            rest.frameOffset += echoed;
        }
        return rest;
    }
    switch (FrameProtocol(request, pendingCommand)) {
    case Protocol::Text:
        return textAnswer(bytes, pendingCommand, request);
    case Protocol::Modbus:
        return modbusAnswer(bytes, pendingCommand, request);
    case Protocol::Hart:
        return hartAnswer(bytes, pendingCommand, request);
    case Protocol::None:
        break;
    }
    return OwnShapeReading(bytes, pendingCommand);
}

} // namespace traffic::detail
