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
    const std::string_view name = NameOf(function & ~tools::kModbusExceptionBit, kFunctions);
    const std::string code = "function " + std::to_string(function & ~tools::kModbusExceptionBit);
    return name.empty() ? code : std::string(name);
}

uint16_t word(Bytes bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
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

// Reads the frame against the length its layout gives: the CRC verdict when it is all there,
// otherwise how much is missing, and what follows the CRC. Before the byte count that gives the
// length, the frame is read against the shortest there can be (the bytes up to the count, then the
// CRC); for a function whose layout is not known here, against its length, the CRC taken from the end.
void appendEnding(std::string& out, Bytes bytes, tools::ModbusRole role, FrameMeaning& reading) {
    using Is = tools::ModbusLayout::Is;
    const tools::ModbusLayout layout = tools::ReadModbusFrame(bytes, role).layout;
    if (layout.is == Is::Unknown) {
        out += ", " + Counted(bytes.size(), "byte");
    }
    const std::size_t length = layout.is == Is::Known        ? layout.length
                               : layout.is == Is::Incomplete ? layout.length + kCrcLength
                                                             : std::max<std::size_t>(bytes.size(), 4);
    reading.length = layout.is == Is::Known ? std::min(length, bytes.size()) : bytes.size();
    if (bytes.size() < length) {
        out += "; cut: " + std::to_string(bytes.size()) + " of " + std::to_string(length) + " bytes, no CRC";
        reading.check = FrameCheck::Cut;
        return;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(bytes.first(length - kCrcLength));
    const uint8_t expected[] = {crc.low, crc.high};
    reading.check = AppendCheck(out, "CRC", bytes.subspan(length - kCrcLength, kCrcLength), expected,
                                bytes.size() - length);
}

// The words after slave address and function, by function: a request's, which a write's reply
// repeats; and where a write request's data byte count stands (0: none).
struct Words {
    uint8_t function;
    std::string_view names[4];
    std::size_t dataCountAt = 0;
};
constexpr Words kWords[] = {
    {1, {"start", "count"}},
    {2, {"start", "count"}},
    {3, {"start", "count"}},
    {4, {"start", "count"}},
    {5, {"address", "value"}},
    {6, {"address", "value"}},
    {15, {"start", "count"}, 6},
    {16, {"start", "count"}, 6},
    {23, {"read start", "read count", "write start", "write count"}, 10},
};

// The first `count` words of the frame's function as far as the frame holds them ("start 0, count
// 18"), the write half of function 23 whole or not at all; with them all, the data byte count.
void appendWords(std::string& out, Bytes bytes, std::size_t count) {
    const Words* row = std::ranges::find(kWords, bytes[1], &Words::function);
    if (row == std::end(kWords)) {
        return;
    }
    for (std::size_t i = 0; i < count && !row->names[i].empty(); ++i) {
        if (bytes.size() >= (i < 2 ? 4 + 2 * i : 10)) {
            out += ", " + std::string(row->names[i]) + ' ' + std::to_string(word(bytes, 2 + 2 * i));
        }
    }
    if (count == std::size(row->names) && row->dataCountAt > 0 && bytes.size() > row->dataCountAt) {
        out += ", " + std::to_string(bytes[row->dataCountAt]) + " data bytes";
    }
}

void appendRequest(std::string& out, Bytes bytes) {
    appendWords(out, bytes, std::size(kWords[0].names));
    if (bytes[1] == tools::kReadHoldingRegisters && bytes.size() >= 6 && word(bytes, 4) > 0) {
        const int first = 40001 + word(bytes, 2);
        out += " (registers " + std::to_string(first) + " to " + std::to_string(first + word(bytes, 4) - 1) +
               ")";
    }
}

void appendReply(std::string& out, Bytes bytes) {
    const uint8_t function = bytes[1];
    if (function == 5 || function == 6 || function == 15 || function == 16) {
        appendWords(out, bytes, 2);
    } else if (((function >= 1 && function <= 4) || function == 23) && bytes.size() >= 3) {
        const std::size_t byteCount = bytes[2];
        out += ", byte count " + std::to_string(byteCount);
        const Bytes data = bytes.subspan(3, std::min(byteCount, bytes.size() - 3));
        if (function >= 3) {
            appendRegisters(out, data);
        } else {
            out += ", states " + HexBytes(data);
        }
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
    if (!sent && (function & tools::kModbusExceptionBit) != 0) {
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
