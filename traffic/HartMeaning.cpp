// HART frames in the frame interpreter: preambles, delimiter, address, command, byte count, the
// response code and field device status of replies, the data of the identity and dynamic-variable
// replies, and the check-byte verdict.
#include <algorithm>
#include <string_view>

#include "hart/HartFrames.h"
#include "tools/Conversions.h"
#include "tools/RegisterValues.h"
#include "traffic/FrameSearch.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

constexpr CodeName kCommands[] = {
    {0, "read unique identifier"},
    {1, "read primary variable"},
    {2, "read loop current and percent of range"},
    {3, "read dynamic variables and loop current"},
    {6, "write polling address"},
};

constexpr CodeName kResponses[] = {
    {0, "success"},
    {2, "invalid selection"},
    {3, "passed parameter too large"},
    {4, "passed parameter too small"},
    {5, "too few data bytes received"},
    {6, "device-specific command error"},
    {7, "in write protect mode"},
    {16, "access restricted"},
    {32, "busy"},
    {64, "command not implemented"},
};

// With the top bit set the first response byte reports what went wrong on the line instead.
constexpr CodeName kCommunicationErrors[] = {
    {0x40, "vertical parity error"},     {0x20, "overrun error"},   {0x10, "framing error"},
    {0x08, "longitudinal parity error"}, {0x02, "buffer overflow"},
};

constexpr CodeName kDeviceStatus[] = {
    {0x80, "device malfunction"},
    {0x40, "configuration changed"},
    {0x20, "cold start"},
    {0x10, "more status available"},
    {0x08, "loop current fixed"},
    {0x04, "loop current saturated"},
    {0x02, "non-primary variable out of limits"},
    {0x01, "primary variable out of limits"},
};

// The names of the bits set in `value`, in parentheses.
void appendFlags(std::string& out, uint8_t value, std::span<const CodeName> flags) {
    bool first = true;
    for (const CodeName& flag : flags) {
        if ((value & flag.code) != 0) {
            out += first ? " (" : ", ";
            out += flag.name;
            first = false;
        }
    }
    if (!first) {
        out += ')';
    }
}

void appendResponse(std::string& out, Bytes data) {
    if (data.empty()) {
        return;
    }
    const uint8_t code = data[0];
    if ((code & 0x80) != 0) {
        out += ", communication error " + tools::ByteToHex(code);
        appendFlags(out, code, kCommunicationErrors);
    } else {
        out += ", response code " + CodeWithName(code, kResponses);
    }
    if (data.size() >= 2) {
        out += ", device status " + tools::ByteToHex(data[1]);
        appendFlags(out, data[1], kDeviceStatus);
    }
}

// HART sends a float most significant byte first.
float floatAt(Bytes data, std::size_t at) {
    return static_cast<float>(*tools::ValueOfBytes(data.subspan(at, 4), tools::WordOrder::HighWordFirst));
}

// The data of the two replies the window decodes, read only when the frame announced and holds it.
void appendReplyData(std::string& out, uint8_t command, Bytes data) {
    if (command == 0 && data.size() >= 14) {
        out += "; identity: manufacturer " + tools::ByteToHex(data[3]) + ", device type " +
               tools::ByteToHex(data[4]) + ", asks for " + std::to_string(data[5]) +
               " preambles, device id " + HexBytes(data.subspan(11, 3));
    } else if (command == 3 && data.size() >= 11) {
        out += "; loop current " + FloatText(floatAt(data, 2)) + " mA";
        static constexpr std::string_view kNames[] = {"PV", "SV", "TV", "QV"};
        for (std::size_t k = 0; k < 4 && 6 + 5 * k + 5 <= data.size(); ++k) {
            const std::size_t at = 6 + 5 * k;
            out += ", " + std::string(kNames[k]) + ' ' + FloatText(floatAt(data, at + 1)) + " (unit " +
                   std::to_string(data[at]) + ')';
        }
    } else if (data.size() > 2) {
        out += ", data " + HexBytes(data.subspan(2));
    }
}

void appendAddress(std::string& out, Bytes address) {
    out += ", address " + HexBytes(address) + " (";
    out += (address[0] & 0x80) != 0 ? "primary master" : "secondary master";
    if ((address[0] & 0x40) != 0) {
        out += ", burst mode";
    }
    if (address.size() == 1) {
        out += ", polling address " + std::to_string(address[0] & 0x3F) + ')';
        return;
    }
    out += ", manufacturer " + tools::ByteToHex(address[0] & 0x3F) + ", device type " +
           tools::ByteToHex(address[1]) + ", device id " + HexBytes(address.subspan(2)) + ')';
}

} // namespace

long HartFrameStart(Bytes bytes, bool search) {
    for (std::size_t start = 0; start < bytes.size(); ++start) {
        const std::size_t end = PreamblesEnd(bytes, start);
        // Preambles up to the end of the block are a frame cut short, still recognisably HART.
        if (end > start && (end == bytes.size() || IsHartDelimiter(bytes[end]))) {
            return static_cast<long>(start);
        }
        if (!search) {
            return -1;
        }
        start = std::max(start, end);
    }
    return -1;
}

FrameMeaning HartMeaning(Bytes bytes, Direction direction) {
    FrameMeaning reading;
    const long found = HartFrameStart(bytes, true);
    if (found < 0) {
        reading.text = "HART frame without preambles";
        return reading;
    }
    const auto start = static_cast<std::size_t>(found);
    reading.start = start;
    std::size_t at = PreamblesEnd(bytes, start);
    std::string& out = reading.text;
    out = "HART ";
    const std::string preambles = Counted(at - start, "preamble");
    const std::string before = start > 0 ? Counted(start, "byte") + " before the preambles; " : "";
    // Every return below leaves `at` where the frame's bytes end.
    const auto done = [&](FrameCheck check) {
        reading.check = check;
        reading.length = at - start;
        return reading;
    };
    if (at == bytes.size()) {
        out = before + out + "frame cut after " + preambles;
        return done(FrameCheck::Cut);
    }

    const HartHeader header = ReadHartHeader(at, bytes[at]);
    ++at;
    const HartFrameType type = header.type();
    reading.masterToSlave = type == HartFrameType::MasterToSlave;
    out += type == HartFrameType::MasterToSlave   ? "request"
           : type == HartFrameType::SlaveToMaster ? "reply"
                                                  : "burst frame";
    out += ": " + preambles + ", delimiter " + tools::ByteToHex(header.delimiter);
    out += header.longAddress() ? " (long address, " : " (short address, ";
    out += type == HartFrameType::MasterToSlave   ? "master to slave)"
           : type == HartFrameType::SlaveToMaster ? "slave to master)"
                                                  : "burst)";
    out = before + out;
    if (direction == Direction::Received && type == HartFrameType::MasterToSlave) {
        out += " (a request, not a reply)";
    }

    const auto cut = [&](std::string_view after) {
        out += "; cut after the " + std::string(after);
        return done(FrameCheck::Cut);
    };
    const std::size_t addressLength = header.addressLength;
    const std::size_t expansionBytes = header.expansionBytes;
    if (bytes.size() - at < addressLength) {
        at = bytes.size();
        return cut("delimiter");
    }
    appendAddress(out, bytes.subspan(at, addressLength));
    at += addressLength;
    if (expansionBytes > 0) {
        if (bytes.size() - at < expansionBytes) {
            at = bytes.size();
            return cut("address");
        }
        out += ", expansion " + HexBytes(bytes.subspan(at, expansionBytes));
        at += expansionBytes;
    }
    if (at == bytes.size()) {
        return cut(expansionBytes > 0 ? "expansion bytes" : "address");
    }
    const uint8_t command = bytes[at++];
    out += ", command " + CodeWithName(command, kCommands);
    if (at == bytes.size()) {
        return cut("command");
    }
    const std::size_t byteCount = bytes[at++];
    out += ", byte count " + std::to_string(byteCount);

    const Bytes data = bytes.subspan(at, std::min(byteCount, bytes.size() - at));
    if (type == HartFrameType::MasterToSlave) {
        if (command == 6 && !data.empty()) {
            out += ", new polling address " + std::to_string(data[0]);
        } else if (!data.empty()) {
            out += ", data " + HexBytes(data);
        }
    } else {
        appendResponse(out, data);
        if (data.size() == byteCount) {
            appendReplyData(out, command, data);
        }
    }
    at += data.size();
    if (data.size() < byteCount) {
        out += "; cut: " + std::to_string(data.size()) + " of " + std::to_string(byteCount) +
               " data bytes, no check byte";
        return done(FrameCheck::Cut);
    }
    if (at == bytes.size()) {
        out += "; cut before the check byte";
        return done(FrameCheck::Cut);
    }
    const uint8_t expected = hart::CheckByte(bytes.subspan(header.delimiterAt, at - header.delimiterAt));
    const FrameCheck check =
        AppendCheck(out, "check byte", bytes.subspan(at, 1), {&expected, 1}, bytes.size() - at - 1);
    ++at;
    return done(check);
}

} // namespace traffic::detail
