// The simulated converter on its line.
#include "sim/Simulator.h"

#include <algorithm>
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

Micros LineTiming::charactersTime(int64_t count) const {
    if (!paced() || count <= 0) {
        return Micros{0};
    }
    const int64_t bitMicros = count * bitsPerCharacter * int64_t{1'000'000};
    return Micros{(bitMicros + baud - 1) / baud};
}

Micros LineTiming::frameSilence() const {
    if (!paced()) {
        return Micros{0};
    }
    if (baud > 19200) {
        return Micros{1750};
    }
    const int64_t tenthBitMicros = int64_t{35} * bitsPerCharacter * 1'000'000;
    return Micros{(tenthBitMicros + int64_t{10} * baud - 1) / (int64_t{10} * baud)};
}

int BitsPerCharacter(std::string_view parity) {
    if (parity == "none") {
        return 10;
    }
    return parity == "odd" || parity == "even" ? 11 : 0;
}

Simulator::Simulator(Faults initial, LineTiming timing, ModbusFraming modbusFraming)
    : faults(initial), framer_(modbusFraming), timing_(timing) {}

void Simulator::setPortSpeed(int baud, int bitsPerCharacter) {
    if (baud > 0 && bitsPerCharacter > 0) {
        portTiming_ = {baud, bitsPerCharacter};
    }
}

double Simulator::outputCurrent(int output, Millis now) {
    if (output < 0 || output >= kOutputs) {
        return 0.0;
    }
    const double seconds = std::chrono::duration<double>(now).count();
    return DrivenCurrent(converter_.outputTarget(output, seconds), faults.outputs[output]);
}

Millis Simulator::burstDeadline() const {
    return std::chrono::ceil<Millis>(lastArrival_.value_or(Micros{0}) + modbusTiming().frameSilence());
}

std::vector<Write> Simulator::receive(std::string_view bytes, Millis now) {
    if (closed_) {
        return {};
    }
    // The terminal hands over at once what a real line would have delivered one character at a time.
    // Arrivals are counted in characters from the last moment the line was idle, so rounding does not
    // add up over a long request.
    const std::size_t first = arrivals_.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!arrivalAnchor_ ||
            Micros(now) >= *arrivalAnchor_ + timing_.charactersTime(charactersSinceAnchor_ + 1)) {
            arrivalAnchor_ = now;
            charactersSinceAnchor_ = 0;
        } else {
            ++charactersSinceAnchor_;
        }
        arrivals_.push_back(*arrivalAnchor_ + timing_.charactersTime(charactersSinceAnchor_));
        if (onBytesIn) {
            onBytesIn(arrivals_.back(), bytes.substr(i, 1));
        }
    }
    if (bytes.empty()) {
        return {};
    }
    std::vector<Write> writes;
    // The first of these bytes began after a frame silence, or after the simulator took what came
    // before as a request and answered it (a slave is idle again once it has replied): the burst
    // before them is over.
    const Micros silence = arrivals_[first] - timing_.charactersTime(1) - lastArrival_.value_or(Micros{0});
    if (framer_.inBurst() && (answeredInBurst_ || silence >= modbusTiming().frameSilence())) {
        writes = answer(framer_.endBurst(), now);
    }
    answeredInBurst_ = false;
    lastArrival_ = arrivals_.back();
    lastBytes_ = std::chrono::ceil<Millis>(arrivals_.back());
    for (Write& w : answer(framer_.push(bytes), now)) {
        writes.push_back(std::move(w));
    }
    return writes;
}

std::vector<Write> Simulator::lineQuiet(Millis now) {
    if (closed_) {
        return {};
    }
    std::vector<Write> writes;
    if (framer_.inBurst() && now >= burstDeadline()) {
        writes = answer(framer_.endBurst(), now);
    }
    if (framer_.pending() && now >= lastBytes_ + kQuietLine) {
        for (Write& w : answer(framer_.flush(), now)) {
            writes.push_back(std::move(w));
        }
    }
    return writes;
}

std::optional<Millis> Simulator::quietDeadline() const {
    if (closed_ || !framer_.pending()) {
        return std::nullopt;
    }
    const Millis givenUp = lastBytes_ + kQuietLine;
    return framer_.inBurst() ? std::min(givenUp, burstDeadline()) : givenUp;
}

Micros Simulator::transmit(std::vector<Write>& writes, std::string_view bytes, Micros start) const {
    if (!timing_.paced()) {
        writes.push_back({std::chrono::ceil<Millis>(start), std::string(bytes)});
        return start;
    }
    // A byte is handed to the terminal once its stop bit would be on the line.
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const Millis due =
            std::chrono::ceil<Millis>(start + timing_.charactersTime(static_cast<int64_t>(k) + 1));
        if (!writes.empty() && writes.back().at == due) {
            writes.back().bytes.push_back(bytes[k]);
        } else {
            writes.push_back({due, std::string(1, bytes[k])});
        }
    }
    return start + timing_.charactersTime(static_cast<int64_t>(bytes.size()));
}

std::vector<Write> Simulator::answer(const std::vector<Frame>& frames, Millis quietOrNow) {
    std::vector<Write> writes;
    for (const Frame& frame : frames) {
        const std::size_t consumed = std::min(frame.bytes.size(), arrivals_.size());
        const Micros lastByte = consumed > 0 ? arrivals_[consumed - 1] : Micros(quietOrNow);
        arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<std::ptrdiff_t>(consumed));
        const Micros complete = std::max<Micros>(lastByte, quietOrNow);
        const Millis now = std::chrono::ceil<Millis>(complete);
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
        answeredInBurst_ = true;
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
        // A MODBUS slave keeps the frame silence after the request before it answers.
        Micros ready = complete;
        if (frame.kind == FrameKind::Modbus) {
            ready = std::max(ready, lastByte + modbusTiming().frameSilence());
        }
        Micros start = ready + Millis(faults.delayMs);
        if (timing_.paced()) {
            start = std::max(start, transmitterFree_);
        }
        Micros end;
        if (faults.splitMs > 0 && reply->size() >= 2) {
            const std::size_t half = reply->size() / 2;
            const Micros firstEnd = transmit(writes, std::string_view(*reply).substr(0, half), start);
            end = transmit(writes, std::string_view(*reply).substr(half), firstEnd + Millis(faults.splitMs));
        } else {
            end = transmit(writes, *reply, start);
        }
        if (timing_.paced()) {
            transmitterFree_ = end;
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
