// MODBUS RTU layouts by function code: requests and replies, counted data, exception replies.
#include "tools/ModbusLayout.h"

namespace tools {

namespace {

using Bytes = std::span<const uint8_t>;
using Layout = ModbusLayout;
using Fit = ModbusFieldsFit;

constexpr uint8_t kExceptionBit = 0x80;

uint16_t word(Bytes b, std::size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

bool inRange(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

Layout known(std::size_t length) {
    return {Layout::Is::Known, length};
}

// The frame's length follows its byte count at `countAt`: the head, the count, the data, the CRC.
Layout counted(Bytes b, std::size_t countAt) {
    if (b.size() <= countAt) {
        return {Layout::Is::Incomplete, countAt + 1};
    }
    return known(countAt + 1 + std::size_t{b[countAt]} + 2);
}

// The verdict once `need` bytes are there.
Fit judged(Bytes b, std::size_t need, bool (*holds)(Bytes)) {
    if (b.size() < need) {
        return {Fit::Is::Incomplete, need};
    }
    return {holds(b) ? Fit::Is::Yes : Fit::Is::No};
}

Fit requestFields(Bytes b) {
    switch (b[1]) {
    case 1:
    case 2:
        return judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 2000); });
    case 3:
    case 4:
        return judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 125); });
    case 5:
        return judged(b, 6, [](Bytes f) { return word(f, 4) == 0x0000 || word(f, 4) == 0xFF00; });
    case 6:
        return {Fit::Is::Yes};
    case 15:
        return judged(b, 7, [](Bytes f) {
            const unsigned count = word(f, 4);
            return inRange(count, 1, 1968) && f[6] == (count + 7) / 8;
        });
    case 16:
        return judged(b, 7, [](Bytes f) {
            const unsigned count = word(f, 4);
            return inRange(count, 1, 123) && f[6] == 2 * count;
        });
    case 23:
        return judged(b, 11, [](Bytes f) {
            const unsigned writes = word(f, 8);
            return inRange(word(f, 4), 1, 125) && inRange(writes, 1, 121) && f[10] == 2 * writes;
        });
    default:
        return {Fit::Is::No};
    }
}

Fit replyFields(Bytes b) {
    const uint8_t function = b[1];
    if ((function & kExceptionBit) != 0) {
        if (!IsModbusFunction(function & ~kExceptionBit)) {
            return {Fit::Is::No};
        }
        return judged(b, 3, [](Bytes f) { return IsModbusExceptionCode(f[2]); });
    }
    switch (function) {
    case 1:
    case 2:
        return judged(b, 3, [](Bytes f) { return inRange(f[2], 1, 250); });
    case 3:
    case 4:
    case 23:
        return judged(b, 3, [](Bytes f) { return inRange(f[2], 2, 250) && f[2] % 2 == 0; });
    case 5:
    case 6:
        return requestFields(b); // the request's own bytes come back
    case 15:
        return judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 1968); });
    case 16:
        return judged(b, 6, [](Bytes f) { return inRange(word(f, 4), 1, 123); });
    default:
        return {Fit::Is::No};
    }
}

} // namespace

bool IsModbusFunction(uint8_t function) {
    return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 23;
}

bool IsModbusExceptionCode(uint8_t code) {
    return (code >= 1 && code <= 6) || code == 8 || code == 10 || code == 11;
}

ModbusLayout ReadModbusLayout(Bytes b, ModbusRole role) {
    if (b.size() < 2) {
        return {Layout::Is::Incomplete, 2};
    }
    const uint8_t function = b[1];
    if (role == ModbusRole::Reply && (function & kExceptionBit) != 0) {
        return known(5);
    }
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
        return role == ModbusRole::Request ? known(8) : counted(b, 2);
    case 5:
    case 6:
        return known(8);
    case 15:
    case 16:
        return role == ModbusRole::Request ? counted(b, 6) : known(8);
    case 23:
        return role == ModbusRole::Request ? counted(b, 10) : counted(b, 2);
    default:
        return {};
    }
}

ModbusFieldsFit ModbusFieldsHold(Bytes b, ModbusRole role) {
    if (b.empty()) {
        return {Fit::Is::Incomplete, 1};
    }
    if (role == ModbusRole::Reply && b[0] == 0) {
        return {Fit::Is::No}; // nobody answers a broadcast
    }
    if (b.size() < 2) {
        return {Fit::Is::Incomplete, 2};
    }
    return role == ModbusRole::Request ? requestFields(b) : replyFields(b);
}

int ModbusReplyByteCount(Bytes request) {
    if (request.size() < 6) {
        return -1;
    }
    const unsigned count = word(request, 4);
    switch (request[1]) {
    case 1:
    case 2:
        return static_cast<int>((count + 7) / 8);
    case 3:
    case 4:
    case 23:
        return static_cast<int>(2 * count);
    default:
        return -1;
    }
}

} // namespace tools
