// The simulated converter on its line.
#include "sim/Simulator.h"

#include <cstdio>

#include "tools/Conversions.h"

namespace sim {

namespace {

const char* kindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Text:
        return "text";
    case FrameKind::Hart:
        return "hart";
    case FrameKind::Modbus:
        return "modbus";
    case FrameKind::Garbage:
        break;
    }
    return "skip";
}

} // namespace

Simulator::Simulator(Faults initial) : faults(initial) {}

std::vector<Write> Simulator::receive(std::string_view bytes, Millis now) {
    if (closed_) {
        return {};
    }
    lastBytes_ = now;
    return answer(framer_.push(bytes), now);
}

std::vector<Write> Simulator::lineQuiet(Millis now) {
    if (closed_) {
        return {};
    }
    return answer(framer_.flush(), now);
}

std::optional<Millis> Simulator::quietDeadline() const {
    if (closed_ || !framer_.pending()) {
        return std::nullopt;
    }
    return lastBytes_ + kQuietLine;
}

std::vector<Write> Simulator::answer(const std::vector<Frame>& frames, Millis now) {
    std::vector<Write> writes;
    for (const Frame& frame : frames) {
        if (onFrame) {
            onFrame(now, kindName(frame.kind), frame.bytes);
        }
        if (frame.kind == FrameKind::Garbage || closed_) {
            continue;
        }
        ++requests_;
        closed_ = faults.hangupAfter > 0 && requests_ >= faults.hangupAfter;
        if (faults.silent) {
            continue;
        }
        std::optional<std::string> reply = respond(frame, now);
        if (!reply || reply->empty()) {
            continue;
        }
        if (faults.corrupt && frame.kind != FrameKind::Text) {
            // The HART check byte, or both CRC bytes of a MODBUS reply.
            const std::size_t spoiled = frame.kind == FrameKind::Modbus ? 2 : 1;
            for (std::size_t i = reply->size() - std::min(spoiled, reply->size()); i < reply->size(); ++i) {
                (*reply)[i] = static_cast<char>((*reply)[i] ^ 0xFF);
            }
        }
        if (faults.noise) {
            std::string garbage(1 + noise_() % 4, '\0');
            for (char& c : garbage) {
                c = static_cast<char>(noise_() & 0xFF);
            }
            reply->insert(0, garbage);
        }
        const Millis at = now + Millis(faults.delayMs);
        if (faults.splitMs > 0 && reply->size() >= 2) {
            const std::size_t half = reply->size() / 2;
            writes.push_back({at, reply->substr(0, half)});
            writes.push_back({at + Millis(faults.splitMs), reply->substr(half)});
        } else {
            writes.push_back({at, std::move(*reply)});
        }
    }
    return writes;
}

std::optional<std::string> Simulator::respond(const Frame& frame, Millis now) {
    const double seconds = std::chrono::duration<double>(now).count();
    switch (frame.kind) {
    case FrameKind::Text:
        return converter_.handleText(frame.bytes);
    case FrameKind::Hart:
        return converter_.handleHart(frame.bytes, seconds);
    case FrameKind::Modbus:
        return modbus_.reply(frame.bytes, converter_.slaveAddress(), converter_.holdingRegisters(seconds));
    case FrameKind::Garbage:
        break;
    }
    return std::nullopt;
}

std::string FormatLogLine(Millis at, std::string_view label, std::string_view bytes) {
    char head[48];
    std::snprintf(head, sizeof head, "%9lld ms  %-10s ", static_cast<long long>(at.count()),
                  std::string(label).c_str());
    std::string line = head;
    line += tools::BytesToHexText({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    line += " |";
    for (char c : bytes) {
        const auto u = static_cast<uint8_t>(c);
        line.push_back(u >= 0x20 && u < 0x7F ? c : '.');
    }
    line += "|";
    return line;
}

} // namespace sim
