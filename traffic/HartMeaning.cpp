// HART frames in the frame interpreter: preambles, delimiter, address, command, byte count, the
// response code and field device status of replies, the data of the identity and dynamic-variable
// replies, and the check-byte verdict.
#include <algorithm>
#include <string_view>

#include "hart/HartFrames.h"
#include "hart/UniversalCommands.h"
#include "tools/Conversions.h"
#include "tools/RegisterValues.h"
#include "traffic/FrameSearch.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

// "6 (write polling address)": the code with its name when it has one.
std::string withName(uint8_t code, std::string_view name) {
    return name.empty() ? std::to_string(code) : std::to_string(code) + " (" + std::string(name) + ")";
}

// The names of the bits set in `value`, in parentheses.
void appendFlags(std::string& out, uint8_t value, std::span<const hart::FlagName> flags) {
    bool first = true;
    for (const hart::FlagName& flag : flags) {
        if ((value & flag.bit) != 0) {
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
    const uint8_t code = data[hart::kResponseCodeAt];
    if ((code & hart::kCommunicationError) != 0) {
        out += ", communication error " + tools::ByteToHex(code);
        appendFlags(out, code, hart::CommunicationErrorFlags());
    } else {
        out += ", response code " + withName(code, hart::ResponseName(code));
    }
    if (data.size() > hart::kDeviceStatusAt) {
        out += ", device status " + tools::ByteToHex(data[hart::kDeviceStatusAt]);
        appendFlags(out, data[hart::kDeviceStatusAt], hart::DeviceStatusFlags());
    }
}

// One field of a universal command's reply for people, or nothing for one the meaning leaves out
// (status, units told with their value, revisions, flags).
std::string fieldText(const hart::ReplyFieldLayout& field, Bytes data) {
    const auto at = static_cast<std::size_t>(field.offset);
    using hart::FieldKind;
    switch (field.kind) {
    case FieldKind::Float: {
        // HART sends a float most significant byte first.
        const auto value = static_cast<float>(*tools::ValueOfBytes(data.subspan(at, 4), tools::WordOrder::HighWordFirst));
        std::string text = std::string(field.name) + ' ' + FloatText(value);
        if (!field.fixedUnit.empty()) {
            return text + ' ' + std::string(field.fixedUnit);
        }
        return field.unitOffset < 0 ? text
                                    : text + " (unit " + std::to_string(data[static_cast<std::size_t>(field.unitOffset)]) + ')';
    }
    case FieldKind::Manufacturer:
    case FieldKind::DeviceType:
        return std::string(field.name) + ' ' + tools::ByteToHex(data[at]);
    case FieldKind::Preambles:
        return "asks for " + std::to_string(data[at]) + " preambles";
    case FieldKind::DeviceId:
        return std::string(field.name) + ' ' + HexBytes(data.subspan(at, 3));
    default:
        return {};
    }
}

// The data of a universal command's reply by its fields (the identity of command 0 only whole),
// read only as far as the frame announced and holds it; any other command's data as bytes.
void appendReplyData(std::string& out, uint8_t command, Bytes data) {
    const auto fields = hart::UniversalReply(command);
    std::string told;
    if (command != 0 || data.size() >= static_cast<std::size_t>(hart::LayoutLength(0))) {
        for (const hart::ReplyFieldLayout& field : fields) {
            if (static_cast<std::size_t>(field.offset + field.length) > data.size()) {
                break;
            }
            if (const std::string text = fieldText(field, data); !text.empty()) {
                told += (told.empty() ? "" : ", ") + text;
            }
        }
    }
    if (!told.empty()) {
        out += (command == 0 ? "; identity: " : "; ") + told;
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
    out = (start > 0 ? Counted(start, "byte") + " before the preambles; " : "") + "HART ";
    const std::string preambles = Counted(at - start, "preamble");
    // Every return below leaves `at` where the frame's bytes end.
    const auto done = [&](FrameCheck check) {
        reading.check = check;
        reading.length = at - start;
        return reading;
    };
    if (at == bytes.size()) {
        out += "frame cut after " + preambles;
        return done(FrameCheck::Cut);
    }

    const HartHeader header = ReadHartHeader(at, bytes[at]);
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
    if (direction == Direction::Received && type == HartFrameType::MasterToSlave) {
        out += " (a request, not a reply)";
    }

    // The fields where the header puts them, as far as the bytes go.
    const auto cut = [&](std::string_view after) {
        out += "; cut after the " + std::string(after);
        at = bytes.size();
        return done(FrameCheck::Cut);
    };
    if (bytes.size() < header.expansionAt) {
        return cut("delimiter");
    }
    appendAddress(out, bytes.subspan(header.addressAt, header.addressLength));
    if (bytes.size() < header.commandAt) {
        return cut("address");
    }
    if (header.expansionBytes > 0) {
        out += ", expansion " + HexBytes(bytes.subspan(header.expansionAt, header.expansionBytes));
    }
    if (bytes.size() == header.commandAt) {
        return cut(header.expansionBytes > 0 ? "expansion bytes" : "address");
    }
    const uint8_t command = bytes[header.commandAt];
    out += ", command " + withName(command, hart::CommandName(command));
    if (bytes.size() == header.countAt) {
        return cut("command");
    }
    const std::size_t byteCount = bytes[header.countAt];
    out += ", byte count " + std::to_string(byteCount);
    at = header.countAt + 1;

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
