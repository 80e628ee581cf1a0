// The instrument's reply to a read meter command, by offset and by field.
#include "profile/MeterReply.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "hart/UnitTable.h"
#include "tools/RegisterValues.h"

namespace profile {

namespace {

constexpr uint8_t kPreamble = 0xFF;
constexpr uint8_t kFrameTypeMask = 0x07;
constexpr uint8_t kSlaveToMaster = 0x06;
constexpr uint8_t kLongAddressBit = 0x80;
constexpr int kExpansionShift = 5; // bits 5 and 6 of the delimiter count the expansion bytes

std::size_t addressLength(uint8_t delimiter) {
    return (delimiter & kLongAddressBit) ? 5 : 1;
}

std::size_t expansionLength(uint8_t delimiter) {
    return (delimiter >> kExpansionShift) & 0x03;
}

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
    while (at < frame.size() && frame[at] == kPreamble) {
        ++at;
    }
    if (at == frame.size()) {
        reply.problem = "no delimiter after the preambles";
        return reply;
    }
    const uint8_t delimiter = frame[at];
    if ((delimiter & kFrameTypeMask) != kSlaveToMaster) {
        reply.problem = "delimiter " + hexByte(delimiter) + " is not a reply's";
        return reply;
    }
    const std::size_t bodyStart = at;
    reply.longAddress = (delimiter & kLongAddressBit) != 0;
    const std::size_t addressAt = at + 1;
    const std::size_t commandAt = addressAt + addressLength(delimiter) + expansionLength(delimiter);
    const std::size_t countAt = commandAt + 1;
    if (countAt >= frame.size()) {
        reply.problem = "the frame ends before its byte count";
        return reply;
    }
    const std::size_t count = frame[countAt];
    const std::size_t checkAt = countAt + 1 + count;
    if (checkAt >= frame.size()) {
        reply.problem = "the frame ends before its " + std::to_string(count) + " data bytes and check byte";
        return reply;
    }
    uint8_t check = 0;
    for (std::size_t i = bodyStart; i < checkAt; ++i) {
        check ^= frame[i];
    }
    if (check != frame[checkAt]) {
        reply.problem = "check byte " + hexByte(frame[checkAt]) + " is wrong (" + hexByte(check) + " expected)";
        return reply;
    }
    reply.address.assign(frame.begin() + static_cast<std::ptrdiff_t>(addressAt),
                         frame.begin() + static_cast<std::ptrdiff_t>(addressAt + addressLength(delimiter)));
    reply.command = frame[commandAt];
    reply.data.assign(frame.begin() + static_cast<std::ptrdiff_t>(countAt + 1),
                      frame.begin() + static_cast<std::ptrdiff_t>(checkAt));
    return reply;
}

std::optional<uint8_t> CommandOfBody(std::span<const uint8_t> body) {
    if (body.empty()) {
        return std::nullopt;
    }
    const std::size_t commandAt = 1 + addressLength(body[0]) + expansionLength(body[0]);
    if (commandAt >= body.size()) {
        return std::nullopt;
    }
    return body[commandAt];
}

std::vector<uint8_t> BodyWithCommand(std::span<const uint8_t> body, uint8_t command) {
    if (!CommandOfBody(body)) {
        return {};
    }
    const std::size_t commandAt = 1 + addressLength(body[0]) + expansionLength(body[0]);
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
