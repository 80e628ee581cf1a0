// The HART header reader.
#include "hart/HartHeader.h"

#include "hart/HartFrames.h"

namespace hart {

HartFrameType HartHeader::type() const {
    const auto low = static_cast<HartFrameType>(delimiter & 0x07);
    return low == HartFrameType::Burst || low == HartFrameType::MasterToSlave ||
                   low == HartFrameType::SlaveToMaster
               ? low
               : HartFrameType::Other;
}

HartHeader ReadHartHeader(std::size_t delimiterAt, uint8_t delimiter) {
    HartHeader h;
    h.delimiterAt = delimiterAt;
    h.delimiter = delimiter;
    h.addressAt = delimiterAt + 1;
    h.addressLength = (delimiter & 0x80) != 0 ? 5 : 1;
    h.expansionAt = h.addressAt + h.addressLength;
    h.expansionBytes = (delimiter >> 5) & 0x03;
    h.commandAt = h.expansionAt + h.expansionBytes;
    h.countAt = h.commandAt + 1;
    return h;
}

bool IsHartDelimiter(uint8_t delimiter) {
    return ReadHartHeader(0, delimiter).type() != HartFrameType::Other;
}

bool HartCheckRight(std::span<const uint8_t> frame) {
    return !frame.empty() && CheckByte(frame.first(frame.size() - 1)) == frame.back();
}

} // namespace hart
