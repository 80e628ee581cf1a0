// Random bus traffic for the framer: a master polling slaves with MODBUS requests of every public
// function code, HART and the converter's text commands, the slaves answering (now and then with
// an exception, or not at all), random noise between frames. Knows every good frame it put on the
// line, so a test and the benchmark can score what the framer found.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/ModbusCrc.h"
#include "tools/ModbusLayout.h"

namespace busstreams {

using Bytes = std::vector<uint8_t>;

inline Bytes withCrc(Bytes frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
    return frame;
}

// Preambles, then the body and its XOR check byte.
inline Bytes hartFrame(std::size_t preambles, Bytes body) {
    uint8_t check = 0;
    for (uint8_t b : body) {
        check ^= b;
    }
    Bytes frame(preambles, 0xFF);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(check);
    return frame;
}

struct Placed {
    Bytes bytes;
    bool request = false;
};

struct Stream {
    Bytes bytes;                // the line
    std::vector<Placed> frames; // every good frame on it, in order
    std::size_t noiseBytes = 0;
};

class Generator {
public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    // About `count` request/reply exchanges; noise (1 to 6 random bytes) before `noisePercent`% of
    // the frames.
    Stream make(std::size_t count, int noisePercent) {
        Stream stream;
        for (std::size_t i = 0; i < count; ++i) {
            const auto [request, reply] = exchange();
            put(stream, request, true, noisePercent);
            if (!reply.empty()) {
                put(stream, reply, false, noisePercent);
            }
        }
        return stream;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    uint8_t byte() { return static_cast<uint8_t>(pick(0, 255)); }
    Bytes bytes(std::size_t n) {
        Bytes out(n);
        for (uint8_t& b : out) {
            b = byte();
        }
        return out;
    }
    static void word(Bytes& out, int value) {
        out.push_back(static_cast<uint8_t>(value >> 8));
        out.push_back(static_cast<uint8_t>(value & 0xFF));
    }

    void put(Stream& stream, const Bytes& frame, bool request, int noisePercent) {
        if (pick(1, 100) <= noisePercent) {
            const Bytes noise = bytes(static_cast<std::size_t>(pick(1, 6)));
            stream.bytes.insert(stream.bytes.end(), noise.begin(), noise.end());
            stream.noiseBytes += noise.size();
        }
        stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
        stream.frames.push_back({frame, request});
    }

    std::pair<Bytes, Bytes> exchange() {
        const int kind = pick(1, 20);
        if (kind == 1) {
            return hartExchange();
        }
        if (kind == 2) {
            return {{'Q', 'Q', 'Q', '#', 'Q', 'X', '1', '#'},
                    {'Q', 'Q', 'Q', '#', 'Q', 'X', '1', ':', 'A', 'D', 'R', ':', '0', '0', '1', '#'}};
        }
        return modbusExchange();
    }

    std::pair<Bytes, Bytes> hartExchange() {
        const uint8_t command = static_cast<uint8_t>(pick(0, 3));
        const uint8_t address = static_cast<uint8_t>(pick(0, 15));
        const Bytes request = hartFrame(5, {0x02, static_cast<uint8_t>(0x80 | address), command, 0x00});
        Bytes body = {0x06, static_cast<uint8_t>(0x80 | address), command};
        const Bytes data = bytes(static_cast<std::size_t>(pick(2, 24)));
        body.push_back(static_cast<uint8_t>(data.size()));
        body.insert(body.end(), data.begin(), data.end());
        return {request, hartFrame(5, body)};
    }

    // A frame of an open layout whose only CRC that holds is its own, as no framer could tell
    // otherwise where it ends.
    Bytes openFrame(const Bytes& head, std::size_t dataLow, std::size_t dataHigh) {
        for (;;) {
            Bytes frame = head;
            const Bytes data = bytes(static_cast<std::size_t>(pick(int(dataLow), int(dataHigh))));
            frame.insert(frame.end(), data.begin(), data.end());
            frame = withCrc(frame);
            if (tools::ModbusCrcEnd(frame, 4) == frame.size()) {
                return frame;
            }
        }
    }

    // The functions beyond reading and writing registers and coils, their replies as a slave gives them.
    std::pair<Bytes, Bytes> otherExchange(uint8_t slave) {
        static constexpr uint8_t kFunctions[] = {7, 8, 11, 12, 17, 20, 21, 22, 24, 43};
        const uint8_t function = kFunctions[pick(0, 9)];
        Bytes request = {slave, function};
        Bytes reply = {slave, function};
        const auto append = [](Bytes& to, const Bytes& more) {
            to.insert(to.end(), more.begin(), more.end());
        };
        switch (function) {
        case 7:
            reply.push_back(byte());
            break;
        case 8: {
            const int sub = pick(0, 3) == 0 ? 0 : pick(11, 18);
            word(request, sub);
            if (sub == 0) {
                const Bytes loopback = openFrame(request, 2, 20);
                return {loopback, loopback};
            }
            word(request, 0);
            word(reply, sub);
            word(reply, pick(0, 65535));
            break;
        }
        case 11:
            word(reply, pick(0, 1) ? 0xFFFF : 0);
            word(reply, pick(0, 65535));
            break;
        case 12: {
            const int events = pick(0, 64);
            reply.push_back(static_cast<uint8_t>(6 + events));
            word(reply, pick(0, 1) ? 0xFFFF : 0);
            append(reply, bytes(static_cast<std::size_t>(4 + events)));
            break;
        }
        case 17: {
            const Bytes id = bytes(static_cast<std::size_t>(pick(1, 30)));
            reply.push_back(static_cast<uint8_t>(id.size() + 1));
            append(reply, id);
            reply.push_back(pick(0, 1) ? 0xFF : 0x00);
            break;
        }
        case 20: {
            const int records = pick(1, 5);
            request.push_back(static_cast<uint8_t>(7 * records));
            Bytes data;
            for (int i = 0; i < records; ++i) {
                const int length = pick(1, 10);
                request.push_back(6);
                word(request, pick(1, 10));
                word(request, pick(0, 9999));
                word(request, length);
                data.push_back(static_cast<uint8_t>(1 + 2 * length));
                data.push_back(6);
                append(data, bytes(static_cast<std::size_t>(2 * length)));
            }
            reply.push_back(static_cast<uint8_t>(data.size()));
            append(reply, data);
            break;
        }
        case 21: {
            const int records = pick(1, 4);
            Bytes data;
            for (int i = 0; i < records; ++i) {
                const int length = pick(1, 12);
                data.push_back(6);
                word(data, pick(1, 10));
                word(data, pick(0, 9999));
                word(data, length);
                append(data, bytes(static_cast<std::size_t>(2 * length)));
            }
            request.push_back(static_cast<uint8_t>(data.size()));
            append(request, data);
            reply = request;
            break;
        }
        case 22:
            append(request, bytes(6));
            reply = request;
            break;
        case 24: {
            word(request, pick(0, 65535));
            const int count = pick(0, 31);
            word(reply, 2 + 2 * count);
            word(reply, count);
            append(reply, bytes(static_cast<std::size_t>(2 * count)));
            break;
        }
        case 43:
            if (pick(0, 3) == 0) {
                request.push_back(13);
                reply.push_back(13);
                return {openFrame(request, 1, 30), openFrame(reply, 1, 60)};
            }
            request.push_back(14);
            request.push_back(static_cast<uint8_t>(pick(1, 4)));
            request.push_back(byte());
            reply.push_back(14);
            reply.push_back(request[3]);
            reply.push_back(0x83);
            reply.push_back(0);
            reply.push_back(0);
            reply.push_back(3);
            for (uint8_t id = 0; id < 3; ++id) {
                const Bytes value = bytes(static_cast<std::size_t>(pick(0, 20)));
                reply.push_back(id);
                reply.push_back(static_cast<uint8_t>(value.size()));
                append(reply, value);
            }
            break;
        }
        return {withCrc(request), withCrc(reply)};
    }

    std::pair<Bytes, Bytes> modbusExchange() {
        static constexpr uint8_t kFunctions[] = {1, 2, 3, 4, 5, 6, 15, 16, 23};
        const uint8_t slave = static_cast<uint8_t>(pick(1, 247));
        if (pick(1, 4) == 1) {
            auto [request, reply] = otherExchange(slave);
            if (pick(1, 20) == 1) {
                reply = withCrc({slave, static_cast<uint8_t>(request[1] | 0x80), 1});
            }
            return {request, reply};
        }
        const uint8_t function = kFunctions[pick(0, 8)];
        Bytes request = {slave, function};
        Bytes reply = {slave, function};
        switch (function) {
        case 1:
        case 2:
        case 3:
        case 4: {
            const int count = function <= 2 ? pick(1, 2000) : pick(1, 125);
            word(request, pick(0, 65535 - count));
            word(request, count);
            const int byteCount = function <= 2 ? (count + 7) / 8 : 2 * count;
            reply.push_back(static_cast<uint8_t>(byteCount));
            const Bytes data = bytes(static_cast<std::size_t>(byteCount));
            reply.insert(reply.end(), data.begin(), data.end());
            break;
        }
        case 5:
        case 6:
            word(request, pick(0, 65535));
            word(request, function == 5 ? (pick(0, 1) ? 0xFF00 : 0) : pick(0, 65535));
            reply = request;
            break;
        case 15:
        case 16: {
            const int count = function == 15 ? pick(1, 1968) : pick(1, 123);
            word(request, pick(0, 65535 - count));
            word(request, count);
            const int byteCount = function == 15 ? (count + 7) / 8 : 2 * count;
            request.push_back(static_cast<uint8_t>(byteCount));
            const Bytes data = bytes(static_cast<std::size_t>(byteCount));
            request.insert(request.end(), data.begin(), data.end());
            reply.assign(request.begin(), request.begin() + 6);
            break;
        }
        case 23: {
            const int reads = pick(1, 125);
            const int writes = pick(1, 121);
            word(request, pick(0, 1000));
            word(request, reads);
            word(request, pick(0, 1000));
            word(request, writes);
            request.push_back(static_cast<uint8_t>(2 * writes));
            const Bytes data = bytes(static_cast<std::size_t>(2 * writes));
            request.insert(request.end(), data.begin(), data.end());
            reply.push_back(static_cast<uint8_t>(2 * reads));
            const Bytes read = bytes(static_cast<std::size_t>(2 * reads));
            reply.insert(reply.end(), read.begin(), read.end());
            break;
        }
        }
        const int fate = pick(1, 20);
        if (fate == 1) {
            return {withCrc(request), {}}; // no reply
        }
        if (fate == 2) {
            return {withCrc(request), withCrc({slave, static_cast<uint8_t>(function | 0x80), 2})};
        }
        return {withCrc(request), withCrc(reply)};
    }

    std::mt19937 random_;
};

} // namespace busstreams
