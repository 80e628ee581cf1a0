// MODBUS RTU frames in the frame interpreter: every public function's request and reply field by
// field (a write's values listed, a write's reply as its acknowledgement), the read replies' registers
// in decimal and hex with each register pair as a float in both byte orders of the parse format, the
// exception replies by name, and the CRC verdict.
#include <algorithm>
#include <optional>
#include <string_view>

#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"
#include "tools/ModbusLayout.h"
#include "tools/ModbusRequest.h"
#include "tools/RegisterValues.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

constexpr uint8_t kExceptionBit = tools::kModbusExceptionBit;
constexpr std::size_t kCrcLength = 2;

constexpr CodeName kFunctions[] = {
    {1, "read coils"},
    {2, "read discrete inputs"},
    {3, "read holding registers"},
    {4, "read input registers"},
    {5, "write single coil"},
    {6, "write single register"},
    {7, "read exception status"},
    {8, "diagnostics"},
    {11, "get comm event counter"},
    {12, "get comm event log"},
    {15, "write multiple coils"},
    {16, "write multiple registers"},
    {17, "report server ID"},
    {20, "read file record"},
    {21, "write file record"},
    {22, "mask write register"},
    {23, "read/write multiple registers"},
    {24, "read FIFO queue"},
    {43, "encapsulated interface transport"},
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

constexpr CodeName kDiagnostics[] = {
    {0, "return query data"},
    {1, "restart communications option"},
    {2, "return diagnostic register"},
    {3, "change ASCII input delimiter"},
    {4, "force listen only mode"},
    {10, "clear counters and diagnostic register"},
    {11, "return bus message count"},
    {12, "return bus communication error count"},
    {13, "return bus exception error count"},
    {14, "return server message count"},
    {15, "return server no response count"},
    {16, "return server NAK count"},
    {17, "return server busy count"},
    {18, "return bus character overrun count"},
    {19, "return IOP overrun count"},
    {20, "clear overrun counter and flag"},
    {21, "get/clear Modbus Plus statistics"},
};

constexpr CodeName kMeiTypes[] = {{13, "CANopen general reference"}, {14, "read device identification"}};
constexpr CodeName kReadCodes[] = {{1, "basic"}, {2, "regular"}, {3, "extended"}, {4, "one object"}};
constexpr CodeName kDeviceObjects[] = {
    {0, "vendor name"}, {1, "product code"},          {2, "revision"}, {3, "vendor URL"}, {4, "product name"},
    {5, "model name"},  {6, "user application name"},
};

std::string functionText(uint8_t function) {
    const std::string_view name = NameOf(function & ~tools::kModbusExceptionBit, kFunctions);
    const std::string code = "function " + std::to_string(function & ~tools::kModbusExceptionBit);
    return name.empty() ? code : std::string(name);
}

std::string hexWord(uint16_t value) {
    return tools::ByteToHex(value >> 8) + tools::ByteToHex(value & 0xFF);
}

// "4660 (1234)": a register in decimal and hex.
std::string registerText(uint16_t value) {
    return std::to_string(value) + " (" + hexWord(value) + ')';
}

void appendRegisters(std::string& out, Bytes data) {
    const std::vector<uint16_t> registers = tools::RegistersFromBytes(data);
    const std::size_t count = registers.size();
    out += ", " + Counted(count, "register") + ':';
    for (const uint16_t value : registers) {
        out += ' ' + registerText(value);
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

// Reads a frame's fields in order, each only when the bytes before the CRC hold it, so a cut frame
// says what it has.
class Fields {
public:
    Fields(std::string& out, Bytes body) : out_(out), body_(body) {}

    bool has(std::size_t count) const { return at_ + count <= body_.size(); }
    std::size_t left() const { return body_.size() - std::min(at_, body_.size()); }
    uint8_t peek(std::size_t offset = 0) const { return body_[at_ + offset]; }
    uint16_t peekWord() const { return static_cast<uint16_t>((body_[at_] << 8) | body_[at_ + 1]); }

    // ", start 2"
    std::optional<uint16_t> word(std::string_view name) {
        if (!has(2)) {
            return std::nullopt;
        }
        const uint16_t value = peekWord();
        add(name, std::to_string(value));
        at_ += 2;
        return value;
    }
    // ", AND mask 00F2"
    std::optional<uint16_t> hex(std::string_view name) {
        if (!has(2)) {
            return std::nullopt;
        }
        const uint16_t value = peekWord();
        add(name, hexWord(value));
        at_ += 2;
        return value;
    }
    std::optional<uint8_t> byte(std::string_view name) {
        if (!has(1)) {
            return std::nullopt;
        }
        const uint8_t value = body_[at_++];
        add(name, std::to_string(value));
        return value;
    }
    std::optional<uint8_t> code(std::string_view name, std::span<const CodeName> names) {
        if (!has(1)) {
            return std::nullopt;
        }
        const uint8_t value = body_[at_++];
        add(name, CodeWithName(value, names));
        return value;
    }
    // The next `count` bytes (as far as they go), taken without a word.
    Bytes take(std::size_t count) {
        const Bytes part = body_.subspan(std::min(at_, body_.size()), std::min(count, left()));
        at_ += part.size();
        return part;
    }
    // ", data A5 37": the bytes left, when there are any.
    void rest(std::string_view name) {
        if (left() > 0) {
            add(name, HexBytes(take(left())));
        }
    }
    void add(std::string_view name, const std::string& value) {
        out_ += ", " + std::string(name) + ' ' + value;
    }
    std::string& out() { return out_; }

private:
    std::string& out_;
    Bytes body_;
    std::size_t at_ = 2;
};

// "values 4660 (1234) 0 (0000)": the registers a write carries.
void writtenRegisters(Fields& f, std::size_t count) {
    const Bytes data = f.take(count);
    std::string values;
    for (const uint16_t value : tools::RegistersFromBytes(data)) {
        values += (values.empty() ? "" : " ") + registerText(value);
    }
    if (!values.empty()) {
        f.add("values", values);
    }
}

// "coils 1011001110": the states a write of coils carries, the first coil first.
void writtenCoils(Fields& f, std::size_t coils) {
    const Bytes data = f.take((coils + 7) / 8);
    std::string states;
    for (std::size_t i = 0; i < std::min(coils, 8 * data.size()); ++i) {
        states += (data[i / 8] >> (i % 8)) & 1 ? '1' : '0';
    }
    if (!states.empty()) {
        f.add("coils", states);
    }
}

std::string coilValue(uint16_t value) {
    return hexWord(value) + (value == 0xFF00 ? " (on)" : value == 0 ? " (off)" : "");
}

// "sub-function 0 (return query data)"; the data that follows.
void diagnostic(Fields& f, bool reply) {
    if (!f.has(2)) {
        return;
    }
    const uint16_t sub = f.peekWord();
    f.take(2);
    f.add("sub-function",
          sub <= 0xFF ? CodeWithName(static_cast<uint8_t>(sub), kDiagnostics) : std::to_string(sub));
    // The counters a reply returns, in decimal.
    if (reply && sub >= 11 && sub <= 19 && f.left() == 2) {
        f.word("count");
        return;
    }
    f.rest("data");
}

// Sub-requests of 20 and 21: "file 4 record 1 length 2", 21's with the values written.
void fileRecords(Fields& f, bool withData) {
    const std::optional<uint8_t> count = f.byte("byte count");
    if (!count) {
        return;
    }
    std::string records;
    while (f.has(7)) {
        const Bytes head = f.take(7);
        const auto at = [&](std::size_t i) { return static_cast<unsigned>((head[i] << 8) | head[i + 1]); };
        std::string record = "file " + std::to_string(at(1)) + " record " + std::to_string(at(3)) +
                             " length " + std::to_string(at(5));
        if (head[0] != 6) {
            record += " (reference type " + std::to_string(head[0]) + ")";
        }
        if (withData) {
            std::string values;
            for (const uint16_t value : tools::RegistersFromBytes(f.take(2 * std::size_t{at(5)}))) {
                values += ' ' + registerText(value);
            }
            record += values.empty() ? "" : ":" + values;
        }
        records += (records.empty() ? "" : "; ") + record;
    }
    if (!records.empty()) {
        f.add("records", records);
    }
    f.rest("then");
}

void encapsulatedRequest(Fields& f) {
    const std::optional<uint8_t> mei = f.code("MEI type", kMeiTypes);
    if (mei == 14) {
        f.code("read code", kReadCodes);
        f.code("object", kDeviceObjects);
    }
    f.rest("data");
}

// Device identification objects: "0 (vendor name) 'Pymodbus'".
void deviceObjects(Fields& f) {
    f.code("read code", kReadCodes);
    if (f.has(1)) {
        f.add("conformity level", hexWord(f.peek()).substr(2));
        f.take(1);
    }
    if (f.has(1)) {
        f.add("more follows", f.peek() == 0 ? "no" : f.peek() == 0xFF ? "yes" : hexWord(f.peek()).substr(2));
        f.take(1);
    }
    f.byte("next object");
    const std::optional<uint8_t> count = f.byte("objects");
    for (unsigned i = 0; count && i < *count && f.has(2); ++i) {
        const uint8_t id = f.peek();
        const std::size_t length = f.peek(1);
        f.take(2);
        const Bytes value = f.take(length);
        f.out() += (i == 0 ? ": " : ", ") + CodeWithName(id, kDeviceObjects) + " '" +
                   Quoted(tools::asText(value)) + "'";
    }
    f.rest("then");
}

void appendRequest(Fields& f, uint8_t function) {
    switch (function) {
    case 1:
    case 2:
    case 4:
        f.word("start");
        f.word("count");
        break;
    case 3: {
        const std::optional<uint16_t> start = f.word("start");
        const std::optional<uint16_t> count = f.word("count");
        if (start && count && *count > 0) {
            const int first = 40001 + *start;
            f.out() +=
                " (registers " + std::to_string(first) + " to " + std::to_string(first + *count - 1) + ")";
        }
        break;
    }
    case 5:
        if (f.word("address") && f.has(2)) {
            f.add("value", coilValue(f.peekWord()));
            f.take(2);
        }
        break;
    case 6:
    case 22:
        f.word("address");
        if (function == 6 && f.has(2)) {
            f.add("value", registerText(f.peekWord()));
            f.take(2);
        } else {
            f.hex("AND mask");
            f.hex("OR mask");
        }
        break;
    case 8:
        diagnostic(f, false);
        break;
    case 15:
    case 16: {
        f.word("start");
        const std::optional<uint16_t> count = f.word("count");
        if (count && f.byte("byte count")) {
            function == 15 ? writtenCoils(f, *count) : writtenRegisters(f, 2 * std::size_t{*count});
        }
        break;
    }
    case 20:
    case 21:
        fileRecords(f, function == 21);
        break;
    case 23: {
        f.word("read start");
        f.word("read count");
        f.word("write start");
        const std::optional<uint16_t> writes = f.word("write count");
        if (writes && f.byte("byte count")) {
            writtenRegisters(f, 2 * std::size_t{*writes});
        }
        break;
    }
    case 24:
        f.word("FIFO pointer address");
        break;
    case 43:
        encapsulatedRequest(f);
        break;
    default:
        break;
    }
    f.rest("then");
}

void appendReply(Fields& f, uint8_t function) {
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 23: {
        const std::optional<uint8_t> count = f.byte("byte count");
        if (!count) {
            break;
        }
        const Bytes data = f.take(*count);
        if (function >= 3) {
            appendRegisters(f.out(), data);
        } else {
            f.add("states", HexBytes(data));
        }
        break;
    }
    case 5:
    case 6:
    case 15:
    case 16:
    case 21:
    case 22:
        // A write's normal reply repeats what it wrote (or where): the slave took it.
        f.out() += " acknowledged";
        appendRequest(f, function);
        return;
    case 7:
        if (f.has(1)) {
            f.add("output data", hexWord(f.peek()).substr(2));
            f.take(1);
        }
        break;
    case 8:
        diagnostic(f, true);
        break;
    case 11:
    case 12:
        if (function == 12) {
            f.byte("byte count");
        }
        if (f.has(2)) {
            f.add("status", hexWord(f.peekWord()) + (f.peekWord() == 0 ? " (ready)" : " (busy)"));
            f.take(2);
        }
        f.word("event count");
        if (function == 12) {
            f.word("message count");
            f.rest("events");
        }
        break;
    case 17:
    case 20:
        f.byte("byte count");
        f.rest("data");
        break;
    case 24: {
        const std::optional<uint16_t> bytes = f.word("byte count");
        f.word("FIFO count");
        if (bytes && *bytes >= 2) {
            writtenRegisters(f, *bytes - 2);
        }
        break;
    }
    case 43:
        if (const std::optional<uint8_t> mei = f.code("MEI type", kMeiTypes); mei == 14) {
            deviceObjects(f);
        }
        break;
    default:
        break;
    }
    f.rest("then");
}

// The frame's bytes before its CRC as far as its layout tells where that is; the whole bytes less
// two when it does not.
Bytes bodyOf(Bytes bytes, tools::ModbusRole role) {
    const tools::ModbusLayout layout = tools::ModbusFrameLength(bytes, role);
    if (layout.is == tools::ModbusLayout::Is::Known && layout.length >= kCrcLength) {
        return bytes.first(std::min(bytes.size(), layout.length - kCrcLength));
    }
    return bytes.first(bytes.size() >= 4 ? bytes.size() - kCrcLength : bytes.size());
}

// Reads the frame against the length its layout gives: the CRC verdict when it is all there,
// otherwise how much is missing, and what follows the CRC. Before the byte count that gives the
// length, the frame is read against the shortest there can be (the bytes up to the count, then the
// CRC); for a function whose layout is not known here, or an open one whose CRC is nowhere, against
// its length, the CRC taken from the end.
void appendEnding(std::string& out, Bytes bytes, tools::ModbusRole role, FrameMeaning& reading) {
    using Is = tools::ModbusLayout::Is;
    const tools::ModbusLayout layout = tools::ModbusFrameLength(bytes, role);
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
    const tools::ModbusRole role = sent ? tools::ModbusRole::Request : tools::ModbusRole::Reply;
    if (!sent && (function & kExceptionBit) != 0) {
        out += ", exception to " + functionText(function);
        if (bytes.size() >= 3) {
            out += ": exception " + CodeWithName(bytes[2], kExceptions);
        }
        reading.exception = true;
    } else {
        out += ", " + functionText(function);
        if (tools::IsModbusFunction(function)) {
            Fields fields(out, bodyOf(bytes, role));
            sent ? appendRequest(fields, function) : appendReply(fields, function);
        }
    }
    appendEnding(out, bytes, role, reading);
    return reading;
}

} // namespace traffic::detail
