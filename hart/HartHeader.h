// The one reading of a HART frame's header: where its address, expansion bytes, command and byte
// count lie (and so its length), what type of frame it is, and whether its check byte holds. The
// frame interpreter's searches, the bus monitor and the reading of an instrument's reply all use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hart {

inline constexpr uint8_t kHartPreamble = 0xFF;

// The frame types of HART's asynchronous layer (the delimiter's low three bits).
enum class HartFrameType : uint8_t { Other = 0, Burst = 1, MasterToSlave = 2, SlaveToMaster = 6 };

// Where the fields of a HART frame lie, as positions in the bytes it was read from. The delimiter
// alone tells them: bit 7 a long (5-byte) address, bits 5-6 the number of expansion bytes.
struct HartHeader {
    std::size_t delimiterAt = 0;
    uint8_t delimiter = 0;
    std::size_t addressAt = 0;
    std::size_t addressLength = 0; // 1 (polling address) or 5 (unique address)
    std::size_t expansionAt = 0;
    std::size_t expansionBytes = 0; // 0..3
    std::size_t commandAt = 0;
    std::size_t countAt = 0; // the byte count; the data follow it, then the check byte

    HartFrameType type() const;
    bool longAddress() const { return addressLength == 5; }
    // Just after the check byte, for a frame whose byte count is `count`.
    std::size_t end(uint8_t count) const { return countAt + 1 + count + 1; }
};

// The header of the frame whose delimiter is at `delimiterAt` (the bytes need not hold the rest).
HartHeader ReadHartHeader(std::size_t delimiterAt, uint8_t delimiter);
// Whether `delimiter` is one of a burst, master or slave frame.
bool IsHartDelimiter(uint8_t delimiter);
// Whether the last byte of `frame` (delimiter up to and including the check byte) is the check
// byte of the others.
bool HartCheckRight(std::span<const uint8_t> frame);

} // namespace hart
