// Framing of the mixed serial line.
#include "sim/LineFramer.h"

#include <array>
#include <cstdint>

#include "sim/Instrument.h"
#include "tools/ModbusCrc.h"

namespace sim {

namespace {

// What the bytes at the start of a buffer are.
struct FrameMatch {
    enum class Result { Complete, NotAFrame, Incomplete };
    Result result = Result::NotAFrame;
    FrameKind kind = FrameKind::Garbage;
    std::size_t length = 0; // of a complete frame
};

using Result = FrameMatch::Result;

// A text frame longer than this is not a command the converter knows.
constexpr std::size_t kMaxTextFrame = 255;

constexpr std::array<std::string_view, 3> kTextHeads = {"QQQ#", "QQS#", "TAVRIK#"};
constexpr std::string_view kMeterCommandHead = "QQS#CAMD";
// The read meter command's header ("QQS#CAMD01:1<03,") position by position: 'd' a digit, 'n' the
// command number 1 or 2, any other character itself. The count's two digits are at 13 and 14.
constexpr std::string_view kMeterCommandShape = "QQS#CAMDdn:d<dd,";

uint8_t byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<uint8_t>(bytes[i]);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool startsWithTextHead(std::string_view bytes) {
    for (std::string_view head : kTextHeads) {
        if (bytes.starts_with(head)) {
            return true;
        }
    }
    return false;
}

FrameMatch complete(FrameKind kind, std::size_t length) {
    return {Result::Complete, kind, length};
}

// `bytes` begin with kMeterCommandHead.
FrameMatch matchMeterCommand(std::string_view bytes) {
    const std::size_t header = kMeterCommandShape.size();
    for (std::size_t i = kMeterCommandHead.size(); i < std::min(bytes.size(), header); ++i) {
        const char shape = kMeterCommandShape[i];
        const char c = bytes[i];
        const bool fits = shape == 'd' ? isDigit(c) : shape == 'n' ? (c == '1' || c == '2') : c == shape;
        if (!fits) {
            return {};
        }
    }
    if (bytes.size() < header) {
        return {Result::Incomplete};
    }
    const std::size_t length = header + static_cast<std::size_t>((bytes[13] - '0') * 10 + (bytes[14] - '0'));
    return bytes.size() < length ? FrameMatch{Result::Incomplete} : complete(FrameKind::Text, length);
}

FrameMatch matchText(std::string_view bytes) {
    // The read meter command carries raw bytes, '#' among them, so its count decides where it ends.
    if (bytes.starts_with(kMeterCommandHead)) {
        return matchMeterCommand(bytes);
    }
    for (std::string_view head : kTextHeads) {
        const std::size_t n = std::min(bytes.size(), head.size());
        if (bytes.substr(0, n) != head.substr(0, n)) {
            continue;
        }
        if (bytes.size() < head.size()) {
            return {Result::Incomplete};
        }
        for (std::size_t i = head.size(); i < bytes.size() && i < kMaxTextFrame; ++i) {
            const uint8_t c = byteAt(bytes, i);
            if (c == '#') {
                return complete(FrameKind::Text, i + 1);
            }
            // A control byte or a new head means this frame was cut and another one follows.
            if (c < 0x20 || c > 0x7E || startsWithTextHead(bytes.substr(i))) {
                return {};
            }
        }
        return bytes.size() >= kMaxTextFrame ? FrameMatch{} : FrameMatch{Result::Incomplete};
    }
    return {};
}

FrameMatch matchHart(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && byteAt(bytes, i) == 0xFF) {
        ++i;
    }
    if (i == 0) {
        return {};
    }
    if (i == bytes.size()) {
        return {Result::Incomplete};
    }
    const uint8_t delimiter = byteAt(bytes, i);
    const uint8_t frameType = delimiter & 0x07;
    // Expansion bytes and physical layers other than the asynchronous one are not spoken here.
    if ((delimiter & 0x78) != 0 || (frameType != 1 && frameType != 2 && frameType != 6)) {
        return {};
    }
    const std::size_t addressLength = (delimiter & 0x80) ? 5 : 1;
    const std::size_t header = i + 1 + addressLength + 2; // address, command, byte count
    if (bytes.size() < header) {
        return {Result::Incomplete};
    }
    const std::size_t total = header + byteAt(bytes, header - 1) + 1;
    if (bytes.size() < total) {
        return {Result::Incomplete};
    }
    const bool good = CheckByte(bytes.substr(i, total - 1 - i)) == byteAt(bytes, total - 1);
    return good ? complete(FrameKind::Hart, total) : FrameMatch{};
}

FrameMatch matchModbus(std::string_view bytes) {
    if (bytes.empty() || byteAt(bytes, 0) > 247) {
        return {};
    }
    if (bytes.size() < 2) {
        return {Result::Incomplete};
    }
    std::size_t length = 0;
    switch (byteAt(bytes, 1)) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        length = 8;
        break;
    case 15:
    case 16:
        if (bytes.size() < 7) {
            return {Result::Incomplete};
        }
        length = 9 + byteAt(bytes, 6);
        break;
    default:
        return {};
    }
    if (bytes.size() < length) {
        return {Result::Incomplete};
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const tools::CrcBytes crc = tools::ModbusCrc16({data, length - 2});
    const bool good = crc.low == data[length - 2] && crc.high == data[length - 1];
    return good ? complete(FrameKind::Modbus, length) : FrameMatch{};
}

FrameMatch matchFrame(std::string_view bytes) {
    bool incomplete = false;
    for (auto matcher : {matchText, matchHart, matchModbus}) {
        const FrameMatch match = matcher(bytes);
        if (match.result == Result::Complete) {
            return match;
        }
        incomplete = incomplete || match.result == Result::Incomplete;
    }
    return incomplete ? FrameMatch{Result::Incomplete} : FrameMatch{};
}

} // namespace

std::vector<Frame> LineFramer::push(std::string_view bytes) {
    buffer_.append(bytes);
    return drain(false);
}

std::vector<Frame> LineFramer::flush() {
    return drain(true);
}

std::vector<Frame> LineFramer::drain(bool lineQuiet) {
    std::vector<Frame> frames;
    std::string garbage;
    const auto endGarbage = [&] {
        if (!garbage.empty()) {
            frames.push_back({FrameKind::Garbage, std::move(garbage)});
            garbage.clear();
        }
    };
    std::size_t pos = 0;
    while (pos < buffer_.size()) {
        const FrameMatch match = matchFrame(std::string_view(buffer_).substr(pos));
        if (match.result == Result::Complete) {
            endGarbage();
            frames.push_back({match.kind, buffer_.substr(pos, match.length)});
            pos += match.length;
        } else if (match.result == Result::NotAFrame || lineQuiet) {
            garbage.push_back(buffer_[pos]);
            ++pos;
        } else {
            break;
        }
    }
    endGarbage();
    buffer_.erase(0, pos);
    return frames;
}

} // namespace sim
