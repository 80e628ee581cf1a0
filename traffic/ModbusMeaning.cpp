// MODBUS RTU frames in the frame interpreter: the request field by field, the reply's registers in
// decimal and hex with each register pair as a float in both byte orders of the parse format, the
// exception replies by name, and the CRC verdict.
#include <algorithm>
#include <string_view>

#include "tools/ModbusCrc.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

constexpr uint8_t kExceptionBit = 0x80;
constexpr std::size_t kCrcLength = 2;

std::string_view functionName(uint8_t function) {
    switch (function & ~kExceptionBit) {
    case 1:
        return "read coils";
    case 2:
        return "read discrete inputs";
    case 3:
        return "read holding registers";
    case 4:
        return "read input registers";
    case 5:
        return "write single coil";
    case 6:
        return "write single register";
    case 15:
        return "write multiple coils";
    case 16:
        return "write multiple registers";
    default:
        return {};
    }
}

std::string_view exceptionName(uint8_t code) {
    switch (code) {
    case 1:
        return "illegal function";
    case 2:
        return "illegal data address";
    case 3:
        return "illegal data value";
    case 4:
        return "server device failure";
    case 5:
        return "acknowledge";
    case 6:
        return "server device busy";
    case 8:
        return "memory parity error";
    case 10:
        return "gateway path unavailable";
    case 11:
        return "gateway target device failed to respond";
    default:
        return {};
    }
}

std::string functionText(uint8_t function) {
    const std::string_view name = functionName(function);
    const std::string code = "function " + std::to_string(function & ~kExceptionBit);
    return name.empty() ? code : std::string(name);
}

uint16_t word(Bytes bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

// Reads the frame against the length its header announces: the CRC verdict when it is all there,
// otherwise how much is missing, and what follows the CRC.
void appendEnding(std::string& out, Bytes bytes, std::size_t expectedLength) {
    if (bytes.size() < expectedLength) {
        out += "; cut: " + std::to_string(bytes.size()) + " of " + std::to_string(expectedLength) +
               " bytes, no CRC";
        return;
    }
    const Bytes frame = bytes.first(expectedLength);
    const tools::CrcBytes expected = tools::ModbusCrc16(frame.first(expectedLength - kCrcLength));
    const uint8_t low = frame[expectedLength - 2];
    const uint8_t high = frame[expectedLength - 1];
    out += "; CRC ";
    AppendHexByte(out, low);
    out += ' ';
    AppendHexByte(out, high);
    if (low == expected.low && high == expected.high) {
        out += " ok";
    } else {
        out += " wrong, expected ";
        AppendHexByte(out, expected.low);
        out += ' ';
        AppendHexByte(out, expected.high);
    }
    if (bytes.size() > expectedLength) {
        out += "; " + Counted(bytes.size() - expectedLength, "more byte") + " after the CRC";
    }
}

void appendRegisters(std::string& out, Bytes data) {
    const std::size_t count = data.size() / 2;
    out += ", " + Counted(count, "register") + ':';
    for (std::size_t i = 0; i < count; ++i) {
        const uint16_t value = word(data, 2 * i);
        out += ' ' + std::to_string(value) + " (";
        AppendHexByte(out, static_cast<uint8_t>(value >> 8));
        AppendHexByte(out, static_cast<uint8_t>(value & 0xFF));
        out += ')';
    }
    if (count >= 2) {
        // The converter publishes each variable in two registers, in either of these byte orders.
        out += "; floats FF4 FF3 FF2 FF1 | FF2 FF1 FF4 FF3:";
        for (std::size_t pair = 0; pair + 1 < count; pair += 2) {
            const Bytes b = data.subspan(2 * pair, 4);
            out += ' ' + std::to_string(pair + 1) + '-' + std::to_string(pair + 2) + ' ' +
                   FloatText(FloatFromBytes(b[0], b[1], b[2], b[3])) + " | " +
                   FloatText(FloatFromBytes(b[2], b[3], b[0], b[1]));
            if (pair + 3 < count) {
                out += ',';
            }
        }
    }
    if (data.size() % 2 != 0) {
        out += "; 1 odd byte";
    }
}

std::string requestMeaning(Bytes bytes) {
    std::string out = "MODBUS request, slave " + std::to_string(bytes[0]);
    if (bytes.size() < 2) {
        return out + "; cut after the slave address";
    }
    const uint8_t function = bytes[1];
    out += ", " + functionText(function);
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: {
        const bool reads = function <= 4;
        if (bytes.size() >= 4) {
            const uint16_t start = word(bytes, 2);
            out += (reads ? ", start " : ", address ") + std::to_string(start);
            if (function == 3) {
                out += " (register " + std::to_string(40001 + start) + ")";
            }
        }
        if (bytes.size() >= 6) {
            out += (reads ? ", count " : ", value ") + std::to_string(word(bytes, 4));
        }
        appendEnding(out, bytes, 8);
        break;
    }
    case 15:
    case 16: {
        if (bytes.size() >= 6) {
            out += ", start " + std::to_string(word(bytes, 2)) + ", count " + std::to_string(word(bytes, 4));
        }
        if (bytes.size() < 7) {
            appendEnding(out, bytes, 9);
            break;
        }
        out += ", " + std::to_string(bytes[6]) + " data bytes";
        appendEnding(out, bytes, 7 + std::size_t{bytes[6]} + kCrcLength);
        break;
    }
    default:
        // Without a known layout the CRC can only be taken from the end.
        out += ", " + Counted(bytes.size(), "byte");
        appendEnding(out, bytes, bytes.size() < 4 ? 4 : bytes.size());
        break;
    }
    return out;
}

std::string replyMeaning(Bytes bytes) {
    std::string out = "MODBUS reply, slave " + std::to_string(bytes[0]);
    if (bytes.size() < 2) {
        return out + "; cut after the slave address";
    }
    const uint8_t function = bytes[1];
    if ((function & kExceptionBit) != 0) {
        out += ", exception to " + functionText(function);
        if (bytes.size() >= 3) {
            const std::string_view name = exceptionName(bytes[2]);
            out += ": exception " + std::to_string(bytes[2]);
            if (!name.empty()) {
                out += " (" + std::string(name) + ")";
            }
        }
        appendEnding(out, bytes, 5);
        return out;
    }
    out += ", " + functionText(function);
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4: {
        if (bytes.size() < 3) {
            appendEnding(out, bytes, 5);
            break;
        }
        const std::size_t byteCount = bytes[2];
        out += ", byte count " + std::to_string(byteCount);
        const Bytes data = bytes.subspan(3, std::min(byteCount, bytes.size() - 3));
        if (function >= 3) {
            appendRegisters(out, data);
        } else {
            out += ", states " + HexBytes(data);
        }
        appendEnding(out, bytes, 3 + byteCount + kCrcLength);
        break;
    }
    case 5:
    case 6:
    case 15:
    case 16: {
        const bool single = function <= 6;
        if (bytes.size() >= 4) {
            out += (single ? ", address " : ", start ") + std::to_string(word(bytes, 2));
        }
        if (bytes.size() >= 6) {
            out += (single ? ", value " : ", count ") + std::to_string(word(bytes, 4));
        }
        appendEnding(out, bytes, 8);
        break;
    }
    default:
        out += ", " + Counted(bytes.size(), "byte");
        appendEnding(out, bytes, bytes.size() < 4 ? 4 : bytes.size());
        break;
    }
    return out;
}

} // namespace

std::string ModbusMeaning(Bytes bytes, Direction direction) {
    if (bytes.empty()) {
        return "MODBUS frame, empty";
    }
    return direction == Direction::Sent ? requestMeaning(bytes) : replyMeaning(bytes);
}

} // namespace traffic::detail
