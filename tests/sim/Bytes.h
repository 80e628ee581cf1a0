// Byte helpers for the simulator tests: frames written as hex pairs, HART check bytes and MODBUS CRCs
// appended, so test tables read like line traces.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "hart/HartFrames.h"
#include "tools/ModbusCrc.h"

namespace simtest {

// The bytes of a text, for the byte-span helpers of tools/ and hart/.
inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// "FF 06 1A" (pairs separated by one blank) to bytes.
inline std::string hex(std::string_view pairs) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 3) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(pairs.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

inline uint8_t byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<uint8_t>(bytes.at(i));
}

// A HART body (delimiter to last data byte) with `preambles` 0xFF before it and its check byte after
// it, as the tool's side computes it.
inline std::string hartFrame(std::string_view bodyPairs, std::size_t preambles = 5) {
    const std::string body = hex(bodyPairs);
    return std::string(preambles, '\xFF') + body + static_cast<char>(hart::CheckByte(bytesOf(body)));
}

// Bytes followed by their MODBUS CRC, low byte first.
inline std::string withCrc(std::string frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(bytesOf(frame));
    frame.push_back(static_cast<char>(crc.low));
    frame.push_back(static_cast<char>(crc.high));
    return frame;
}

// A MODBUS request or reply written as hex pairs, with its CRC.
inline std::string modbusFrame(std::string_view pairs) {
    return withCrc(hex(pairs));
}

inline bool modbusCrcGood(std::string_view frame) {
    if (frame.size() < 3) {
        return false;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(bytesOf(frame.substr(0, frame.size() - 2)));
    return crc.low == byteAt(frame, frame.size() - 2) && crc.high == byteAt(frame, frame.size() - 1);
}

// Where the last preamble of a reply stands: the first 0xFF followed by `delimiter`.
inline std::size_t replyMarker(std::string_view reply, uint8_t delimiter) {
    for (std::size_t m = 0; m + 1 < reply.size(); ++m) {
        if (byteAt(reply, m) == 0xFF && byteAt(reply, m + 1) == delimiter) {
            return m;
        }
    }
    return std::string_view::npos;
}

inline float floatAt(std::string_view bytes, std::size_t i) {
    uint32_t bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        bits = bits << 8 | byteAt(bytes, i + k);
    }
    return std::bit_cast<float>(bits);
}

} // namespace simtest
