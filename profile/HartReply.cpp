// The instrument's reply to a read meter command as the converter sees it: the frame taken apart, its
// data listed by offset with the universal commands' fields named, and its identity.
#include <algorithm>
#include <charconv>

#include "hart/HartFrames.h"
#include "hart/HartHeader.h"
#include "hart/UnitTable.h"
#include "profile/MappingFields.h"
#include "tools/Conversions.h"
#include "tools/RegisterValues.h"

namespace profile {

namespace {

using hart::FieldKind;
using hart::ReplyFieldLayout;

float floatAt(std::span<const uint8_t> data, std::size_t offset, tools::WordOrder order) {
    return static_cast<float>(*tools::ValueOfBytes(data.subspan(offset, 4), order));
}

std::string responseText(uint8_t code) {
    std::string text = std::to_string(code);
    if (code & hart::kCommunicationError) {
        return text + " (communication error)";
    }
    const std::string_view name = hart::ResponseName(code);
    return name.empty() ? text : text + " (" + std::string(name) + ")";
}

std::string hexByte(uint8_t value) {
    return "0x" + tools::ByteToHex(value);
}

// Where a request body's command byte stands, when the body reaches it.
std::optional<std::size_t> commandAt(std::span<const uint8_t> body) {
    const std::size_t at = body.empty() ? 0 : hart::ReadHartHeader(0, body[0]).commandAt;
    return at < body.size() ? std::optional(at) : std::nullopt;
}

} // namespace

namespace detail {

std::span<const ReplyFieldLayout> ValueLayout(uint8_t command) {
    return command >= 1 && command <= 3 ? hart::UniversalReply(command) : std::span<const ReplyFieldLayout>();
}

const ReplyFieldLayout* ValueFieldAt(uint8_t command, int offset, int length) {
    return ValueLayout(command).empty() ? nullptr : hart::FieldAt(command, offset, length);
}

std::vector<std::string_view> FieldsTouched(uint8_t command, int offset, int length) {
    std::vector<std::string_view> names;
    for (const ReplyFieldLayout& field : ValueLayout(command)) {
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

std::string UnitOfField(const ReplyFieldLayout& field, std::span<const uint8_t> data) {
    if (!field.fixedUnit.empty()) {
        return std::string(field.fixedUnit);
    }
    if (field.unitOffset >= 0 && static_cast<std::size_t>(field.unitOffset) < data.size()) {
        return UnitName(data[static_cast<std::size_t>(field.unitOffset)]);
    }
    return {};
}

} // namespace detail

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
    const std::optional<std::size_t> at = commandAt(body);
    return at ? std::optional<uint8_t>(body[*at]) : std::nullopt;
}

std::vector<uint8_t> BodyWithCommand(std::span<const uint8_t> body, uint8_t command) {
    const std::optional<std::size_t> at = commandAt(body);
    if (!at) {
        return {};
    }
    std::vector<uint8_t> out(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(*at));
    out.push_back(command);
    out.push_back(0); // byte count: no data
    return out;
}

std::vector<uint8_t> IdentityBody(const Mapping& mapping) {
    const auto& first =
        mapping.commands[0].body.empty() ? mapping.commands[1].body : mapping.commands[0].body;
    return BodyWithCommand(first, 0);
}

std::string ValueText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::vector<ReplyField> ListFields(uint8_t command, std::span<const uint8_t> data) {
    std::vector<ReplyField> fields;
    const std::span<const ReplyFieldLayout> layout = detail::ValueLayout(command);
    const auto fits = [&](int offset, int length) {
        return static_cast<std::size_t>(offset + length) <= data.size();
    };
    // A command without named fields: the two status bytes, then any four bytes that fit.
    for (const ReplyFieldLayout& f :
         layout.empty() ? std::span<const ReplyFieldLayout>(hart::layout::kStatus) : layout) {
        if (!fits(f.offset, f.length)) {
            break;
        }
        ReplyField field;
        field.offset = f.offset;
        field.length = f.length;
        field.name = f.name;
        const uint8_t byte = data[static_cast<std::size_t>(f.offset)];
        if (f.kind == FieldKind::Float) {
            field.number = floatAt(data, static_cast<std::size_t>(f.offset), tools::WordOrder::HighWordFirst);
            field.unit = detail::UnitOfField(f, data);
            field.value = ValueText(*field.number) + (field.unit.empty() ? "" : " " + field.unit);
            field.pickable = true;
        } else {
            field.value = f.kind == FieldKind::ResponseCode ? responseText(byte)
                          : f.kind == FieldKind::UnitCode
                              ? detail::UnitName(byte) + " (code " + std::to_string(byte) + ")"
                              : hexByte(byte);
        }
        fields.push_back(std::move(field));
    }
    if (!layout.empty()) {
        return fields;
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

std::optional<InstrumentIdentity> IdentityOfReply(const HartReply& reply) {
    if (!reply.succeeded() || reply.command != 0 || reply.data.size() < std::size_t{hart::LayoutLength(0)}) {
        return std::nullopt;
    }
    const auto at = [&](FieldKind kind) {
        return reply.data[static_cast<std::size_t>(hart::OffsetOf(0, kind))];
    };
    const std::size_t id = static_cast<std::size_t>(hart::OffsetOf(0, FieldKind::DeviceId));
    const std::vector<uint8_t>& d = reply.data;
    return InstrumentIdentity{at(FieldKind::Manufacturer), at(FieldKind::DeviceType),
                              static_cast<uint32_t>(d[id] << 16 | d[id + 1] << 8 | d[id + 2]),
                              at(FieldKind::UniversalRevision)};
}

} // namespace profile
