// HART's universal commands 0, 1, 2 and 3 as one table: each reply's fields by offset (counted as
// the converter's parse format counts them: response code 0, device status 1, the command's own data
// from 2), with their names and units, and the names of commands, response codes and status bits.
// The reply decoders, the mapping of a reply onto registers and the frame interpreter all read it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace hart {

enum class FieldKind : uint8_t {
    ResponseCode,
    DeviceStatus,
    Float,        // IEEE-754 single, most significant byte first
    UnitCode,     // the unit of the float after it
    Expansion,    // 254 in command 0's reply
    Manufacturer, // command 0's identity
    DeviceType,
    Preambles, // the preambles the instrument asks for
    UniversalRevision,
    DeviceRevision,
    SoftwareRevision,
    HardwareRevision,
    Flags,
    DeviceId, // three bytes, most significant first
};

struct ReplyFieldLayout {
    int offset = 0;
    int length = 1;
    FieldKind kind = FieldKind::Float;
    std::string_view name;      // "PV", "PV unit", "loop current", "percent of range", "manufacturer"
    int unitOffset = -1;        // a float whose unit code is in the reply: that code's offset
    std::string_view fixedUnit; // a float whose unit the command fixes: "mA", "%"
};

// The reply's data offset of the response code; the command's own data start two bytes later.
inline constexpr int kResponseCodeAt = 0;
inline constexpr int kDeviceStatusAt = 1;

namespace layout {
constexpr ReplyFieldLayout field(int offset, int length, FieldKind kind, std::string_view name) {
    return {offset, length, kind, name, -1, {}};
}
constexpr ReplyFieldLayout number(int offset, std::string_view name, int unitOffset,
                                  std::string_view fixedUnit) {
    return {offset, 4, FieldKind::Float, name, unitOffset, fixedUnit};
}
inline constexpr ReplyFieldLayout kStatus[] = {
    field(kResponseCodeAt, 1, FieldKind::ResponseCode, "response code"),
    field(kDeviceStatusAt, 1, FieldKind::DeviceStatus, "device status"),
};
inline constexpr ReplyFieldLayout kCommand0[] = {
    kStatus[0],
    kStatus[1],
    field(2, 1, FieldKind::Expansion, "expansion"),
    field(3, 1, FieldKind::Manufacturer, "manufacturer"),
    field(4, 1, FieldKind::DeviceType, "device type"),
    field(5, 1, FieldKind::Preambles, "preambles"),
    field(6, 1, FieldKind::UniversalRevision, "universal revision"),
    field(7, 1, FieldKind::DeviceRevision, "device revision"),
    field(8, 1, FieldKind::SoftwareRevision, "software revision"),
    field(9, 1, FieldKind::HardwareRevision, "hardware revision"),
    field(10, 1, FieldKind::Flags, "flags"),
    field(11, 3, FieldKind::DeviceId, "device id"),
};
inline constexpr ReplyFieldLayout kCommand1[] = {
    kStatus[0],
    kStatus[1],
    field(2, 1, FieldKind::UnitCode, "PV unit"),
    number(3, "PV", 2, {}),
};
inline constexpr ReplyFieldLayout kCommand2[] = {
    kStatus[0],
    kStatus[1],
    number(2, "loop current", -1, "mA"),
    number(6, "percent of range", -1, "%"),
};
inline constexpr ReplyFieldLayout kCommand3[] = {
    kStatus[0],
    kStatus[1],
    number(2, "loop current", -1, "mA"),
    field(6, 1, FieldKind::UnitCode, "PV unit"),
    number(7, "PV", 6, {}),
    field(11, 1, FieldKind::UnitCode, "SV unit"),
    number(12, "SV", 11, {}),
    field(16, 1, FieldKind::UnitCode, "TV unit"),
    number(17, "TV", 16, {}),
    field(21, 1, FieldKind::UnitCode, "QV unit"),
    number(22, "QV", 21, {}),
};
} // namespace layout

// The fields of command 0, 1, 2 or 3's reply in offset order; empty for any other command.
constexpr std::span<const ReplyFieldLayout> UniversalReply(uint8_t command) {
    switch (command) {
    case 0:
        return layout::kCommand0;
    case 1:
        return layout::kCommand1;
    case 2:
        return layout::kCommand2;
    case 3:
        return layout::kCommand3;
    default:
        return {};
    }
}

// The first field of `kind` in `command`'s reply (the offset of a kind the reply lacks is -1).
constexpr int OffsetOf(uint8_t command, FieldKind kind) {
    for (const ReplyFieldLayout& f : UniversalReply(command)) {
        if (f.kind == kind) {
            return f.offset;
        }
    }
    return -1;
}
// The bytes of a reply's data the whole layout takes: command 0 needs 14 for its device id.
constexpr int LayoutLength(uint8_t command) {
    const auto fields = UniversalReply(command);
    return fields.empty() ? 0 : fields.back().offset + fields.back().length;
}

// The field of `command`'s reply that starts at `offset` and is `length` bytes long, if there is one.
const ReplyFieldLayout* FieldAt(uint8_t command, int offset, int length);

// "read unique identifier" for 0, ... "write polling address" for 6; empty for another command.
std::string_view CommandName(uint8_t command);

// The first response byte with its top bit set reports a fault on the line instead of a response code.
inline constexpr uint8_t kCommunicationError = 0x80;
// "success", "invalid selection", ... "command not implemented"; empty for a code without a name.
std::string_view ResponseName(uint8_t code);

struct FlagName {
    uint8_t bit;
    std::string_view name;
};
// The bits of a communication error byte, and of the device status byte, with their names.
std::span<const FlagName> CommunicationErrorFlags();
std::span<const FlagName> DeviceStatusFlags();

} // namespace hart
