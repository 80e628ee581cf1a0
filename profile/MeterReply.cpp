// The instrument's reply to a read meter command, by offset and by field.
#include "profile/MeterReply.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "hart/HartFrames.h"
#include "hart/HartHeader.h"
#include "hart/UnitTable.h"
#include "tools/RegisterValues.h"

namespace profile {

namespace {

constexpr FieldLayout floatField(int offset, std::string_view name, int unitOffset, std::string_view fixedUnit = {}) {
    return {offset, 4, FieldType::Float, name, unitOffset, fixedUnit};
}
constexpr FieldLayout unitField(int offset, std::string_view name) {
    return {offset, 1, FieldType::UnitCode, name, -1, {}};
}

constexpr FieldLayout kStatus[] = {
    {0, 1, FieldType::ResponseCode, "response code", -1, {}},
    {1, 1, FieldType::DeviceStatus, "device status", -1, {}},
};

constexpr FieldLayout kCommand1[] = {
    kStatus[0], kStatus[1], unitField(2, "PV unit"), floatField(3, "PV", 2),
};

constexpr FieldLayout kCommand2[] = {
    kStatus[0],
    kStatus[1],
    floatField(2, "loop current", -1, "mA"),
    floatField(6, "percent of range", -1, "%"),
};

constexpr FieldLayout kCommand3[] = {
    kStatus[0],           kStatus[1],           floatField(2, "loop current", -1, "mA"),
    unitField(6, "PV unit"), floatField(7, "PV", 6),  unitField(11, "SV unit"),
    floatField(12, "SV", 11), unitField(16, "TV unit"), floatField(17, "TV", 16),
    unitField(21, "QV unit"), floatField(22, "QV", 21),
};

constexpr std::pair<uint8_t, std::string_view> kResponseNames[] = {
    {0, "success"},
    {2, "invalid selection"},
    {5, "too few data bytes"},
    {16, "access restricted"},
    {32, "busy"},
    {64, "command not implemented"},
};

float floatAt(std::span<const uint8_t> data, std::size_t offset, tools::WordOrder order) {
    return static_cast<float>(*tools::ValueOfBytes(data.subspan(offset, 4), order));
}

std::string responseText(uint8_t code) {
    std::string text = std::to_string(code);
    if (code & 0x80) {
        return text + " (communication error)";
    }
    for (const auto& [known, name] : kResponseNames) {
        if (known == code) {
            return text + " (" + std::string(name) + ")";
        }
    }
    return text;
}

std::string hexByte(uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0x0F];
}

} // namespace

HartReply ReadHartReply(std::span<const uint8_t> frame) {
    HartReply reply;
    std::size_t at = 0;
    while (at < frame.size() && frame[at] == hart::kHartPreamble) {
        ++at;
    }
    if (at == frame.size()) {
        reply.problem = "no delimiter after the preambles";
        return reply;
    }
    const hart::HartHeader header = hart::ReadHartHeader(at, frame[at]);
    if (header.type() != hart::HartFrameType::SlaveToMaster) {
        reply.problem = "delimiter " + hexByte(header.delimiter) + " is not a reply's";
        return reply;
    }
    reply.longAddress = header.longAddress();
    if (header.countAt >= frame.size()) {
        reply.problem = "the frame ends before its byte count";
        return reply;
    }
    const uint8_t count = frame[header.countAt];
    const std::size_t end = header.end(count);
    if (end > frame.size()) {
        reply.problem = "the frame ends before its " + std::to_string(count) + " data bytes and check byte";
        return reply;
    }
    const auto whole = frame.subspan(at, end - at);
    if (!hart::HartCheckRight(whole)) {
        reply.problem = "check byte " + hexByte(whole.back()) + " is wrong (" +
                        hexByte(hart::CheckByte(whole.first(whole.size() - 1))) + " expected)";
        return reply;
    }
    const auto bytes = [&](std::size_t from, std::size_t to) {
        return std::vector<uint8_t>(frame.begin() + static_cast<std::ptrdiff_t>(from),
                                    frame.begin() + static_cast<std::ptrdiff_t>(to));
    };
    reply.address = bytes(header.addressAt, header.addressAt + header.addressLength);
    reply.command = frame[header.commandAt];
    reply.data = bytes(header.countAt + 1, end - 1);
    return reply;
}

std::optional<uint8_t> CommandOfBody(std::span<const uint8_t> body) {
    if (body.empty()) {
        return std::nullopt;
    }
    const std::size_t commandAt = hart::ReadHartHeader(0, body[0]).commandAt;
    if (commandAt >= body.size()) {
        return std::nullopt;
    }
    return body[commandAt];
}

std::vector<uint8_t> BodyWithCommand(std::span<const uint8_t> body, uint8_t command) {
    if (!CommandOfBody(body)) {
        return {};
    }
    const std::size_t commandAt = hart::ReadHartHeader(0, body[0]).commandAt;
    std::vector<uint8_t> out(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(commandAt));
    out.push_back(command);
    out.push_back(0); // byte count: no data
    return out;
}

std::span<const FieldLayout> UniversalLayout(uint8_t command) {
    switch (command) {
    case 1: return kCommand1;
    case 2: return kCommand2;
    case 3: return kCommand3;
    default: return {};
    }
}

const FieldLayout* FieldAt(uint8_t command, int offset, int length) {
    for (const FieldLayout& field : UniversalLayout(command)) {
        if (field.offset == offset && field.length == length) {
            return &field;
        }
    }
    return nullptr;
}

std::vector<std::string_view> FieldsTouched(uint8_t command, int offset, int length) {
    std::vector<std::string_view> names;
    for (const FieldLayout& field : UniversalLayout(command)) {
        if (field.offset < offset + length && offset < field.offset + field.length) {
            names.push_back(field.name);
        }
    }
    return names;
}

std::string UnitName(uint8_t code) {
    const int index = hart::UnitIndex(code);
    if (index == hart::kOtherUnitIndex) {
        return "unit code " + std::to_string(code);
    }
    const std::string_view entry = hart::UnitEntries()[static_cast<std::size_t>(index)];
    return std::string(entry.substr(0, entry.find_last_not_of(' ') + 1));
}

std::string ValueText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::vector<ReplyField> ListFields(uint8_t command, std::span<const uint8_t> data) {
    std::vector<ReplyField> fields;
    const std::span<const FieldLayout> layout = UniversalLayout(command);
    const auto fits = [&](int offset, int length) {
        return static_cast<std::size_t>(offset + length) <= data.size();
    };
    const auto statusField = [&](const FieldLayout& layoutField) {
        ReplyField field;
        field.offset = layoutField.offset;
        field.name = layoutField.name;
        const uint8_t byte = data[static_cast<std::size_t>(layoutField.offset)];
        field.value = layoutField.type == FieldType::ResponseCode ? responseText(byte) : hexByte(byte);
        return field;
    };
    if (!layout.empty()) {
        for (const FieldLayout& f : layout) {
            if (!fits(f.offset, f.length)) {
                break;
            }
            ReplyField field;
            field.offset = f.offset;
            field.length = f.length;
            field.name = f.name;
            switch (f.type) {
            case FieldType::ResponseCode:
            case FieldType::DeviceStatus: field = statusField(f); break;
            case FieldType::UnitCode:
                field.value = UnitName(data[static_cast<std::size_t>(f.offset)]) + " (code " +
                              std::to_string(data[static_cast<std::size_t>(f.offset)]) + ")";
                break;
            case FieldType::Float: {
                field.number = floatAt(data, static_cast<std::size_t>(f.offset), tools::WordOrder::HighWordFirst);
                if (!f.fixedUnit.empty()) {
                    field.unit = f.fixedUnit;
                } else if (f.unitOffset >= 0 && fits(f.unitOffset, 1)) {
                    field.unit = UnitName(data[static_cast<std::size_t>(f.unitOffset)]);
                }
                field.value = ValueText(*field.number) + (field.unit.empty() ? "" : " " + field.unit);
                field.pickable = true;
                break;
            }
            }
            fields.push_back(std::move(field));
        }
        return fields;
    }
    for (int i = 0; i < 2 && fits(i, 1); ++i) {
        fields.push_back(statusField(kStatus[i]));
    }
    for (int offset = 2; fits(offset, 4); ++offset) {
        ReplyField field;
        field.offset = offset;
        field.length = 4;
        const std::size_t at = static_cast<std::size_t>(offset);
        field.value = "ABCD " + ValueText(floatAt(data, at, tools::WordOrder::HighWordFirst)) + ", CDAB " +
                      ValueText(floatAt(data, at, tools::WordOrder::LowWordFirst));
        field.pickable = true;
        fields.push_back(std::move(field));
    }
    return fields;
}

} // namespace profile
