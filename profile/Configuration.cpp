// Values of the parameter table and what is said of them (problems, differences); the set command
// table: each command's key, title and frame builder (config/'s), its parameters taken from the rows
// that name it; frames from values and the order of a restore.
#include "profile/Configuration.h"

#include <algorithm>
#include <numeric>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "tools/Conversions.h"

namespace profile {

Configuration::Configuration() : values_(ParameterCount()) {}

const std::optional<std::string>& Configuration::value(std::string_view name) const {
    return values_.at(ParameterIndex(name));
}

void Configuration::setTyped(std::string_view name, std::string_view typed) {
    const std::size_t index = ParameterIndex(name);
    values_[index] = CanonicalValue(Parameters()[index], typed);
}

void Configuration::merge(const Configuration& other) {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (other.values_[i]) {
            values_[i] = other.values_[i];
        }
    }
}

std::size_t Configuration::count() const {
    return static_cast<std::size_t>(
        std::count_if(values_.begin(), values_.end(), [](const auto& v) { return v; }));
}

std::string ProblemText(const Problem& problem) {
    return problem.parameter ? std::string(Parameters()[*problem.parameter].name) + ": " + problem.text
                             : std::string(QueryKey(problem.query)) + " reply: " + problem.text;
}

std::vector<Difference> Compare(const Configuration& expected, const Configuration& actual) {
    std::vector<Difference> out;
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        if (!Parameters()[i].restorable || !expected.has(i)) {
            continue;
        }
        if (expected.value(i) != actual.value(i)) {
            out.push_back({i, expected.value(i), actual.value(i)});
        }
    }
    return out;
}

namespace {

// One value a set command carries, as its frame builder takes it: the text, and the number of an
// integer or the list position of a choice.
struct FrameValue {
    std::string text;
    int number = 0;
};
using FrameValues = std::vector<FrameValue>;

// A set command, or a numbered family of them (`count` commands numbered from `first`).
struct SetterRow {
    SetKind kind;
    std::string_view key;   // a family's key and title end with the number plus `keyShift`
    std::string_view title; // ... and the number
    int first;
    int count;
    int keyShift;
    std::string (*build)(const FrameValues& values, int number); // config/'s builder
};

// The builders of the commands that carry one value.
template <std::string (*Build)(int)> std::string byNumber(const FrameValues& v, int) {
    return Build(v[0].number);
}
template <std::string (*Build)(std::string_view)> std::string byText(const FrameValues& v, int) {
    return Build(v[0].text);
}
template <config::Rs485Port Port> std::string rs485(const FrameValues& v, int) {
    return config::rs485Frame(Port, v[0].number, v[1].number);
}

std::string readMeterFrame(const FrameValues& v, int command) {
    const std::string& bytes = v[1].text;
    if (bytes.empty()) {
        throw BadValue(
            "read" + std::to_string(command) +
            ".command: the converter holds no command, and a read meter command of no bytes cannot be sent");
    }
    const config::ReadMeterCommandFrame frame = config::readMeterCommandFrame(command, v[0].number, bytes);
    if (!frame.ok()) {
        throw BadValue("read" + std::to_string(command) + ".command: '" + bytes + "': " + frame.failure);
    }
    return frame.frame;
}

// In restore order: the settings that change the line itself last.
constexpr SetterRow kSetterRows[] = {
    {SetKind::Mode, "MD", "working mode", 0, 1, 0, byNumber<config::workingModeFrame>},
    {SetKind::Interval, "JTM", "MODBUS command interval", 0, 1, 0, byText<config::commandIntervalFrame>},
    {SetKind::Totalizer, "DL", "totalizer output", 0, 1, 0, byNumber<config::totalizerOutputFrame>},
    {SetKind::AnalogOutput, "DA", "analog output DOUTA", 0, config::kAnalogOutputs, 1,
     [](const FrameValues& v, int output) {
         return config::analogOutputFrame(output, v[0].number, v[1].text, v[2].text);
     }},
    // The converter has one meter, "Device 0".
    {SetKind::HartPolling, "HART0", "HART polling", 0, 1, 0,
     [](const FrameValues& v, int) {
         return config::hartPollingFrame(0, v[0].number, v[1].number, v[2].number, v[3].number, v[4].text);
     }},
    {SetKind::ReadMeter, "CAMD0", "read meter command ", 1, config::kReadMeterCommands, 0, readMeterFrame},
    {SetKind::ParseFormat, "MDBS", "parse format of variable ", 1, config::kParseVariables, 0,
     [](const FrameValues& v, int variable) {
         return config::parseFormatFrame(variable, v[0].number, v[1].text, v[2].number, v[3].text);
     }},
    {SetKind::AddressBit, "MDL", "address bit", 0, 1, 0, byNumber<config::addressBitFrame>},
    {SetKind::Rs485B, "BA2", "RS485B port", 0, 1, 0, rs485<config::Rs485Port::Rs485B>},
    {SetKind::SlaveAddress, "ADR", "MODBUS slave address", 0, 1, 0, byText<config::slaveAddressFrame>},
    {SetKind::Rs485, "BA1", "RS485 port", 0, 1, 0, rs485<config::Rs485Port::Rs485>},
};

std::vector<Setter> buildSetters() {
    std::vector<Setter> setters;
    for (const SetterRow& row : kSetterRows) {
        for (int number = row.first; number < row.first + row.count; ++number) {
            const bool family = row.count > 1;
            Setter s{row.kind, family ? number : 0, std::string(row.key), std::string(row.title), {}};
            if (family) {
                s.key += std::to_string(number + row.keyShift);
                s.title += std::to_string(number);
            }
            for (std::size_t p = 0; p < ParameterCount(); ++p) {
                if (Parameters()[p].setBy == s.kind && Parameters()[p].number == s.number) {
                    s.parameters.push_back(p);
                }
            }
            setters.push_back(std::move(s));
        }
    }
    return setters;
}

const std::vector<Setter>& setters() {
    static const std::vector<Setter> all = buildSetters();
    return all;
}

// The frame of a set command from the values; BadValue names the first one missing or refused.
std::string setFrame(std::size_t setter, const Configuration& values) {
    const Setter& s = setters().at(setter);
    try {
        std::vector<FrameValue> carried;
        for (const std::size_t i : s.parameters) {
            const Parameter& p = Parameters()[i];
            const auto& value = values.value(i);
            if (!value) {
                throw BadValue(std::string(p.name) +
                               ": no value to send (not read from the converter, not in the file)");
            }
            const std::optional<int> index = ChoiceIndex(p, *value);
            if (!p.choices.empty() && !index) {
                throw BadValue(std::string(p.name) + ": '" + *value + "' is not one of " + ValuesText(p));
            }
            carried.push_back(
                {*value, p.kind == Kind::Integer ? tools::StrToInt(*value) : index.value_or(0)});
        }
        const auto row = std::find_if(std::begin(kSetterRows), std::end(kSetterRows),
                                      [&](const SetterRow& r) { return r.kind == s.kind; });
        return row->build(carried, s.number);
    } catch (const tools::Error& error) {
        // A value canonical for its parameter that the frame still refuses: name the set command.
        throw BadValue(s.title + ": " + error.what());
    }
}

// The fields of a set command's value, in the order of its parameters.
std::vector<std::string> fieldsOf(SetKind kind, std::string_view value) {
    switch (kind) {
    case SetKind::Rs485:
    case SetKind::Rs485B:
        // Baud and parity digits side by side.
        if (value.size() != 2) {
            return {};
        }
        return {std::string(1, value[0]), std::string(1, value[1])};
    case SetKind::ReadMeter: {
        // The enable digit, "<", the byte count, ",", then the command's bytes themselves.
        if (value.size() < 5 || value[1] != '<' || value[4] != ',') {
            return {};
        }
        const std::string_view raw = value.substr(5);
        std::string hex = tools::BytesToHexText(
            std::span(reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));
        if (!hex.empty()) {
            hex.pop_back();
        }
        return {std::string(1, value[0]), hex};
    }
    default:
        break;
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = value.find(',', start)) != std::string_view::npos; start = comma + 1) {
        fields.emplace_back(value.substr(start, comma - start));
    }
    fields.emplace_back(value.substr(start));
    return fields;
}

// A field as its parameter's canonical value: a choice by its name or its list digits, a float by its
// eight hex digits, anything else as the table reads a typed value.
std::optional<std::string> fieldValue(const Parameter& p, const std::string& field) {
    if (!p.choices.empty()) {
        for (const Choice& c : p.choices) {
            if (c.name == field) {
                return std::string(c.name);
            }
        }
        if (field.empty() || field.size() > 2 ||
            !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const std::size_t index = static_cast<std::size_t>(std::stoi(field));
        return index < p.choices.size() ? std::optional(std::string(p.choices[index].name)) : std::nullopt;
    }
    if (p.kind == Kind::Float) {
        if (field.size() != 8 ||
            !std::all_of(field.begin(), field.end(), [](char c) { return tools::UpperHexDigit(c) >= 0; })) {
            return std::nullopt;
        }
        const std::string text = tools::ShortestSingleText(config::floatFromHex(field));
        return text.empty() ? std::nullopt : std::optional(text);
    }
    try {
        return CanonicalValue(p, field);
    } catch (const BadValue&) {
        return std::nullopt;
    }
}

} // namespace

std::span<const Setter> Setters() {
    return setters();
}

std::optional<std::size_t> SetterOf(std::size_t parameter) {
    const Parameter& p = Parameters()[parameter];
    const auto& all = setters();
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const Setter& s) { return p.setBy == s.kind && p.number == s.number; });
    return it == all.end() ? std::nullopt : std::optional(static_cast<std::size_t>(it - all.begin()));
}

const std::vector<std::size_t>& ParametersOf(std::size_t setter) {
    return setters().at(setter).parameters;
}

std::vector<PlannedFrame> PlanRestore(const Configuration& target, const Configuration& current, bool all) {
    Configuration merged = current;
    merged.merge(target);

    std::vector<std::size_t> order(setters().size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto isKind = [](SetKind kind) {
        return [kind](std::size_t s) { return setters()[s].kind == kind; };
    };
    // Switching the totalizer output on closes the last four outputs: set them first, then switch.
    const auto& totalizer = merged.value("totalizer.variable");
    if (totalizer && *totalizer != "0") {
        const auto dl = std::find_if(order.begin(), order.end(), isKind(SetKind::Totalizer));
        const auto lastOutput =
            std::find_if(order.rbegin(), order.rend(), isKind(SetKind::AnalogOutput)).base();
        std::rotate(dl, dl + 1, lastOutput);
    }

    std::vector<PlannedFrame> plan;
    for (const std::size_t s : order) {
        PlannedFrame planned{s, {}, {}};
        bool known = false;
        for (const std::size_t p : ParametersOf(s)) {
            if (target.has(p)) {
                known = true;
                if (target.value(p) != current.value(p)) {
                    planned.changed.push_back(p);
                }
            }
        }
        if (!known || (!all && planned.changed.empty())) {
            continue;
        }
        planned.frame = setFrame(s, merged);
        plan.push_back(std::move(planned));
    }
    return plan;
}

std::optional<SetFrameValues> ReadSetFrame(std::string_view frame) {
    constexpr std::string_view head = "QQS#";
    const std::size_t colon = frame.find(':');
    if (!frame.starts_with(head) || colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view key = frame.substr(head.size(), colon - head.size());
    const auto& all = setters();
    const auto setter = std::find_if(all.begin(), all.end(), [&](const Setter& s) { return s.key == key; });
    if (setter == all.end()) {
        return std::nullopt;
    }
    std::string_view value = frame.substr(colon + 1);
    // A read meter command ends with its last byte; every other set command with "#".
    if (setter->kind != SetKind::ReadMeter) {
        if (!value.ends_with('#')) {
            return std::nullopt;
        }
        value.remove_suffix(1);
    }
    const std::vector<std::string> fields = fieldsOf(setter->kind, value);
    if (fields.size() != setter->parameters.size()) {
        return std::nullopt;
    }
    SetFrameValues read{static_cast<std::size_t>(setter - all.begin()), {}};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t parameter = setter->parameters[i];
        const std::optional<std::string> v = fieldValue(Parameters()[parameter], fields[i]);
        if (!v) {
            return std::nullopt;
        }
        read.values.set(parameter, *v);
    }
    try {
        if (setFrame(read.setter, read.values) != frame) {
            return std::nullopt;
        }
    } catch (const BadValue&) {
        return std::nullopt;
    }
    return read;
}

} // namespace profile
