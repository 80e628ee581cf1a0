// What the converter publishes from what the instrument answers: the mapping of the reply's data onto
// the registers, each variable's value and source, and the check of the registers against them.
#include "profile/Mapping.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "hart/HartFrames.h"
#include "profile/MappingFields.h"
#include "tools/RegisterValues.h"

namespace profile {

namespace {

using hart::FieldKind;
using hart::ReplyFieldLayout;

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

// How the row's bytes stand against the universal command's fields: empty when they are one value.
std::string fieldProblem(uint8_t command, const ParseRow& row) {
    if (detail::ValueLayout(command).empty()) {
        return {};
    }
    const ReplyFieldLayout* field = detail::ValueFieldAt(command, row.address, row.length);
    if (field && field->kind == FieldKind::Float) {
        return {};
    }
    const std::vector<std::string_view> touched = detail::FieldsTouched(command, row.address, row.length);
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

} // namespace

namespace detail {

std::optional<uint8_t> CommandOf(const Mapping& mapping, int variable, const HartReply* reply) {
    return reply && reply->ok() ? reply->command : configuredCommand(mapping, variable);
}

std::string UnitOf(const Mapping& mapping, int variable, const HartReply* reply) {
    const std::optional<uint8_t> command = CommandOf(mapping, variable, reply);
    const ParseRow& row = mapping.rows[static_cast<std::size_t>(variable - 1)];
    const ReplyFieldLayout* field = command ? detail::ValueFieldAt(*command, row.address, row.length) : nullptr;
    if (!field || field->kind != FieldKind::Float) {
        return {};
    }
    return UnitOfField(*field, reply && reply->ok() ? std::span<const uint8_t>(reply->data)
                                                    : std::span<const uint8_t>());
}

} // namespace detail

int RegisterOfVariable(int variable) {
    return kFirstRegister + 2 * variable;
}

int CommandOfVariable(int variable) {
    return variable <= 4 ? 1 : 2;
}

bool Mapping::polls(int command) const {
    const MeterCommand& meter = commands[static_cast<std::size_t>(command - 1)];
    return polling && meter.enabled && !meter.body.empty();
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
        const ReplyFieldLayout* field = detail::ValueFieldAt(*hartCommand, row.address, row.length);
        const std::vector<std::string_view> touched = detail::FieldsTouched(*hartCommand, row.address, row.length);
        if (field) {
            text += ", " + std::string(field->name);
        } else if (touched.size() == 1) {
            text += ", part of " + std::string(touched[0]);
        } else if (!touched.empty()) {
            text += ", across " + joined(touched);
        } else if (!detail::ValueLayout(*hartCommand).empty()) {
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
        const std::optional<uint8_t> command = detail::CommandOf(mapping, n, before);
        r.unit = detail::UnitOf(mapping, n, before);
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

} // namespace profile
