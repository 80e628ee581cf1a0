// The parameter table's rows and its queries: for each value its name, range or choices, where its
// query's decoder puts it and which set command carries it; and a reply read into the values.
#include <algorithm>
#include <array>
#include <tuple>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "config/ValueEncodings.h"
#include "profile/Configuration.h"
#include "tools/Conversions.h"

namespace profile {

// A query's reply as its decoder in config/ reads it: what the rows take their values from.
struct DecodedReply {
    // Each decoder's result, found by its type.
    std::tuple<config::SystemParameters, config::AnalogOutputs, config::CustomHartReply,
               config::ParseFormatReply, config::TestValues>
        parts;
    // Every analog output row wherever its tag stands (the window's decoder leaves the last four
    // unread while a totalizer output is active; the converter still holds them), or why not.
    std::array<std::optional<config::AnalogOutputRow>, config::kAnalogOutputs> analogRows;
    std::array<std::optional<std::string>, config::kAnalogOutputs> analogFailures;
    std::optional<std::string> error; // what stopped the decoder, said of the reply as a whole
};

// One field of a decoded reply; nothing set: the reply lacks it.
struct Field {
    std::optional<std::string> text;
    std::optional<int> number;          // a number the decoder read: for a choice, its list index
    std::optional<int> count;           // hex bytes: the byte count the reply announces
    std::optional<std::string> failure; // the decoder could not read it: why
};

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

Field fieldOf(const std::optional<int>& number) {
    return {{}, number, {}, {}};
}
Field fieldOf(const std::optional<std::string>& text) {
    return {text, {}, {}, {}};
}
// A decoder's member as a row's field: of<&config::SystemParameters::slaveAddress>.
template <auto Member> Field of(const DecodedReply& r, int) {
    return [&]<class Part, class Value>(std::optional<Value> Part::*m) {
        return fieldOf(std::get<Part>(r.parts).*m);
    }(Member);
}

// The fields of the rows that repeat, by the row's number.
template <auto Member> Field analog(const DecodedReply& r, int output) {
    const auto& row = r.analogRows[static_cast<std::size_t>(output)];
    return fieldOf(row ? std::optional((*row).*Member) : std::nullopt);
}
Field analogVariable(const DecodedReply& r, int output) {
    Field f = analog<&config::AnalogOutputRow::variable>(r, output);
    f.failure = r.analogFailures[static_cast<std::size_t>(output)];
    return f;
}
template <auto Member> Field meter(const DecodedReply& r, int command) {
    const config::ReadMeterCommandFields& f =
        std::get<config::CustomHartReply>(r.parts).commands[static_cast<std::size_t>(command - 1)];
    Field field = fieldOf(f.*Member);
    field.count = f.count;
    return field;
}
template <auto Member> Field parse(const DecodedReply& r, int variable) {
    return fieldOf(std::get<config::ParseFormatReply>(r.parts).rows[static_cast<std::size_t>(variable - 1)].*
                   Member);
}
Field testOutput(const DecodedReply& r, int output) {
    return fieldOf(std::get<config::TestValues>(r.parts).outputs[static_cast<std::size_t>(output)]);
}

// What values a row takes.
struct Values {
    Kind kind;
    int minimum = 0, maximum = 0, width = 0;
    std::span<const Choice> choices = {};
    std::string_view unit = {};
};
// `width`: the digits an integer stands in when the reply gives it as text ("005").
Values integer(int minimum, int maximum, int width = 0, std::string_view unit = {}) {
    return {Kind::Integer, minimum, maximum, width, {}, unit};
}
Values choice(std::span<const Choice> choices, bool numeric = false) {
    return {numeric ? Kind::NumericChoice : Kind::Choice, 0, 0, 0, choices, {}};
}

std::vector<Parameter> buildTable() {
    using Qx1 = config::SystemParameters;
    using Qx2 = config::AnalogOutputs;
    using Qx3 = config::CustomHartReply;
    using Qx4 = config::ParseFormatReply;
    using Qx6 = config::TestValues;
    using Row = config::ParseFormatRow;
    using Meter = config::ReadMeterCommandFields;
    using config::AnalogOutputRow;
    std::vector<Parameter> t;
    Query query = Query::QX1;
    // A row of `query`; `number` for the rows that repeat per output, command or variable.
    const auto add = [&](std::string name, std::string description, Values v, FieldOf field,
                         std::optional<SetKind> set, int number = 0) {
        t.push_back({std::move(name), std::move(description), query, v.kind, v.minimum, v.maximum, v.width,
                     v.choices, set.has_value(), v.unit, number, field, set});
    };
    const Values floats{Kind::Float};
    const Values text{Kind::Text};

    // Reply to QX1, in the order of its fields.
    add("modbus.address", "MODBUS slave address of the converter", integer(1, 247, 3), of<&Qx1::slaveAddress>,
        SetKind::SlaveAddress);
    add("rs485.baud", "RS485 port: baud rate", choice(kBauds, true), of<&Qx1::baud1>, SetKind::Rs485);
    add("rs485.parity", "RS485 port: parity", choice(kParities), of<&Qx1::parity1>, SetKind::Rs485);
    add("rs485b.baud", "RS485B port: baud rate", choice(kBauds, true), of<&Qx1::baud2>, SetKind::Rs485B);
    add("rs485b.parity", "RS485B port: parity", choice(kParities), of<&Qx1::parity2>, SetKind::Rs485B);
    add("mode", "working mode", choice(kModes), of<&Qx1::workingMode>, SetKind::Mode);
    add("modbus.interval", "MODBUS command interval", integer(1, 999, 3, "x 10 ms"),
        of<&Qx1::commandInterval>, SetKind::Interval);

    // QX2: the totalizer output, then each analog output row as the window numbers them.
    query = Query::QX2;
    add("totalizer.variable", "variable driving the totalizer output (DA4 to DA7), 0 for off", integer(0, 8),
        of<&Qx2::totalizerOutput>, SetKind::Totalizer);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        const std::string row = "ao" + std::to_string(output);
        const std::string label = "analog output DOUTA" + std::to_string(output);
        add(row + ".variable", label + ": variable it follows, 0 for closed", integer(0, 8), analogVariable,
            SetKind::AnalogOutput, output);
        add(row + ".20ma", label + ": variable value at 20 mA", floats, analog<&AnalogOutputRow::upperHex>,
            SetKind::AnalogOutput, output);
        add(row + ".4ma", label + ": variable value at 4 mA", floats, analog<&AnalogOutputRow::lowerHex>,
            SetKind::AnalogOutput, output);
    }

    // QX3: the converter's own HART polling and its two read meter commands.
    query = Query::QX3;
    add("hart.enabled", "HART polling by the converter", choice(kOnOff), of<&Qx3::enable>,
        SetKind::HartPolling);
    add("hart.mode", "HART master mode of the converter", choice(kHartModes), of<&Qx3::mode>,
        SetKind::HartPolling);
    add("hart.meter-type", "HART meter type", choice(kMeterTypes), of<&Qx3::meterType>, SetKind::HartPolling);
    add("hart.preambles", "HART preamble length", choice(kFourToNine, true), of<&Qx3::preambleIndex>,
        SetKind::HartPolling);
    add("hart.clear-time", "HART buffer clear time", integer(0, 999, 3, "s"), of<&Qx3::clearTime>,
        SetKind::HartPolling);
    for (int command = 1; command <= config::kReadMeterCommands; ++command) {
        const std::string name = "read" + std::to_string(command);
        const std::string label = "read meter command " + std::to_string(command);
        add(name + ".enabled", label + ": polled or not", choice(kOnOff), meter<&Meter::enable>,
            SetKind::ReadMeter, command);
        add(name + ".command", label + ": the HART frame body (delimiter to data)", {Kind::HexBytes},
            meter<&Meter::command>, SetKind::ReadMeter, command);
    }

    // QX4: the address bit, then how each variable is cut out of the HART data.
    query = Query::QX4;
    add("parse.address-bit", "parse format: address bit", choice(kFourToNine, true),
        of<&Qx4::addressBitIndex>, SetKind::AddressBit);
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const std::string name = "parse" + std::to_string(variable);
        const std::string label = "variable " + std::to_string(variable) + " (register " +
                                  std::to_string(40001 + 2 * variable) + ", command " +
                                  std::to_string(variable <= 4 ? 1 : 2) + ")";
        add(name + ".order", label + ": word order in the registers, 0 FF4 FF3 FF2 FF1, 1 FF2 FF1 FF4 FF3",
            choice(kByteOrders, true), parse<&Row::format>, SetKind::ParseFormat, variable);
        add(name + ".address", label + ": offset of the value in the reply data", integer(0, 99, 2),
            parse<&Row::address>, SetKind::ParseFormat, variable);
        add(name + ".length", label + ": length of the value in bytes", choice(kLengths, true),
            parse<&Row::length>, SetKind::ParseFormat, variable);
        add(name + ".coefficient", label + ": coefficient, five characters", {Kind::Coefficient},
            parse<&Row::coefficient>, SetKind::ParseFormat, variable);
    }

    // QX6: what the output tests last drove; reported, never restored.
    query = Query::QX6;
    add("test.totalizer", "totalizer test value (nine digits)", text, of<&Qx6::totalizer>, std::nullopt);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        add("test.ao" + std::to_string(output),
            "output test value of DOUTA" + std::to_string(output) + " (five characters)", text, testOutput,
            std::nullopt, output);
    }
    return t;
}

// The queries, in the order of Query: key, title and frame.
struct QueryRow {
    std::string_view key;
    std::string_view title;
    std::string (*frame)();
};
constexpr QueryRow kQueryRows[] = {
    {"QX1", "system parameters", config::systemParameterQueryFrame},
    {"QX2", "analog outputs", config::analogOutputQueryFrame},
    {"QX3", "custom HART commands", config::customHartQueryFrame},
    {"QX4", "parse format", config::parseFormatQueryFrame},
    {"QX6", "test values", config::testValueQueryFrame},
};

const QueryRow& queryRow(Query query) {
    return kQueryRows[static_cast<std::size_t>(query)];
}

DecodedReply decode(Query query, std::string_view received) {
    DecodedReply r;
    auto& [system, analog, hart, format, tests] = r.parts;
    switch (query) {
    case Query::QX1:
        system = config::decodeSystemParameters(received);
        r.error = system.error;
        break;
    case Query::QX2:
        analog = config::decodeAnalogOutputs(received, 0);
        // The decoder stops at the last four rows while a totalizer output is active; they are read
        // one by one below, so only a stop before the totalizer output concerns the reply.
        r.error = analog.totalizerOutput ? std::nullopt : analog.error;
        for (int output = 0; output < config::kAnalogOutputs; ++output) {
            try {
                r.analogRows[static_cast<std::size_t>(output)] =
                    config::decodeAnalogOutputRow(received, output);
            } catch (const tools::ConversionError& error) {
                r.analogFailures[static_cast<std::size_t>(output)] =
                    std::string("the converter reports no digit: ") + error.what();
            }
        }
        break;
    case Query::QX3:
        hart = config::decodeCustomHart(received);
        r.error = hart.error;
        break;
    case Query::QX4:
        format = config::decodeParseFormat(received);
        r.error = format.error;
        break;
    case Query::QX6:
        tests = config::decodeTestValues(received);
        break;
    }
    return r;
}

// The canonical value of a field as its row reads it, or the problem with it.
struct Reading {
    std::optional<std::string> value; // nothing and no problem: the reply lacks the field
    std::optional<std::string> problem;
};

Reading asTyped(const Parameter& p, const std::string& reported) {
    try {
        return {CanonicalValue(p, reported), {}};
    } catch (const BadValue&) {
        return {{},
                "the converter reports '" + reported + "', which is " +
                    (p.kind == Kind::Integer ? "outside " + ValuesText(p) : "not " + ValuesText(p))};
    }
}

// How a field stands follows from the row: a number the decoder read (for a choice, the list index),
// or text: fixed digits, eight hex digits of a single, counted hex bytes, or the value as typed.
Reading read(const Parameter& p, const Field& f) {
    if (f.failure) {
        return {{}, f.failure};
    }
    if (f.number) {
        if (p.choices.empty()) {
            return asTyped(p, std::to_string(*f.number));
        }
        if (*f.number < 0 || static_cast<std::size_t>(*f.number) >= p.choices.size()) {
            return {{},
                    "the converter reports item " + std::to_string(*f.number) + ", which is not one of " +
                        ValuesText(p)};
        }
        return {std::string(p.choices[static_cast<std::size_t>(*f.number)].name), {}};
    }
    if (!f.text) {
        return {};
    }
    const std::string& reported = *f.text;
    if (p.width > 0 &&
        (reported.size() != static_cast<std::size_t>(p.width) ||
         !std::all_of(reported.begin(), reported.end(), [](char c) { return c >= '0' && c <= '9'; }))) {
        return {{},
                "the converter reports '" + reported + "', which is not " + std::to_string(p.width) +
                    " digits"};
    }
    if (p.kind == Kind::Float) {
        if (reported.size() != 8 || !std::all_of(reported.begin(), reported.end(),
                                                 [](char c) { return tools::UpperHexDigit(c) >= 0; })) {
            return {{}, "the converter reports '" + reported + "', which is not 8 upper-case hex digits"};
        }
        const std::string canonical = tools::ShortestSingleText(config::floatFromHex(reported));
        if (canonical.empty()) {
            return {{}, "the converter reports " + reported + ", which is not a finite number"};
        }
        return {canonical, {}};
    }
    if (p.kind == Kind::HexBytes) {
        if (!f.count) {
            return {};
        }
        if (*f.count == 0 && reported.empty()) {
            return asTyped(p, reported);
        }
        // n pairs with a blank between each two: a reply cut short has fewer.
        const Reading typed = asTyped(p, reported);
        if (typed.value && static_cast<int>((typed.value->size() + 1) / 3) == *f.count) {
            return typed;
        }
        return {{}, "the converter reports " + std::to_string(*f.count) + " bytes as '" + reported + "'"};
    }
    return asTyped(p, reported);
}

} // namespace

std::span<const Parameter> Parameters() {
    static const std::vector<Parameter> rows = buildTable();
    return rows;
}

std::string_view QueryKey(Query query) {
    return queryRow(query).key;
}

std::string_view QueryTitle(Query query) {
    return queryRow(query).title;
}

std::string QueryFrame(Query query) {
    return queryRow(query).frame();
}

std::vector<Problem> DecodeReply(Query query, std::string_view received, Configuration& into) {
    const std::string key(QueryKey(query));
    if (!config::containsMarker(received, key)) {
        return {{query, {}, "no block marker " + key}};
    }
    const DecodedReply reply = decode(query, received);
    std::vector<Problem> problems;
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        const Parameter& p = Parameters()[i];
        if (p.query != query) {
            continue;
        }
        const Reading r = read(p, p.field(reply, p.number));
        if (r.value) {
            into.set(i, *r.value);
        } else if (r.problem) {
            problems.push_back({query, i, *r.problem});
        } else {
            missing.push_back(i);
        }
    }
    if (reply.error) {
        problems.push_back({query, {}, *reply.error});
    }
    for (const std::size_t i : missing) {
        problems.push_back({query, i, "not in the " + key + " reply"});
    }
    return problems;
}

} // namespace profile
