// What the converter publishes from what the instrument answers: the instrument's reply by offset and
// by field, and the mapping of it onto the registers, checked and mapped.
#include "profile/Mapping.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "hart/HartFrames.h"
#include "hart/HartHeader.h"
#include "hart/UnitTable.h"
#include "tools/Conversions.h"
#include "tools/RegisterValues.h"

namespace profile {

namespace {

using Json = nlohmann::ordered_json;

enum class FieldType { ResponseCode, DeviceStatus, UnitCode, Float };

// One field of a universal command's reply data.
struct FieldLayout {
    int offset = 0;
    int length = 1;
    FieldType type = FieldType::Float;
    std::string_view name;      // "PV", "PV unit", "loop current", "percent of range"
    int unitOffset = -1;        // a float whose unit code is in the reply: that code's offset
    std::string_view fixedUnit; // a float whose unit the command fixes: "mA", "%"
};

constexpr FieldLayout floatField(int offset, std::string_view name, int unitOffset,
                                 std::string_view fixedUnit = {}) {
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
    kStatus[0],
    kStatus[1],
    unitField(2, "PV unit"),
    floatField(3, "PV", 2),
};

constexpr FieldLayout kCommand2[] = {
    kStatus[0],
    kStatus[1],
    floatField(2, "loop current", -1, "mA"),
    floatField(6, "percent of range", -1, "%"),
};

constexpr FieldLayout kCommand3[] = {
    kStatus[0],
    kStatus[1],
    floatField(2, "loop current", -1, "mA"),
    unitField(6, "PV unit"),
    floatField(7, "PV", 6),
    unitField(11, "SV unit"),
    floatField(12, "SV", 11),
    unitField(16, "TV unit"),
    floatField(17, "TV", 16),
    unitField(21, "QV unit"),
    floatField(22, "QV", 21),
};

constexpr std::pair<uint8_t, std::string_view> kResponseNames[] = {
    {0, "success"}, {2, "invalid selection"},        {5, "too few data bytes"}, {16, "access restricted"},
    {32, "busy"},   {64, "command not implemented"},
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
    return "0x" + tools::ByteToHex(value);
}

// The fields of commands 1, 2 and 3 in offset order; empty for any other command.
std::span<const FieldLayout> UniversalLayout(uint8_t command) {
    constexpr std::span<const FieldLayout> kLayouts[] = {{}, kCommand1, kCommand2, kCommand3};
    return command < std::size(kLayouts) ? kLayouts[command] : std::span<const FieldLayout>();
}

// The field of `command`'s reply that starts at `offset` and is `length` bytes long, if there is one.
const FieldLayout* FieldAt(uint8_t command, int offset, int length) {
    const auto layout = UniversalLayout(command);
    const auto it = std::find_if(layout.begin(), layout.end(), [&](const FieldLayout& f) {
        return f.offset == offset && f.length == length;
    });
    return it == layout.end() ? nullptr : &*it;
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

const std::string& required(const Configuration& values, const std::string& name) {
    const std::optional<std::string>& value = values.value(name);
    if (!value) {
        throw BadValue(name + ": not read from the converter");
    }
    return *value;
}

int integerOf(const Configuration& values, const std::string& name) {
    const std::string& text = required(values, name);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw BadValue(name + ": '" + text + "' is not a whole number");
    }
    return value;
}

std::string range(int offset, int length) {
    return "data " + std::to_string(offset) + "-" + std::to_string(offset + length - 1);
}

std::string joined(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : (i + 1 == names.size() ? " and " : ", ");
        text += names[i];
    }
    return text;
}

// The HART command variable n's read meter command sends, if its body holds one.
std::optional<uint8_t> configuredCommand(const Mapping& mapping, int variable) {
    return CommandOfBody(mapping.commands[static_cast<std::size_t>(CommandOfVariable(variable) - 1)].body);
}

// The HART command of a reply the row reads, when the reply is there, else the configured one.
std::optional<uint8_t> commandOf(const Mapping& mapping, int variable, const HartReply* reply) {
    return reply && reply->ok() ? reply->command : configuredCommand(mapping, variable);
}

// How the row's bytes stand against the universal command's fields: empty when they are one value.
std::string fieldProblem(uint8_t command, const ParseRow& row) {
    if (UniversalLayout(command).empty()) {
        return {};
    }
    const FieldLayout* field = FieldAt(command, row.address, row.length);
    if (field && field->type == FieldType::Float) {
        return {};
    }
    const std::vector<std::string_view> touched = FieldsTouched(command, row.address, row.length);
    std::string text = range(row.address, row.length) + " is not one value of the command " +
                       std::to_string(command) + " reply";
    if (row.length == 8) {
        text += " (its values are 4 bytes long)";
    }
    if (touched.size() == 1) {
        text += ": it is the " + std::string(touched[0]);
    } else if (!touched.empty()) {
        text += ": it spans " + joined(touched);
    }
    return text;
}

// A float field's unit: the one its command fixes, or the one the unit code in `data` names.
std::string unitOfField(const FieldLayout& field, std::span<const uint8_t> data) {
    if (!field.fixedUnit.empty()) {
        return std::string(field.fixedUnit);
    }
    if (field.unitOffset >= 0 && static_cast<std::size_t>(field.unitOffset) < data.size()) {
        return UnitName(data[static_cast<std::size_t>(field.unitOffset)]);
    }
    return {};
}

// The unit of variable n's value when its bytes are one float field of the reply (`reply`, where it
// is there, names it).
std::string unitOf(const Mapping& mapping, int variable, const HartReply* reply) {
    const std::optional<uint8_t> command = commandOf(mapping, variable, reply);
    const ParseRow& row = mapping.rows[static_cast<std::size_t>(variable - 1)];
    const FieldLayout* field = command ? FieldAt(*command, row.address, row.length) : nullptr;
    if (!field || field->type != FieldType::Float) {
        return {};
    }
    return unitOfField(*field, reply && reply->ok() ? std::span<const uint8_t>(reply->data)
                                                    : std::span<const uint8_t>());
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// Characters, not bytes: unit names such as the degree signs take three bytes.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
}

std::string registersText(const MapRow& row) {
    return std::to_string(row.firstRegister) + "-" + std::to_string(row.lastRegister);
}

std::string lineText(const Mapping& mapping) {
    return "slave address " + std::to_string(mapping.slaveAddress) + ", RS485 " + mapping.baud +
           " baud, parity " + mapping.parity +
           ", 8 data bits, 1 stop bit; read with function 3 (read holding registers)";
}

std::string instrumentText(const std::optional<InstrumentIdentity>& instrument) {
    if (!instrument) {
        return "instrument: did not answer (units unknown)";
    }
    char manufacturer[8];
    std::snprintf(manufacturer, sizeof manufacturer, " (0x%02X)", instrument->manufacturer);
    return "instrument: manufacturer " + std::to_string(instrument->manufacturer) + manufacturer +
           ", device type " + std::to_string(instrument->deviceType) + " (" +
           DeviceTypeText(instrument->deviceType) + "), device ID " + DeviceIdText(instrument->deviceId) +
           ", HART revision " + std::to_string(instrument->universalRevision);
}

// A coefficient's text as a number, read as the converter reads it ("1.000", "+0.50", "2e1").
std::optional<double> coefficientValue(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Where a request body's command byte stands, when the body reaches it.
std::optional<std::size_t> commandAt(std::span<const uint8_t> body) {
    const std::size_t at = body.empty() ? 0 : hart::ReadHartHeader(0, body[0]).commandAt;
    return at < body.size() ? std::optional(at) : std::nullopt;
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
    // A command without named fields: the two status bytes, then any four bytes that fit.
    for (const FieldLayout& f : layout.empty() ? std::span<const FieldLayout>(kStatus) : layout) {
        if (!fits(f.offset, f.length)) {
            break;
        }
        ReplyField field;
        field.offset = f.offset;
        field.length = f.length;
        field.name = f.name;
        const uint8_t byte = data[static_cast<std::size_t>(f.offset)];
        if (f.type == FieldType::Float) {
            field.number = floatAt(data, static_cast<std::size_t>(f.offset), tools::WordOrder::HighWordFirst);
            field.unit = unitOfField(f, data);
            field.value = ValueText(*field.number) + (field.unit.empty() ? "" : " " + field.unit);
            field.pickable = true;
        } else {
            field.value = f.type == FieldType::ResponseCode ? responseText(byte)
                          : f.type == FieldType::UnitCode
                              ? UnitName(byte) + " (code " + std::to_string(byte) + ")"
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

int RegisterOfVariable(int variable) {
    return kFirstRegister + 2 * variable;
}

int CommandOfVariable(int variable) {
    return variable <= 4 ? 1 : 2;
}

bool Mapping::polled(int variable) const {
    const MeterCommand& command = commands[static_cast<std::size_t>(CommandOfVariable(variable) - 1)];
    return polling && command.enabled && !command.body.empty();
}

Mapping MappingOf(const Configuration& values) {
    Mapping mapping;
    mapping.polling = required(values, "hart.enabled") == "on";
    for (int c = 1; c <= 2; ++c) {
        const std::string name = "read" + std::to_string(c);
        MeterCommand& command = mapping.commands[static_cast<std::size_t>(c - 1)];
        command.enabled = required(values, name + ".enabled") == "on";
        // An empty command gives no bytes: ParseHexBytes reads no pair in it.
        command.body =
            hart::ParseHexBytes(required(values, name + ".command"), hart::kCustomCommandMaxBytes).bytes;
    }
    for (int n = 1; n <= kMappedVariables; ++n) {
        const std::string name = "parse" + std::to_string(n);
        ParseRow& row = mapping.rows[static_cast<std::size_t>(n - 1)];
        row.order = required(values, name + ".order") == "1" ? tools::WordOrder::LowWordFirst
                                                             : tools::WordOrder::HighWordFirst;
        row.address = integerOf(values, name + ".address");
        row.length = integerOf(values, name + ".length");
        row.coefficient = required(values, name + ".coefficient");
    }
    mapping.slaveAddress = integerOf(values, "modbus.address");
    mapping.baud = required(values, "rs485.baud");
    mapping.parity = required(values, "rs485.parity");
    return mapping;
}

RowValue ValueOfRow(const ParseRow& row, std::span<const uint8_t> data) {
    RowValue result;
    if (row.length != 4 && row.length != 8) {
        result.problem = "a length of " + std::to_string(row.length) + " bytes is neither 4 nor 8";
        return result;
    }
    if (row.address < 0 || static_cast<std::size_t>(row.address + row.length) > data.size()) {
        result.problem = range(row.address, row.length) + " lies beyond the " + std::to_string(data.size()) +
                         " bytes of the reply";
        return result;
    }
    const std::optional<double> coefficient = coefficientValue(row.coefficient);
    if (!coefficient) {
        result.problem = "the coefficient '" + row.coefficient + "' is not a number";
        return result;
    }
    const std::optional<double> raw = tools::ValueOfBytes(
        data.subspan(static_cast<std::size_t>(row.address), static_cast<std::size_t>(row.length)),
        tools::WordOrder::HighWordFirst);
    result.value = static_cast<float>(*raw * *coefficient);
    return result;
}

std::optional<float> VariableOfRegisters(std::span<const uint16_t> registers, int firstRegister, int variable,
                                         tools::WordOrder order) {
    const long at = static_cast<long>(RegisterOfVariable(variable)) - firstRegister;
    if (at < 0 || static_cast<std::size_t>(at) + 2 > registers.size()) {
        return std::nullopt;
    }
    return tools::FloatOf(std::span<const uint16_t, 2>(registers.data() + at, 2), order);
}

std::string SourceText(const Mapping& mapping, int variable) {
    const int command = CommandOfVariable(variable);
    const std::string head = "command " + std::to_string(command);
    if (!mapping.polling) {
        return head + ", not polled (HART polling is off)";
    }
    if (!mapping.polled(variable)) {
        return head + " is off";
    }
    const ParseRow& row = mapping.rows[static_cast<std::size_t>(variable - 1)];
    std::string text = head + " " + range(row.address, row.length);
    if (const std::optional<uint8_t> hartCommand = configuredCommand(mapping, variable)) {
        const FieldLayout* field = FieldAt(*hartCommand, row.address, row.length);
        const std::vector<std::string_view> touched = FieldsTouched(*hartCommand, row.address, row.length);
        if (field) {
            text += ", " + std::string(field->name);
        } else if (touched.size() == 1) {
            text += ", part of " + std::string(touched[0]);
        } else if (!touched.empty()) {
            text += ", across " + joined(touched);
        } else if (!UniversalLayout(*hartCommand).empty()) {
            text += ", beyond the reply";
        }
    }
    return text;
}

Comparison CompareWithTolerance(double hartBefore, double hartAfter, double modbus, double percent) {
    Comparison c;
    if (std::isnan(hartBefore) || std::isnan(hartAfter) || std::isnan(modbus)) {
        c.same = std::isnan(modbus) && (std::isnan(hartBefore) || std::isnan(hartAfter));
        c.difference = c.same ? 0 : NAN;
        return c;
    }
    if (std::isinf(hartBefore) || std::isinf(hartAfter) || std::isinf(modbus)) {
        c.same = modbus == hartBefore || modbus == hartAfter;
        c.difference = c.same ? 0 : INFINITY;
        return c;
    }
    const double low = std::min(hartBefore, hartAfter);
    const double high = std::max(hartBefore, hartAfter);
    c.moved = high - low;
    c.allowed = percent / 100.0 * std::max(std::fabs(hartBefore), std::fabs(hartAfter));
    c.difference = modbus < low ? low - modbus : (modbus > high ? modbus - high : 0.0);
    c.same = c.difference <= c.allowed;
    return c;
}

std::string_view VerdictName(CheckVerdict verdict) {
    // In the order of CheckVerdict.
    constexpr std::string_view kNames[] = {"same", "DIFFERS", "NOT A FIELD", "NO VALUE", "not polled"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(CheckVerdict::NotPolled) + 1);
    return kNames[static_cast<std::size_t>(verdict)];
}

bool IsFailure(CheckVerdict verdict) {
    return verdict == CheckVerdict::Differs || verdict == CheckVerdict::NotAField ||
           verdict == CheckVerdict::NoValue;
}

std::vector<CheckRow> CheckMapping(const Mapping& mapping, const std::array<CommandReads, 2>& reads,
                                   std::span<const uint16_t> registers, int firstRegister, double percent) {
    std::vector<CheckRow> rows;
    for (int n = 1; n <= kMappedVariables; ++n) {
        const ParseRow& parse = mapping.rows[static_cast<std::size_t>(n - 1)];
        const CommandReads& read = reads[static_cast<std::size_t>(CommandOfVariable(n) - 1)];
        CheckRow row;
        row.variable = n;
        row.registerNumber = RegisterOfVariable(n);
        row.source = SourceText(mapping, n);
        row.modbus = VariableOfRegisters(registers, firstRegister, n, parse.order);
        rows.push_back(row);
        CheckRow& r = rows.back();
        if (!mapping.polled(n)) {
            r.verdict = CheckVerdict::NotPolled;
            r.note = "the converter does not poll command " + std::to_string(CommandOfVariable(n));
            continue;
        }
        const HartReply* before = read.before ? &*read.before : nullptr;
        const HartReply* after = read.after ? &*read.after : nullptr;
        const std::optional<uint8_t> command = commandOf(mapping, n, before);
        r.unit = unitOf(mapping, n, before);
        const auto valueFrom = [&](const HartReply* reply) -> RowValue {
            if (!reply || !reply->ok()) {
                return {{},
                        !read.problem.empty() ? read.problem
                                              : (reply ? "the reply is unreadable: " + reply->problem
                                                       : std::string("no reply"))};
            }
            if (!reply->succeeded()) {
                return {{},
                        "the instrument answered with response code " +
                            std::to_string(reply->data.empty() ? 0 : reply->data[0]) +
                            ", a reply the converter takes no values from"};
            }
            return ValueOfRow(parse, reply->data);
        };
        const RowValue valueBefore = valueFrom(before);
        r.hartBefore = valueBefore.value;
        r.hartAfter = valueFrom(after).value;
        if (!r.hartBefore) {
            r.verdict = CheckVerdict::NoValue;
            r.note = valueBefore.problem;
            continue;
        }
        if (!r.modbus) {
            r.verdict = CheckVerdict::NoValue;
            r.note = "register " + std::to_string(r.registerNumber) + " was not read";
            continue;
        }
        const float afterValue = r.hartAfter.value_or(*r.hartBefore);
        r.comparison = CompareWithTolerance(*r.hartBefore, afterValue, *r.modbus, percent);
        if (!r.comparison.same) {
            r.verdict = CheckVerdict::Differs;
            r.note = "the register holds " + ValueText(*r.modbus) + ", the instrument's reply makes it " +
                     ValueText(*r.hartBefore) +
                     (r.hartAfter && *r.hartAfter != *r.hartBefore ? " to " + ValueText(*r.hartAfter) : "");
            continue;
        }
        if (command) {
            if (const std::string problem = fieldProblem(*command, parse); !problem.empty()) {
                r.verdict = CheckVerdict::NotAField;
                r.note = problem;
                continue;
            }
        }
        r.verdict = CheckVerdict::Same;
    }
    return rows;
}

std::string DeviceTypeText(uint8_t deviceType) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", deviceType);
    return text;
}

std::string DeviceIdText(uint32_t deviceId) {
    char text[12];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(deviceId & 0xFFFFFF));
    return text;
}

std::optional<InstrumentIdentity> IdentityOfReply(const HartReply& reply) {
    // Response code, status, 254, manufacturer, device type, preambles, revisions..., flags, device ID.
    if (!reply.succeeded() || reply.command != 0 || reply.data.size() < 14) {
        return std::nullopt;
    }
    const std::vector<uint8_t>& d = reply.data;
    return InstrumentIdentity{d[3], d[4], static_cast<uint32_t>(d[11] << 16 | d[12] << 8 | d[13]), d[6]};
}

std::vector<MapRow> RegisterMap(const Mapping& mapping,
                                const std::array<std::optional<HartReply>, 2>& replies) {
    std::vector<MapRow> rows;
    rows.push_back({kFirstRegister, kFirstRegister + 1, 0, "not a variable", "", "reserved", "", "", ""});
    for (int n = 1; n <= kMappedVariables; ++n) {
        const ParseRow& parse = mapping.rows[static_cast<std::size_t>(n - 1)];
        const std::optional<HartReply>& reply = replies[static_cast<std::size_t>(CommandOfVariable(n) - 1)];
        MapRow row;
        row.firstRegister = RegisterOfVariable(n);
        row.lastRegister = row.firstRegister + 1;
        row.variable = n;
        row.source = SourceText(mapping, n);
        if (mapping.polled(n)) {
            row.unit = unitOf(mapping, n, reply ? &*reply : nullptr);
        }
        // Every variable is published as a single in its two registers, whatever length it is read with.
        row.dataType = parse.length == 8 ? "float32 (from an 8-byte double)" : "float32";
        row.order = std::string(tools::WordOrderName(parse.order));
        row.converterOrder = std::string(tools::WordOrderConverterName(parse.order));
        row.coefficient = parse.coefficient;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string FormatRegisterMap(const Mapping& mapping, const std::vector<MapRow>& rows,
                              const std::optional<InstrumentIdentity>& instrument, MapFormat format) {
    const auto variableText = [](const MapRow& row) {
        return row.variable == 0 ? std::string("-") : std::to_string(row.variable);
    };
    std::string out;
    switch (format) {
    case MapFormat::Json: {
        Json json = {{"slave_address", mapping.slaveAddress},
                     {"baud", mapping.baud},
                     {"parity", mapping.parity},
                     {"data_bits", 8},
                     {"stop_bits", 1},
                     {"function", 3}};
        if (instrument) {
            json["instrument"] = {{"manufacturer", instrument->manufacturer},
                                  {"device_type", instrument->deviceType},
                                  {"device_id", instrument->deviceId},
                                  {"hart_revision", instrument->universalRevision}};
        } else {
            json["instrument"] = nullptr;
        }
        Json registers = Json::array();
        for (const MapRow& row : rows) {
            Json r = {{"first_register", row.firstRegister}, {"last_register", row.lastRegister}};
            r["variable"] = row.variable == 0 ? Json(nullptr) : Json(row.variable);
            r["source"] = row.source;
            r["unit"] = row.unit;
            r["data_type"] = row.dataType;
            r["word_order"] = row.order;
            r["converter_order"] = row.converterOrder;
            r["coefficient"] = row.coefficient;
            registers.push_back(std::move(r));
        }
        json["registers"] = std::move(registers);
        return json.dump(2) + "\n";
    }
    case MapFormat::Csv:
        out = "registers,variable,source,unit,data_type,word_order,converter_order,coefficient,slave_address,"
              "baud,"
              "parity\n";
        for (const MapRow& row : rows) {
            out += registersText(row) + "," + variableText(row) + "," + csvField(row.source) + "," +
                   csvField(row.unit) + "," + csvField(row.dataType) + "," + row.order + "," +
                   row.converterOrder + "," + csvField(row.coefficient) + "," +
                   std::to_string(mapping.slaveAddress) + "," + mapping.baud + "," + mapping.parity + "\n";
        }
        return out;
    case MapFormat::Markdown:
        out = "MODBUS " + lineText(mapping) + ".\n\n" + instrumentText(instrument) + ".\n\n";
        out += "| Registers | Variable | Source | Unit | Data type | Word order | Converter's order | "
               "Coefficient |\n";
        out += "|---|---|---|---|---|---|---|---|\n";
        for (const MapRow& row : rows) {
            out += "| " + registersText(row) + " | " + variableText(row) + " | " + row.source + " | " +
                   row.unit + " | " + row.dataType + " | " + row.order + " | " + row.converterOrder + " | " +
                   row.coefficient + " |\n";
        }
        return out;
    case MapFormat::Text: {
        out = "MODBUS " + lineText(mapping) + "\n" + instrumentText(instrument) + "\n\n";
        const std::vector<std::string> head = {"registers", "var",   "source",          "unit",
                                               "type",      "order", "converter order", "coefficient"};
        std::vector<std::vector<std::string>> table = {head};
        for (const MapRow& row : rows) {
            table.push_back({registersText(row), variableText(row), row.source, row.unit, row.dataType,
                             row.order, row.converterOrder, row.coefficient});
        }
        std::vector<std::size_t> widths(head.size());
        for (const auto& line : table) {
            for (std::size_t i = 0; i < line.size(); ++i) {
                widths[i] = std::max(widths[i], displayWidth(line[i]));
            }
        }
        for (const auto& line : table) {
            std::string text;
            for (std::size_t i = 0; i < line.size(); ++i) {
                text += line[i];
                if (i + 1 < line.size()) {
                    text += std::string(widths[i] - displayWidth(line[i]) + 2, ' ');
                }
            }
            out += text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
        }
        return out;
    }
    }
    return out;
}

} // namespace profile
