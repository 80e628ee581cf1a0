// The bus monitor's framer: frames by content at the head of the stream, noise where none starts,
// the expected reply named even when damaged, and each reply paired with its request.
#include "traffic/BusFramer.h"

#include <algorithm>

#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "tools/ModbusLayout.h"
#include "traffic/FrameSearch.h"
#include "traffic/Meanings.h"

namespace traffic {

namespace {

using Bytes = std::span<const uint8_t>;
using detail::HasModbusCrc;
using detail::TextHead;
using tools::asText;

constexpr uint8_t kMaxModbusSlave = 247;
// More preambles than a HART master or slave sends (5 to 20): the ones before these are noise, so a
// line stuck at 0xFF is not held as the start of a frame.
constexpr std::size_t kMaxPreambles = 32;
// A text frame longer than this is no command or reply of the converter.
constexpr std::size_t kMaxTextFrame = 255;
// The read meter command's header position by position ("QQS#CAMD01:1<03,"): 'd' a digit, 'n' the
// command number 1 or 2, any other character itself; its two count digits are at 13 and 14, and the
// raw bytes that follow have no closing '#'.
constexpr std::string_view kMeterCommandShape = "QQS#CAMDdn:d<dd,";

// What the bytes at the head of the stream are.
struct Outcome {
    BusKind kind = BusKind::Noise;
    BusRole role = BusRole::Noise;
    std::size_t length = 0; // a frame's length; 0 when no frame
    std::size_t need = 0;   // a frame may start here once this many bytes are there
    std::size_t noise = 1;  // with neither: how many bytes are noise for certain

    bool isFrame() const { return length > 0; }
};

// A shape of frame at the head, as far as the bytes there tell.
struct Shape {
    enum class Is : uint8_t { No, Incomplete, Known } is = Is::No;
    std::size_t length = 0; // Known: the frame's length; Incomplete: the bytes needed to know it
};
constexpr Shape kNo{};
Shape known(std::size_t length) {
    return {Shape::Is::Known, length};
}
Shape incomplete(std::size_t need) {
    return {Shape::Is::Incomplete, need};
}

// ---- HART: the preambles, then the one reading of the header (FrameSearch) ----

// The header of a frame at the start of `b`: at least two preambles, then a delimiter of a master,
// slave or burst frame of the asynchronous physical layer (bits 3 and 4 clear), the address,
// expansion bytes, command and byte count. Incomplete when `b` ends inside it; `noise` says how many
// leading bytes cannot start a frame.
struct HartHead {
    Shape shape;
    HartHeader header;
    std::size_t noise = 1;
};

HartHead readHartHeader(Bytes b) {
    HartHead head;
    const std::size_t preambles = PreamblesEnd(b, 0);
    // Preambles beyond the most a frame has are noise, and so is a run that leads to no frame.
    if (preambles > kMaxPreambles) {
        head.noise = preambles - kMaxPreambles;
        return head;
    }
    if (preambles == b.size()) {
        head.shape = incomplete(preambles + 1);
        head.noise = preambles;
        return head;
    }
    head.noise = std::max<std::size_t>(preambles, 1);
    const uint8_t delimiter = b[preambles];
    if (preambles < 2 || (delimiter & 0x18) != 0 || !IsHartDelimiter(delimiter)) {
        return head;
    }
    head.header = ReadHartHeader(preambles, delimiter);
    const HartHeader& h = head.header;
    head.shape = b.size() <= h.countAt ? incomplete(h.countAt + 1) : known(h.end(b[h.countAt]));
    return head;
}

// The length of `reply` when it is a slave's frame answering `request` (its command, to its
// device), otherwise 0.
std::size_t hartReplyLength(Bytes reply, Bytes request) {
    const HartHead r = readHartHeader(reply);
    const HartHead q = readHartHeader(request);
    const HartHeader &rh = r.header, &qh = q.header;
    const bool answers = r.shape.is == Shape::Is::Known && q.shape.is == Shape::Is::Known &&
                         rh.type() == HartFrameType::SlaveToMaster &&
                         reply[rh.commandAt] == request[qh.commandAt] &&
                         SameHartAddress(reply.subspan(rh.addressAt, rh.addressLength),
                                         request.subspan(qh.addressAt, qh.addressLength));
    return answers ? r.shape.length : 0;
}

// ---- text ----

bool isPrintable(uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

// The key of a text frame ("QX1" of "QQQ#QX1:ADR..."), after its head up to ':' or '#'.
std::string_view keyOf(std::string_view text) {
    const std::string_view rest = text.substr(TextHead(text).size());
    return rest.substr(0, std::min(rest.find_first_of(":#"), rest.size()));
}

// Printable characters from `from` up to a '#' that closes the frame, no new head inside.
Shape printableUpToHash(Bytes b, std::size_t from) {
    for (std::size_t i = from; i < std::min(b.size(), kMaxTextFrame); ++i) {
        if (b[i] == '#') {
            return known(i + 1);
        }
        if (!isPrintable(b[i]) || (i > 0 && !TextHead(asText(b.subspan(i))).empty())) {
            return kNo;
        }
    }
    return b.size() >= kMaxTextFrame ? kNo : incomplete(b.size() + 1);
}

Shape textFrame(Bytes b) {
    for (std::string_view head : detail::kTextHeads) {
        const std::size_t n = std::min(b.size(), head.size());
        if (asText(b.first(n)) != head.substr(0, n)) {
            continue;
        }
        if (n < head.size()) {
            return incomplete(head.size());
        }
        const std::string_view meter =
            kMeterCommandShape.substr(0, std::min(b.size(), kMeterCommandShape.size()));
        if (meter.size() > 8 && asText(b.first(8)) == kMeterCommandShape.substr(0, 8)) {
            for (std::size_t i = 8; i < meter.size(); ++i) {
                const char shape = meter[i];
                const auto c = static_cast<char>(b[i]);
                const bool fits = shape == 'd'   ? (c >= '0' && c <= '9')
                                  : shape == 'n' ? (c == '1' || c == '2')
                                                 : c == shape;
                if (!fits) {
                    return printableUpToHash(b, head.size());
                }
            }
            if (b.size() < kMeterCommandShape.size()) {
                return incomplete(kMeterCommandShape.size());
            }
            return known(kMeterCommandShape.size() + std::size_t((b[13] - '0') * 10 + (b[14] - '0')));
        }
        return printableUpToHash(b, head.size());
    }
    return kNo;
}

// A reply without a head is taken only when it says what it is: an acknowledgement or a block with
// its marker, so printable noise ending in '#' is not read as one.
bool headlessReplyHolds(Bytes frame) {
    const std::string_view text = asText(frame);
    return text == "OK#" || text == "ERR#" || text.ends_with(":OK#") || text.ends_with(":ERR#") ||
           detail::HoldsBlockMarker(text);
}

// A text frame that answers rather than asks: an acknowledgement, or a query's block.
bool isTextReply(std::string_view text) {
    if (text.ends_with(":OK#") || text.ends_with(":ERR#")) {
        return true;
    }
    const std::string_view key = keyOf(text);
    const bool hasValue = text.size() > 4 + key.size() && text[4 + key.size()] == ':';
    if (TextHead(text) != "QQQ#" || !hasValue) {
        return false;
    }
    return key == "QV" || QueryPending(key) != pending::None;
}

// ---- the request a reply answers ----

bool answers(const BusFramer::Waiting& waiting, Bytes reply, BusKind kind, BusRole role) {
    if (role != BusRole::Reply || kind != waiting.kind) {
        return false;
    }
    const Bytes request = *waiting.bytes;
    switch (kind) {
    case BusKind::Modbus:
        return reply[0] == request[0] && (reply[1] & ~tools::kModbusExceptionBit) == request[1];
    case BusKind::Hart:
        return hartReplyLength(reply, request) > 0;
    case BusKind::Text: {
        const std::string_view text = asText(reply);
        const std::string_view asked = asText(request);
        return TextHead(text).empty() || (TextHead(text) == TextHead(asked) && keyOf(text) == keyOf(asked));
    }
    case BusKind::Noise:
        break;
    }
    return false;
}

// ---- the head of the stream ----

// Combines the shapes found: the first one whose check holds is the frame.
class Search {
public:
    Search(Bytes b, bool final) : b_(b), final_(final) {}

    // Returns true when the shape is a frame whose check holds and no shape considered before it
    // still waits for bytes (the order is the order of preference, so the frame found does not
    // depend on where the delivery cut the stream).
    bool consider(Shape shape, BusKind kind, BusRole role, bool (*holds)(Bytes)) {
        if (outcome_.need > 0) {
            return false;
        }
        std::size_t need = 0;
        if (shape.is == Shape::Is::Incomplete) {
            need = shape.length;
        } else if (shape.is == Shape::Is::Known) {
            if (shape.length > b_.size()) {
                need = shape.length;
            } else if (holds(b_.first(shape.length))) {
                outcome_ = {kind, role, shape.length};
                return true;
            }
        }
        if (need > 0 && !final_) {
            outcome_.need = need;
        }
        return false;
    }
    // A MODBUS RTU frame of `role` by the layout its function code implies, taken only when its
    // fields are ones a master or slave sends.
    bool modbus(tools::ModbusRole role) {
        const auto [layout, fields] = tools::ReadModbusFrame(b_, role);
        const bool holds =
            fields.is == tools::ModbusFieldsFit::Is::Yes && layout.is == tools::ModbusLayout::Is::Known;
        const Shape shape = fields.is == tools::ModbusFieldsFit::Is::Incomplete ? incomplete(fields.need)
                            : holds                                             ? known(layout.length)
                                                                                : kNo;
        return consider(shape, BusKind::Modbus,
                        role == tools::ModbusRole::Request ? BusRole::Request : BusRole::Reply, HasModbusCrc);
    }
    void noise(std::size_t count) { outcome_.noise = std::max(outcome_.noise, count); }
    const Outcome& outcome() const { return outcome_; }

private:
    Bytes b_;
    bool final_;
    Outcome outcome_;
};

bool hartCheckHolds(Bytes frame) {
    return HartCheckRight(frame.subspan(readHartHeader(frame).header.delimiterAt));
}

bool alwaysWhole(Bytes) {
    return true;
}

Outcome matchHead(Bytes b, bool final, const std::optional<BusFramer::Waiting>& waiting) {
    Search search(b, final);
    const uint8_t first = b[0];
    if (first == kHartPreamble) {
        const HartHead head = readHartHeader(b);
        const BusRole role =
            head.header.type() == HartFrameType::MasterToSlave ? BusRole::Request : BusRole::Reply;
        if (!search.consider(head.shape, BusKind::Hart, role, hartCheckHolds) && search.outcome().need == 0) {
            // A run of preambles that leads to no frame leads to none from any of its bytes.
            search.noise(head.noise);
        }
        return search.outcome();
    }
    const Shape text = first == 'Q' || first == 'T' ? textFrame(b) : kNo;
    if (text.is != Shape::Is::No) {
        const Shape shape = text;
        const BusRole role = shape.is == Shape::Is::Known && shape.length <= b.size() &&
                                     isTextReply(asText(b.first(shape.length)))
                                 ? BusRole::Reply
                                 : BusRole::Request;
        if (search.consider(shape, BusKind::Text, role, alwaysWhole)) {
            Outcome found = search.outcome();
            // A frame like the waiting request's (same head and key) that is not its copy answers it.
            const Bytes frame = b.first(found.length);
            if (found.role == BusRole::Request && waiting && waiting->kind == BusKind::Text &&
                answers(*waiting, frame, BusKind::Text, BusRole::Reply) &&
                !std::ranges::equal(frame, *waiting->bytes)) {
                found.role = BusRole::Reply;
            }
            return found;
        }
    }
    // A reply without a head, while a text request waits; never the start of a headed frame.
    const bool textWaits = waiting && waiting->kind == BusKind::Text && text.is == Shape::Is::No;
    if (textWaits && isPrintable(first) &&
        search.consider(printableUpToHash(b, 0), BusKind::Text, BusRole::Reply, headlessReplyHolds)) {
        return search.outcome();
    }
    if (first > kMaxModbusSlave) {
        return search.outcome();
    }
    using tools::ModbusRole;
    if (b.size() < 2) {
        search.modbus(ModbusRole::Request); // the function code decides
        return search.outcome();
    }
    const uint8_t function = b[1];
    if ((function & tools::kModbusExceptionBit) != 0) {
        search.modbus(ModbusRole::Reply);
        return search.outcome();
    }
    if (!tools::IsModbusFunction(function)) {
        return search.outcome();
    }
    const Bytes asked = waiting && waiting->kind == BusKind::Modbus ? Bytes(*waiting->bytes) : Bytes();
    const bool replyAwaited = asked.size() >= 2 && asked[0] == first && asked[1] == function;
    if (function == 5 || function == 6) {
        // Request and reply are the same bytes: a copy of the waiting request is its reply.
        const bool isFrame = search.modbus(ModbusRole::Request);
        Outcome found = search.outcome();
        if (isFrame && replyAwaited && std::ranges::equal(b.first(found.length), asked)) {
            found.role = BusRole::Reply;
        }
        return found;
    }
    // Where a request and a reply of the same length could both hold, the one awaited is tried first.
    const ModbusRole awaited = replyAwaited ? ModbusRole::Reply : ModbusRole::Request;
    search.modbus(awaited) ||
        search.modbus(awaited == ModbusRole::Reply ? ModbusRole::Request : ModbusRole::Reply);
    return search.outcome();
}

// The reply `request` expects, looked for in a run of noise from `at`: its length when the header
// is there (the run may end before that length: a cut reply), 0 when it is not.
std::size_t expectedModbusReply(Bytes run, std::size_t at, Bytes request) {
    if (request.size() < 6 || run.size() - at < 3 || run[at] != request[0]) {
        return 0;
    }
    const Bytes b = run.subspan(at);
    if (b[1] == (request[1] | tools::kModbusExceptionBit)) {
        return tools::IsModbusExceptionCode(b[2]) ? 5 : 0;
    }
    if (b[1] != request[1]) {
        return 0;
    }
    const int count = tools::ModbusReplyByteCount(request);
    if (count >= 0) {
        return b[2] == count ? 5 + std::size_t(count) : 0;
    }
    // A write's reply repeats its address and value, or its start and count.
    if (b.size() < 6 || !std::equal(b.begin() + 2, b.begin() + 6, request.begin() + 2)) {
        return 0;
    }
    return 8;
}

std::size_t expectedHartReply(Bytes run, std::size_t at, Bytes request) {
    const bool runStart = run[at] == kHartPreamble && (at == 0 || run[at - 1] != kHartPreamble);
    return runStart ? hartReplyLength(run.subspan(at), request) : 0;
}

} // namespace

std::string_view BusKindText(BusKind kind) {
    constexpr std::string_view kNames[] = {"noise", "MODBUS", "HART", "text"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::string_view BusRoleText(BusRole role) {
    constexpr std::string_view kNames[] = {"noise", "request", "reply"};
    return kNames[static_cast<std::size_t>(role)];
}

std::string BusDevice(const BusFrame& frame) {
    const Bytes b = frame.bytes;
    switch (frame.kind) {
    case BusKind::Modbus:
        return b.empty() ? std::string() : "slave " + std::to_string(b[0]);
    case BusKind::Hart: {
        const HartHead head = readHartHeader(b);
        if (head.shape.is == Shape::Is::No || b.size() < head.header.addressAt + head.header.addressLength) {
            return "HART";
        }
        const Bytes address = b.subspan(head.header.addressAt, head.header.addressLength);
        if (address.size() == 1) {
            return "HART " + std::to_string(address[0] & 0x3F);
        }
        return "HART " + tools::ByteToHex(address[0] & 0x3F) + ' ' + detail::HexBytes(address.subspan(1));
    }
    case BusKind::Text:
        return "text";
    case BusKind::Noise:
        break;
    }
    return {};
}

namespace {

// The pending command the window would have recorded for the request a frame belongs to, so the
// interpreter reads a reply as the window would.
int32_t pendingFor(BusKind kind, Bytes request) {
    switch (kind) {
    case BusKind::Modbus:
        return pending::ModbusTest;
    case BusKind::Hart:
        return pending::HartManual;
    case BusKind::Text: {
        const std::string_view text = asText(request);
        const std::string_view head = TextHead(text);
        const std::string_view key = keyOf(text);
        if (head == "QQQ#") {
            // The communication query waits under the system parameters' code; the output tests
            // wait for no reply of a known kind.
            return key == "QV" ? pending::SystemParameters : QueryPending(key);
        }
        return head.empty() ? pending::None : pending::SetCommand;
    }
    case BusKind::Noise:
        break;
    }
    return pending::None;
}

} // namespace

Reading ReadBusFrame(const BusFrame& frame) {
    const Bytes b = frame.bytes;
    switch (frame.role) {
    case BusRole::Noise:
        return {detail::Counted(b.size(), "byte") + " of noise", Verdict::None, 0, b.size()};
    case BusRole::Request: {
        Reading reading = Read(b, Direction::Sent, pendingFor(frame.kind, b));
        reading.verdict = frame.check == BusCheck::Good ? Verdict::Good : Verdict::ChecksumWrong;
        return reading;
    }
    case BusRole::Reply:
        if (frame.request) {
            return Read(b, Direction::Received, pendingFor(frame.kind, *frame.request), *frame.request);
        }
        return Read(b, Direction::Received, pendingFor(frame.kind, b));
    }
    return {};
}

BusLine BusLine::ForBaud(uint32_t baud, bool parity) {
    BusLine line;
    if (baud > 0) {
        const int64_t bits = parity ? 11 : 10;
        line.characterUs = (bits * 1'000'000 + baud - 1) / baud;
    }
    line.quietUs = std::max<int64_t>(line.quietUs, 10 * line.characterUs);
    return line;
}

BusFramer::BusFramer(BusLine line) : line_(line) {}

void BusFramer::push(std::span<const uint8_t> bytes, int64_t timeUs, std::vector<BusFrame>& out) {
    if (bytes.empty()) {
        return;
    }
    if (anyBytes_) {
        timeUs = std::max(timeUs, lastTimeUs_);
    }
    // The last byte was on the line when it was delivered, each one before it a character earlier,
    // but none before the byte that came before it.
    const int64_t character = line_.characterUs;
    int64_t time = timeUs - static_cast<int64_t>(bytes.size() - 1) * character;
    if (anyBytes_) {
        time = std::max(time, std::min(lastTimeUs_ + character, timeUs));
    }
    for (uint8_t b : bytes) {
        Pause pause = Pause::None;
        if (anyBytes_) {
            const int64_t since = time - lastTimeUs_;
            if (since >= line_.quietUs) {
                pause = Pause::Quiet;
                quiet_.push_back(size());
            } else if (character > 0 && 2 * since >= 9 * character) {
                pause = Pause::Gap; // 3.5 characters of silence between the two
            }
        }
        bytes_.push_back(b);
        times_.push_back(time);
        pauses_.push_back(pause);
        lastTimeUs_ = time;
        anyBytes_ = true;
        time = std::min(time + character, timeUs);
    }
    drain(false, out);
}

void BusFramer::idle(int64_t nowUs, std::vector<BusFrame>& out) {
    if (const std::optional<int64_t> deadline = idleDeadline(); deadline && nowUs >= *deadline) {
        drain(true, out);
    }
}

void BusFramer::finish(std::vector<BusFrame>& out) {
    drain(true, out);
}

std::optional<int64_t> BusFramer::idleDeadline() const {
    if (head_ == size() && !inNoise_) {
        return std::nullopt;
    }
    return lastTimeUs_ + line_.quietUs;
}

std::size_t BusFramer::quietAfter(std::size_t position) {
    while (!quiet_.empty() && quiet_.front() <= position) {
        quiet_.pop_front();
    }
    return quiet_.empty() ? size() : quiet_.front();
}

void BusFramer::drain(bool atEnd, std::vector<BusFrame>& out) {
    while (head_ < size()) {
        if (inNoise_ && pauses_[head_ - base_] == Pause::Quiet) {
            closeNoise(head_, out, false);
        }
        const std::size_t limit = quietAfter(head_);
        const bool final = atEnd || limit < size();
        if (!final && size() < needed_) {
            break;
        }
        const Bytes b = Bytes(bytes_).subspan(head_ - base_, limit - head_);
        const Outcome outcome = matchHead(b, final, waiting_);
        if (outcome.isFrame()) {
            BusFrame frame =
                frameAt(head_, head_ + outcome.length, outcome.kind, outcome.role, BusCheck::Good);
            if (inNoise_) {
                closeNoise(head_, out, waiting_ && answers(*waiting_, frame.bytes, frame.kind, frame.role));
            }
            head_ += outcome.length;
            needed_ = 0;
            give(std::move(frame), out);
        } else if (outcome.need > 0) {
            needed_ = head_ + outcome.need;
            break;
        } else {
            if (!inNoise_) {
                inNoise_ = true;
                noiseStart_ = head_;
            }
            head_ += std::min(outcome.noise, limit - head_);
            needed_ = 0;
        }
    }
    if (atEnd && inNoise_) {
        closeNoise(head_, out, false);
    }
    compact();
}

void BusFramer::closeNoise(std::size_t end, std::vector<BusFrame>& out, bool expectedReplyFollows) {
    inNoise_ = false;
    const std::size_t start = noiseStart_;
    // The reply the waiting request expects, damaged: its header right, its check wrong or its
    // bytes cut short; unless the good reply follows the run, which this is then only noise before.
    const bool checked = waiting_ && (waiting_->kind == BusKind::Modbus || waiting_->kind == BusKind::Hart);
    if (checked && !expectedReplyFollows) {
        const Bytes run = Bytes(bytes_).subspan(start - base_, end - start);
        const Bytes request = *waiting_->bytes;
        for (std::size_t at = 0; at < run.size(); ++at) {
            const std::size_t length = waiting_->kind == BusKind::Modbus
                                           ? expectedModbusReply(run, at, request)
                                           : expectedHartReply(run, at, request);
            if (length == 0) {
                continue;
            }
            const std::size_t taken = std::min(length, run.size() - at);
            const BusCheck check = taken < length ? BusCheck::Cut : BusCheck::Wrong;
            giveNoise(start, start + at, out);
            give(frameAt(start + at, start + at + taken, waiting_->kind, BusRole::Reply, check), out);
            giveNoise(start + at + taken, end, out);
            return;
        }
    }
    giveNoise(start, end, out);
}

void BusFramer::giveNoise(std::size_t from, std::size_t to, std::vector<BusFrame>& out) {
    // Runs of noise are told apart where the line shows a silence between them.
    std::size_t start = from;
    for (std::size_t at = from + 1; at <= to; ++at) {
        if (at == to || pauses_[at - base_] != Pause::None) {
            if (at > start) {
                give(frameAt(start, at, BusKind::Noise, BusRole::Noise, BusCheck::Good), out);
            }
            start = at;
        }
    }
}

BusFrame BusFramer::frameAt(std::size_t from, std::size_t to, BusKind kind, BusRole role,
                            BusCheck check) const {
    BusFrame frame;
    frame.bytes.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(from - base_),
                       bytes_.begin() + static_cast<std::ptrdiff_t>(to - base_));
    frame.startUs = times_[from - base_] - line_.characterUs;
    frame.endUs = times_[to - 1 - base_];
    frame.kind = kind;
    frame.role = role;
    frame.check = check;
    return frame;
}

void BusFramer::give(BusFrame frame, std::vector<BusFrame>& out) {
    frame.number = nextNumber_++;
    if (frame.role == BusRole::Request) {
        frame.broadcast = frame.kind == BusKind::Modbus && frame.bytes[0] == 0;
        if (frame.broadcast) {
            waiting_.reset();
        } else {
            waiting_ = Waiting{frame.kind, std::make_shared<const std::vector<uint8_t>>(frame.bytes),
                               frame.number, frame.endUs};
        }
    } else if (frame.role == BusRole::Reply && waiting_ &&
               answers(*waiting_, frame.bytes, frame.kind, frame.role)) {
        frame.request = waiting_->bytes;
        frame.requestNumber = waiting_->number;
        // Delivery times only bound the line times from above: bytes of one delivery may be put a
        // little early, never a reply before its request.
        frame.replyUs = std::max<int64_t>(0, frame.startUs - waiting_->endUs);
        waiting_.reset();
    }
    out.push_back(std::move(frame));
}

void BusFramer::compact() {
    const std::size_t keep = inNoise_ ? std::min(noiseStart_, head_) : head_;
    const std::size_t drop = keep - base_;
    if (drop < 4096 && drop * 2 < bytes_.size()) {
        return;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(drop));
    pauses_.erase(pauses_.begin(), pauses_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ = keep;
}

} // namespace traffic
