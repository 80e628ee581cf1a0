// Byte helpers of the interpreter tests: blocks written as hex pairs or text, joined, with their
// MODBUS CRC appended, so the tables read like line traces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/ModbusCrc.h"

namespace traffictest {

using Bytes = std::vector<uint8_t>;

// "FF 06 1A" to bytes.
inline Bytes hex(const char* text) {
    Bytes bytes;
    unsigned value = 0;
    int used = 0;
    while (std::sscanf(text, " %2x%n", &value, &used) == 1) {
        bytes.push_back(static_cast<uint8_t>(value));
        text += used;
    }
    return bytes;
}

inline Bytes text(std::string_view characters) {
    return {characters.begin(), characters.end()};
}

inline Bytes withCrc(Bytes frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
    return frame;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace traffictest
