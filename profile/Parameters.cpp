// The parameter table and the reading of typed values.
#include "profile/Parameters.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <deque>
#include <vector>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "tools/Conversions.h"

namespace profile {

namespace {

constexpr Choice kBauds[] = {{"1200", "1200"}, {"2400", "2400"},   {"4800", "4800"},
                             {"9600", "9600"}, {"19200", "19200"}, {"38400", "38400"}};
constexpr Choice kParities[] = {{"none", "None"}, {"odd", "Odd"}, {"even", "Even"}};
// The fourth, empty item of the window's list is no mode the converter takes.
constexpr Choice kModes[] = {{"transparent", "Transparent Mode"},
                             {"single-meter", "Single Meter Operation Mode"},
                             {"test-output", "Test current output mode"}};
constexpr Choice kOnOff[] = {{"off", "0 Close"}, {"on", "1 Open"}};
constexpr Choice kHartModes[] = {{"secondary", "Secondary Master Device"}, {"master", "Master Device"}};
constexpr Choice kMeterTypes[] = {{"custom", "0)Custom Meter"}, {"currency", "1)Currency Meter"}};
constexpr Choice kFourToNine[] = {{"4", "4"}, {"5", "5"}, {"6", "6"}, {"7", "7"}, {"8", "8"}, {"9", "9"}};
constexpr Choice kByteOrders[] = {{"0", "0 IEE754 (FF4 FF3 FF2 FF1)"}, {"1", "1 IEE754 (FF2 FF1 FF4 FF3)"}};
// "4 Bit" and "8 Bit" are the value's length in bytes: a single or a double.
constexpr Choice kLengths[] = {{"4", "4 Bit"}, {"8", "8 Bit"}};

static_assert(std::size(kBauds) == config::kBaudItems);
static_assert(std::size(kParities) == config::kParityItems);
static_assert(std::size(kModes) + 1 == config::kWorkingModeItems);
static_assert(std::size(kOnOff) == config::kEnableItems);
static_assert(std::size(kHartModes) == config::kHartModeItems);
static_assert(std::size(kMeterTypes) == config::kMeterTypeItems);
static_assert(std::size(kFourToNine) == config::kPollingPreambleItems);
static_assert(std::size(kFourToNine) == config::kAddressBitItems);
static_assert(std::size(kByteOrders) == config::kParseFormatItems);

struct Table {
    std::vector<Parameter> parameters;
    std::deque<std::string> texts; // storage of the generated names and descriptions

    std::string_view keep(std::string text) { return texts.emplace_back(std::move(text)); }

    Parameter& add(std::string_view name, std::string_view description, Query query, Kind kind) {
        Parameter& p = parameters.emplace_back();
        p.name = name;
        p.description = description;
        p.query = query;
        p.kind = kind;
        return p;
    }
    void integer(std::string_view name, std::string_view description, Query query, int minimum, int maximum,
                 std::string_view unit = {}) {
        Parameter& p = add(name, description, query, Kind::Integer);
        p.minimum = minimum;
        p.maximum = maximum;
        p.unit = unit;
    }
    void choice(std::string_view name, std::string_view description, Query query, std::span<const Choice> choices,
                bool numeric = false) {
        add(name, description, query, numeric ? Kind::NumericChoice : Kind::Choice).choices = choices;
    }
};

Table buildTable() {
    Table t;
    // Reply to QX1, in the order of its fields.
    t.integer("modbus.address", "MODBUS slave address of the converter", Query::QX1, 1, 247);
    t.choice("rs485.baud", "RS485 port: baud rate", Query::QX1, kBauds, true);
    t.choice("rs485.parity", "RS485 port: parity", Query::QX1, kParities);
    t.choice("rs485b.baud", "RS485B port: baud rate", Query::QX1, kBauds, true);
    t.choice("rs485b.parity", "RS485B port: parity", Query::QX1, kParities);
    t.choice("mode", "working mode", Query::QX1, kModes);
    t.integer("modbus.interval", "MODBUS command interval", Query::QX1, 1, 999, "x 10 ms");

    // QX2: the totalizer output, then each analog output row as the window numbers them.
    t.integer("totalizer.variable", "variable driving the totalizer output (DA4 to DA7), 0 for off", Query::QX2, 0,
              8);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        const std::string row = "ao" + std::to_string(output);
        const std::string label = "analog output DOUTA" + std::to_string(output);
        t.integer(t.keep(row + ".variable"), t.keep(label + ": variable it follows, 0 for closed"), Query::QX2, 0, 8);
        t.add(t.keep(row + ".20ma"), t.keep(label + ": variable value at 20 mA"), Query::QX2, Kind::Float);
        t.add(t.keep(row + ".4ma"), t.keep(label + ": variable value at 4 mA"), Query::QX2, Kind::Float);
    }

    // QX3: the converter's own HART polling and its two read meter commands.
    t.choice("hart.enabled", "HART polling by the converter", Query::QX3, kOnOff);
    t.choice("hart.mode", "HART master mode of the converter", Query::QX3, kHartModes);
    t.choice("hart.meter-type", "HART meter type", Query::QX3, kMeterTypes);
    t.choice("hart.preambles", "HART preamble length", Query::QX3, kFourToNine, true);
    t.integer("hart.clear-time", "HART buffer clear time", Query::QX3, 0, 999, "s");
    for (int command = 1; command <= config::kReadMeterCommands; ++command) {
        const std::string name = "read" + std::to_string(command);
        const std::string label = "read meter command " + std::to_string(command);
        t.choice(t.keep(name + ".enabled"), t.keep(label + ": polled or not"), Query::QX3, kOnOff);
        t.add(t.keep(name + ".command"), t.keep(label + ": the HART frame body (delimiter to data)"), Query::QX3,
              Kind::HexBytes);
    }

    // QX4: the address bit, then how each variable is cut out of the HART data.
    t.choice("parse.address-bit", "parse format: address bit", Query::QX4, kFourToNine, true);
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const std::string name = "parse" + std::to_string(variable);
        const std::string label = "variable " + std::to_string(variable) + " (register " +
                                  std::to_string(40001 + 2 * variable) + ", command " +
                                  std::to_string(variable <= 4 ? 1 : 2) + ")";
        t.choice(t.keep(name + ".order"),
                 t.keep(label + ": word order in the registers, 0 FF4 FF3 FF2 FF1, 1 FF2 FF1 FF4 FF3"), Query::QX4,
                 kByteOrders, true);
        t.integer(t.keep(name + ".address"), t.keep(label + ": offset of the value in the reply data"), Query::QX4, 0,
                  99);
        t.choice(t.keep(name + ".length"), t.keep(label + ": length of the value in bytes"), Query::QX4, kLengths,
                 true);
        t.add(t.keep(name + ".coefficient"), t.keep(label + ": coefficient, five characters"), Query::QX4,
              Kind::Coefficient);
    }

    // QX6: what the output tests last drove; reported, never restored.
    t.add("test.totalizer", "totalizer test value (nine digits)", Query::QX6, Kind::Text).restorable = false;
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        t.add(t.keep("test.ao" + std::to_string(output)),
              t.keep("output test value of DOUTA" + std::to_string(output) + " (five characters)"), Query::QX6,
              Kind::Text)
            .restorable = false;
    }
    return t;
}

const Table& table() {
    static const Table instance = buildTable();
    return instance;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(begin, text.find_last_not_of(' ') - begin + 1));
}

[[noreturn]] void refuse(const Parameter& p, std::string_view typed, std::string_view why) {
    throw BadValue(std::string(p.name) + ": '" + std::string(typed) + "' " + std::string(why));
}

std::string integerValue(const Parameter& p, std::string_view typed) {
    int32_t value = 0;
    try {
        value = tools::StrToInt(typed);
    } catch (const tools::ConversionError&) {
        refuse(p, typed, "is not a whole number (" + ValuesText(p) + ")");
    }
    if (value < p.minimum || value > p.maximum) {
        refuse(p, typed, "is outside " + ValuesText(p));
    }
    return std::to_string(value);
}

std::string choiceValue(const Parameter& p, std::string_view typed) {
    const std::string wanted = lower(trimmed(typed));
    for (const Choice& c : p.choices) {
        if (wanted == lower(c.name) || wanted == lower(c.label)) {
            return std::string(c.name);
        }
    }
    refuse(p, typed, "is not one of " + ValuesText(p));
}

std::optional<uint32_t> floatPattern(std::string_view text) {
    if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    uint32_t pattern = 0;
    for (char c : text.substr(2)) {
        const int digit = tools::UpperHexDigit(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (digit < 0) {
            return std::nullopt;
        }
        pattern = (pattern << 4) | static_cast<uint32_t>(digit);
    }
    return pattern;
}

std::string floatValue(const Parameter& p, std::string_view typed) {
    float value = 0;
    if (const auto pattern = floatPattern(trimmed(typed))) {
        value = std::bit_cast<float>(*pattern);
    } else {
        try {
            value = tools::StrToSingle(typed);
        } catch (const tools::ConversionError& error) {
            refuse(p, typed, std::string("is not a number the converter can hold (") + error.what() + ")");
        }
    }
    std::string text = tools::ShortestSingleText(value);
    if (text.empty()) {
        refuse(p, typed, "is not a finite number, which the set command cannot carry");
    }
    return text;
}

std::string coefficientValue(const Parameter& p, std::string_view typed) {
    const std::string_view text = typed;
    double number = 0;
    try {
        number = tools::StrToFloat(text);
    } catch (const tools::ConversionError&) {
        refuse(p, typed, "is not a number");
    }
    if (text.size() == config::kCoefficientWidth && text.find(' ') == std::string_view::npos) {
        return std::string(text);
    }
    // Shorter numbers are written out to the five characters the converter reads, when that keeps
    // their value: "1.5" is "1.500", "2" is "2.000".
    std::string padded = trimmed(text);
    if (padded.size() < config::kCoefficientWidth && padded.find_first_of("eE") == std::string::npos) {
        if (padded.find('.') == std::string::npos) {
            padded += '.';
        }
        padded.append(config::kCoefficientWidth - padded.size(), '0');
        if (padded.size() == config::kCoefficientWidth && tools::StrToFloat(padded) == number) {
            return padded;
        }
    }
    refuse(p, typed, "is not five characters; the converter reads exactly five (for example 1.000)");
}

std::string hexBytesValue(const Parameter& p, std::string_view typed) {
    // Read every pair, so that a text too long is refused rather than cut.
    constexpr int kAnyCount = 1000;
    std::string upper;
    for (char c : trimmed(typed)) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const hart::HexBytes parsed = hart::ParseHexBytes(upper, kAnyCount);
    std::string text = parsed.ok() ? tools::BytesToHexText(parsed.bytes) : std::string();
    if (!text.empty()) {
        text.pop_back(); // the blank after the last pair
    }
    if (!parsed.ok() || text != upper) {
        refuse(p, typed, "is not hex byte text: pairs of hex digits separated by single blanks (82 26 03)");
    }
    if (parsed.bytes.size() > static_cast<std::size_t>(hart::kCustomCommandMaxBytes)) {
        refuse(p, typed, "holds more than the " + std::to_string(hart::kCustomCommandMaxBytes) +
                             " bytes a read meter command takes");
    }
    return text;
}

} // namespace

std::string_view QueryKey(Query query) {
    switch (query) {
    case Query::QX1: return "QX1";
    case Query::QX2: return "QX2";
    case Query::QX3: return "QX3";
    case Query::QX4: return "QX4";
    case Query::QX6: return "QX6";
    }
    return {};
}

std::string_view QueryTitle(Query query) {
    switch (query) {
    case Query::QX1: return "system parameters";
    case Query::QX2: return "analog outputs";
    case Query::QX3: return "custom HART commands";
    case Query::QX4: return "parse format";
    case Query::QX6: return "test values";
    }
    return {};
}

std::string QueryFrame(Query query) {
    switch (query) {
    case Query::QX1: return config::systemParameterQueryFrame();
    case Query::QX2: return config::analogOutputQueryFrame();
    case Query::QX3: return config::customHartQueryFrame();
    case Query::QX4: return config::parseFormatQueryFrame();
    case Query::QX6: return config::testValueQueryFrame();
    }
    return {};
}

std::span<const Parameter> Parameters() {
    return table().parameters;
}

std::size_t ParameterCount() {
    return table().parameters.size();
}

std::optional<std::size_t> FindParameter(std::string_view name) {
    const auto& all = table().parameters;
    const std::string wanted = lower(name);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].name == wanted) {
            return i;
        }
    }
    return std::nullopt;
}

std::size_t ParameterIndex(std::string_view name) {
    if (const auto index = FindParameter(name)) {
        return *index;
    }
    std::string message = "unknown parameter '" + std::string(name) + "'";
    // Suggest the names that share the part before or after the dot ("ao9.variable": ao0.variable...).
    const auto split = [](std::string_view n) {
        const auto dot = n.find('.');
        return dot == std::string_view::npos ? std::pair{n, std::string_view()}
                                             : std::pair{n.substr(0, dot), n.substr(dot + 1)};
    };
    const auto [head, tail] = split(name);
    std::vector<std::string_view> similar;
    for (const Parameter& p : Parameters()) {
        const auto [pHead, pTail] = split(p.name);
        if ((!head.empty() && pHead == head) || (!tail.empty() && pTail == tail)) {
            similar.push_back(p.name);
        }
    }
    if (!similar.empty() && similar.size() <= 9) {
        message += " (did you mean ";
        for (std::size_t i = 0; i < similar.size(); ++i) {
            message += (i == 0 ? "" : ", ") + std::string(similar[i]);
        }
        message += "?)";
    }
    message += "; 'vx538 params' lists them all";
    throw BadValue(message);
}

std::string CanonicalValue(const Parameter& parameter, std::string_view typed) {
    switch (parameter.kind) {
    case Kind::Integer: return integerValue(parameter, typed);
    case Kind::Choice:
    case Kind::NumericChoice: return choiceValue(parameter, typed);
    case Kind::Float: return floatValue(parameter, typed);
    case Kind::Coefficient: return coefficientValue(parameter, typed);
    case Kind::HexBytes: return hexBytesValue(parameter, typed);
    case Kind::Text: return std::string(typed);
    }
    return std::string(typed);
}

std::optional<int> ChoiceIndex(const Parameter& parameter, std::string_view value) {
    for (std::size_t i = 0; i < parameter.choices.size(); ++i) {
        if (parameter.choices[i].name == value) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::string ValuesText(const Parameter& p) {
    switch (p.kind) {
    case Kind::Integer: return std::to_string(p.minimum) + ".." + std::to_string(p.maximum);
    case Kind::Choice:
    case Kind::NumericChoice: {
        std::string text;
        for (const Choice& c : p.choices) {
            text += text.empty() ? "" : ", ";
            text += c.name;
        }
        return text;
    }
    case Kind::Float: return "a single-precision number (or its pattern, 0x42C80000)";
    case Kind::Coefficient: return "a number of five characters";
    case Kind::HexBytes: return "1 to 14 bytes as hex byte text";
    case Kind::Text: return "as reported";
    }
    return {};
}

std::string ParametersMarkdown() {
    std::string out = "# Converter parameters\n\n"
                      "Generated by `vx538 params --markdown` from the parameter table that `vx538` and the "
                      "window share; do not edit by hand.\n\n"
                      "Names and values are those of `vx538 get`, `vx538 set NAME=VALUE` and of configuration "
                      "files. Choice names may be typed in any letter case, and so may the window's item texts "
                      "(in quotes below). Query is the query that reports the value.\n\n"
                      "| Name | Values | Meaning | Query |\n|---|---|---|---|\n";
    for (const Parameter& p : Parameters()) {
        std::string values;
        if (p.kind == Kind::Choice) {
            for (const Choice& c : p.choices) {
                values += values.empty() ? "" : ", ";
                values += "`" + std::string(c.name) + "` (\"" + std::string(c.label) + "\")";
            }
        } else {
            values = ValuesText(p);
        }
        if (!p.unit.empty()) {
            values += " (" + std::string(p.unit) + ")";
        }
        out += "| `" + std::string(p.name) + "` | " + values + " | " + std::string(p.description) + " | " +
               std::string(QueryKey(p.query)) + (p.restorable ? "" : ", not restored") + " |\n";
    }
    return out;
}

} // namespace profile
