// Framing of the mixed serial line.
#include "sim/LineFramer.h"

#include <array>
#include <cstdint>

#include "sim/Instrument.h"
#include "sim/ModbusSide.h"
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

// A MODBUS RTU frame: address, function, CRC at the least, 256 bytes at most; slave addresses up to
// 247 (0 a broadcast).
constexpr std::size_t kMinModbusFrame = 4;
constexpr std::size_t kMaxModbusFrame = 256;
constexpr uint8_t kMaxModbusAddress = 247;

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

// Where MODBUS requests may begin and end: the framing, and the burst the framer is in.
struct ModbusContext {
    ModbusFraming framing = ModbusFraming::Silence;
    bool burstStart = false; // the bytes begin a burst
    bool burstOpen = false;  // ... that has not ended yet
};

bool crcGood(std::string_view frame) {
    const auto* data = reinterpret_cast<const uint8_t*>(frame.data());
    const std::size_t length = frame.size();
    const tools::CrcBytes crc = tools::ModbusCrc16({data, length - 2});
    return crc.low == data[length - 2] && crc.high == data[length - 1];
}

FrameMatch matchModbus(std::string_view bytes, const ModbusContext& context) {
    if (bytes.empty() || byteAt(bytes, 0) > kMaxModbusAddress) {
        return {};
    }
    if (context.framing == ModbusFraming::Silence) {
        // Only the silence after a burst says where a request ends: the whole burst is the frame.
        if (!context.burstStart || bytes.size() > kMaxModbusFrame) {
            return {};
        }
        if (context.burstOpen) {
            return {Result::Incomplete};
        }
        const bool good = bytes.size() >= kMinModbusFrame && crcGood(bytes);
        return good ? complete(FrameKind::Modbus, bytes.size()) : FrameMatch{};
    }
    const int length = ModbusRequestLength(bytes);
    if (length < 0) {
        return {Result::Incomplete};
    }
    if (length == 0) {
        return {};
    }
    if (bytes.size() < static_cast<std::size_t>(length)) {
        return {Result::Incomplete};
    }
    return crcGood(bytes.substr(0, static_cast<std::size_t>(length)))
               ? complete(FrameKind::Modbus, static_cast<std::size_t>(length))
               : FrameMatch{};
}

FrameMatch matchFrame(std::string_view bytes, const ModbusContext& context) {
    bool incomplete = false;
    for (const FrameMatch& match : {matchText(bytes), matchHart(bytes), matchModbus(bytes, context)}) {
        if (match.result == Result::Complete) {
            return match;
        }
        incomplete = incomplete || match.result == Result::Incomplete;
    }
    return incomplete ? FrameMatch{Result::Incomplete} : FrameMatch{};
}

} // namespace

std::vector<Frame> LineFramer::push(std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    if (!burstOpen_) {
        burstStart_ = buffer_.size();
        burstOpen_ = true;
    }
    buffer_.append(bytes);
    return drain(false);
}

std::vector<Frame> LineFramer::endBurst() {
    burstOpen_ = false;
    return drain(false);
}

std::vector<Frame> LineFramer::flush() {
    burstOpen_ = false;
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
        const bool atBurstStart = burstStart_ == pos;
        const FrameMatch match =
            matchFrame(std::string_view(buffer_).substr(pos), {modbus_, atBurstStart, burstOpen_});
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
    if (burstStart_) {
        burstStart_ = *burstStart_ >= pos ? std::optional(*burstStart_ - pos) : std::nullopt;
    }
    return frames;
}

} // namespace sim
