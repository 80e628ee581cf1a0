// MODBUS RTU frames in the frame interpreter: the request field by field, the reply's registers in
// decimal and hex with each register pair as a float in both byte orders of the parse format, the
// exception replies by name, and the CRC verdict.
#include <algorithm>
#include <string_view>

#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"
#include "tools/ModbusLayout.h"
#include "tools/ModbusRequest.h"
#include "tools/RegisterValues.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

constexpr uint8_t kExceptionBit = 0x80;
constexpr std::size_t kCrcLength = 2;

constexpr CodeName kFunctions[] = {
    {1, "read coils"},
    {2, "read discrete inputs"},
    {3, "read holding registers"},
    {4, "read input registers"},
    {5, "write single coil"},
    {6, "write single register"},
    {15, "write multiple coils"},
    {16, "write multiple registers"},
    {23, "read/write multiple registers"},
};

constexpr CodeName kExceptions[] = {
    {1, "illegal function"},
    {2, "illegal data address"},
    {3, "illegal data value"},
    {4, "server device failure"},
    {5, "acknowledge"},
    {6, "server device busy"},
    {8, "memory parity error"},
    {10, "gateway path unavailable"},
    {11, "gateway target device failed to respond"},
};

std::string functionText(uint8_t function) {
    const std::string_view name = NameOf(function & ~kExceptionBit, kFunctions);
    const std::string code = "function " + std::to_string(function & ~kExceptionBit);
    return name.empty() ? code : std::string(name);
}

uint16_t word(Bytes bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

// Reads the frame against the length its header announces: the CRC verdict when it is all there,
// otherwise how much is missing, and what follows the CRC.
FrameCheck appendEnding(std::string& out, Bytes bytes, std::size_t expectedLength) {
    if (bytes.size() < expectedLength) {
        out += "; cut: " + std::to_string(bytes.size()) + " of " + std::to_string(expectedLength) +
               " bytes, no CRC";
        return FrameCheck::Cut;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(bytes.first(expectedLength - kCrcLength));
    const uint8_t expected[] = {crc.low, crc.high};
    return AppendCheck(out, "CRC", bytes.subspan(expectedLength - kCrcLength, kCrcLength), expected,
                       bytes.size() - expectedLength);
}

void appendRegisters(std::string& out, Bytes data) {
    const std::vector<uint16_t> registers = tools::RegistersFromBytes(data);
    const std::size_t count = registers.size();
    out += ", " + Counted(count, "register") + ':';
    for (const uint16_t value : registers) {
        out += ' ' + std::to_string(value) + " (" + tools::ByteToHex(value >> 8) +
               tools::ByteToHex(value & 0xFF) + ')';
    }
    if (count >= 2) {
        // The converter publishes each variable in two registers, in either of its word orders.
        constexpr tools::WordOrder kOrders[] = {tools::WordOrder::HighWordFirst,
                                                tools::WordOrder::LowWordFirst};
        out += "; floats " + std::string(tools::WordOrderConverterName(kOrders[0])) + " | " +
               std::string(tools::WordOrderConverterName(kOrders[1])) + ":";
        for (std::size_t pair = 0; pair + 1 < count; pair += 2) {
            const std::span<const uint16_t, 2> words(registers.data() + pair, 2);
            out += ' ' + std::to_string(pair + 1) + '-' + std::to_string(pair + 2) + ' ' +
                   FloatText(tools::FloatOf(words, kOrders[0])) + " | " +
                   FloatText(tools::FloatOf(words, kOrders[1]));
            if (pair + 3 < count) {
                out += ',';
            }
        }
    }
    if (data.size() % 2 != 0) {
        out += "; 1 odd byte";
    }
}

// The two words after slave address and function, as far as the frame holds them ("start 0, count 18").
void appendTwoWords(std::string& out, Bytes bytes, std::string_view first, std::string_view second) {
    if (bytes.size() >= 4) {
        out += ", " + std::string(first) + ' ' + std::to_string(word(bytes, 2));
    }
    if (bytes.size() >= 6) {
        out += ", " + std::string(second) + ' ' + std::to_string(word(bytes, 4));
    }
}

// Reads the frame against the length its layout gives: before the byte count that gives it, against
// the shortest frame there can be (the bytes up to the count, then the CRC); for a function whose
// layout is not known here, its length and the CRC taken from the end.
void appendEnding(std::string& out, Bytes bytes, tools::ModbusRole role, FrameMeaning& reading) {
    const tools::ModbusLayout layout = tools::ReadModbusFrame(bytes, role).layout;
    switch (layout.is) {
    case tools::ModbusLayout::Is::Known:
        reading.check = appendEnding(out, bytes, layout.length);
        reading.length = std::min(layout.length, bytes.size());
        return;
    case tools::ModbusLayout::Is::Incomplete:
        reading.check = appendEnding(out, bytes, layout.length + kCrcLength);
        break;
    case tools::ModbusLayout::Is::Unknown:
        out += ", " + Counted(bytes.size(), "byte");
        reading.check = appendEnding(out, bytes, std::max<std::size_t>(bytes.size(), 4));
        break;
    }
    reading.length = bytes.size();
}

// The byte count of a write request's data, where the frame holds it.
void appendDataCount(std::string& out, Bytes bytes, std::size_t countAt) {
    if (bytes.size() > countAt) {
        out += ", " + std::to_string(bytes[countAt]) + " data bytes";
    }
}

void appendRequest(std::string& out, Bytes bytes) {
    const uint8_t function = bytes[1];
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: {
        const bool reads = function <= 4;
        appendTwoWords(out, bytes, reads ? "start" : "address", reads ? "count" : "value");
        if (function == tools::kReadHoldingRegisters && bytes.size() >= 6 && word(bytes, 4) > 0) {
            const int first = 40001 + word(bytes, 2);
            out += " (registers " + std::to_string(first) + " to " +
                   std::to_string(first + word(bytes, 4) - 1) + ")";
        }
        break;
    }
    case 15:
    case 16:
        appendTwoWords(out, bytes, "start", "count");
        appendDataCount(out, bytes, 6);
        break;
    case 23:
        appendTwoWords(out, bytes, "read start", "read count");
        if (bytes.size() >= 10) {
            out += ", write start " + std::to_string(word(bytes, 6)) + ", write count " +
                   std::to_string(word(bytes, 8));
        }
        appendDataCount(out, bytes, 10);
        break;
    default:
        break;
    }
}

void appendReply(std::string& out, Bytes bytes) {
    const uint8_t function = bytes[1];
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 23: {
        if (bytes.size() < 3) {
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
        break;
    }
    case 5:
    case 6:
    case 15:
    case 16: {
        const bool single = function <= 6;
        appendTwoWords(out, bytes, single ? "address" : "start", single ? "value" : "count");
        break;
    }
    default:
        break;
    }
}

} // namespace

FrameMeaning ModbusMeaning(Bytes bytes, Direction direction) {
    if (bytes.empty()) {
        return {"MODBUS frame, empty"};
    }
    const bool sent = direction == Direction::Sent;
    FrameMeaning reading{(sent ? "MODBUS request, slave " : "MODBUS reply, slave ") +
                         std::to_string(bytes[0])};
    std::string& out = reading.text;
    reading.length = 1;
    if (bytes.size() < 2) {
        out += "; cut after the slave address";
        reading.check = FrameCheck::Cut;
        return reading;
    }
    const uint8_t function = bytes[1];
    if (!sent && (function & kExceptionBit) != 0) {
        out += ", exception to " + functionText(function);
        if (bytes.size() >= 3) {
            out += ": exception " + CodeWithName(bytes[2], kExceptions);
        }
        reading.exception = true;
    } else {
        out += ", " + functionText(function);
        sent ? appendRequest(out, bytes) : appendReply(out, bytes);
    }
    appendEnding(out, bytes, sent ? tools::ModbusRole::Request : tools::ModbusRole::Reply, reading);
    return reading;
}

} // namespace traffic::detail
