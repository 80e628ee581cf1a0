// The parameter table's rows and its queries: for each value its name, range or choices, where its
// query's decoder puts it and which set command carries it.
#include <deque>
#include <vector>

#include "profile/Replies.h"
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

// A decoder's member as a row's field: of<&config::SystemParameters::slaveAddress>.
template <class Part> const Part& part(const DecodedReply& r);
template <> const config::SystemParameters& part(const DecodedReply& r) {
    return r.system;
}
template <> const config::AnalogOutputs& part(const DecodedReply& r) {
    return r.analog;
}
template <> const config::CustomHartReply& part(const DecodedReply& r) {
    return r.hart;
}
template <> const config::ParseFormatReply& part(const DecodedReply& r) {
    return r.parse;
}
template <> const config::TestValues& part(const DecodedReply& r) {
    return r.tests;
}

Field fieldOf(const std::optional<int>& value) {
    return FieldOfNumber(value);
}
Field fieldOf(const std::optional<std::string>& value) {
    return FieldOfText(value);
}
template <auto Member> Field of(const DecodedReply& r, int) {
    return [&]<class Part, class Value>(std::optional<Value> Part::*m) {
        return fieldOf(part<Part>(r).*m);
    }(Member);
}

// The fields of the rows that repeat, by the row's number.
Field analogVariable(const DecodedReply& r, int output) {
    const auto& row = r.analogRows[static_cast<std::size_t>(output)];
    Field f = FieldOfNumber(row ? std::optional<int>(row->variable) : std::nullopt);
    f.failure = r.analogFailures[static_cast<std::size_t>(output)];
    return f;
}
template <auto Member> Field analog(const DecodedReply& r, int output) {
    const auto& row = r.analogRows[static_cast<std::size_t>(output)];
    return FieldOfText(row ? std::optional<std::string>((*row).*Member) : std::nullopt);
}
template <auto Member> Field meter(const DecodedReply& r, int command) {
    const config::ReadMeterCommandFields& f = r.hart.commands[static_cast<std::size_t>(command - 1)];
    Field field = fieldOf(f.*Member);
    field.count = f.count;
    return field;
}
template <auto Member> Field parse(const DecodedReply& r, int variable) {
    return fieldOf(r.parse.rows[static_cast<std::size_t>(variable - 1)].*Member);
}
Field testOutput(const DecodedReply& r, int output) {
    return FieldOfText(r.tests.outputs[static_cast<std::size_t>(output)]);
}

// What values a row takes, and where and how it stands in its reply.
struct Values {
    Kind kind;
    int minimum = 0, maximum = 0;
    std::span<const Choice> choices = {};
    std::string_view unit = {};
};
Values integer(int minimum, int maximum, std::string_view unit = {}) {
    return {Kind::Integer, minimum, maximum, {}, unit};
}
Values choice(std::span<const Choice> choices, bool numeric = false) {
    return {numeric ? Kind::NumericChoice : Kind::Choice, 0, 0, choices};
}
struct Read {
    FieldOf field;
    Form form;
    int width = 0;
};

class Rows {
public:
    explicit Rows(std::deque<std::string>& texts) : texts_(texts) {}

    void add(std::string_view name, std::string_view description, Query query, Values values, Read read,
             std::optional<SetKind> set, int number = 0) {
        parameters.push_back({name, description, query, values.kind, values.minimum, values.maximum,
                              values.choices, set.has_value(), values.unit, number, read.field, read.form,
                              read.width, set});
    }
    // The generated names and descriptions, kept where they never move.
    std::string_view keep(std::string text) { return texts_.emplace_back(std::move(text)); }

    std::vector<Parameter> parameters;

private:
    std::deque<std::string>& texts_;
};

std::vector<Parameter> buildTable() {
    using Qx1 = config::SystemParameters;
    using Qx2 = config::AnalogOutputs;
    using Qx3 = config::CustomHartReply;
    using Qx4 = config::ParseFormatReply;
    using Qx6 = config::TestValues;
    using Row = config::ParseFormatRow;
    using Meter = config::ReadMeterCommandFields;
    using config::AnalogOutputRow;
    // The generated texts live as long as the table, which lives as long as the program.
    static std::deque<std::string> texts;
    Rows t(texts);
    const Values floats{Kind::Float};
    const Values text{Kind::Text};

    // Reply to QX1, in the order of its fields.
    t.add("modbus.address", "MODBUS slave address of the converter", Query::QX1, integer(1, 247),
          {of<&Qx1::slaveAddress>, Form::Digits, 3}, SetKind::SlaveAddress);
    t.add("rs485.baud", "RS485 port: baud rate", Query::QX1, choice(kBauds, true),
          {of<&Qx1::baud1>, Form::Index}, SetKind::Rs485);
    t.add("rs485.parity", "RS485 port: parity", Query::QX1, choice(kParities),
          {of<&Qx1::parity1>, Form::Index}, SetKind::Rs485);
    t.add("rs485b.baud", "RS485B port: baud rate", Query::QX1, choice(kBauds, true),
          {of<&Qx1::baud2>, Form::Index}, SetKind::Rs485B);
    t.add("rs485b.parity", "RS485B port: parity", Query::QX1, choice(kParities),
          {of<&Qx1::parity2>, Form::Index}, SetKind::Rs485B);
    t.add("mode", "working mode", Query::QX1, choice(kModes), {of<&Qx1::workingMode>, Form::Index},
          SetKind::Mode);
    t.add("modbus.interval", "MODBUS command interval", Query::QX1, integer(1, 999, "x 10 ms"),
          {of<&Qx1::commandInterval>, Form::Digits, 3}, SetKind::Interval);

    // QX2: the totalizer output, then each analog output row as the window numbers them.
    t.add("totalizer.variable", "variable driving the totalizer output (DA4 to DA7), 0 for off", Query::QX2,
          integer(0, 8), {of<&Qx2::totalizerOutput>, Form::Number}, SetKind::Totalizer);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        const std::string row = "ao" + std::to_string(output);
        const std::string label = "analog output DOUTA" + std::to_string(output);
        t.add(t.keep(row + ".variable"), t.keep(label + ": variable it follows, 0 for closed"), Query::QX2,
              integer(0, 8), {analogVariable, Form::Number}, SetKind::AnalogOutput, output);
        t.add(t.keep(row + ".20ma"), t.keep(label + ": variable value at 20 mA"), Query::QX2, floats,
              {analog<&AnalogOutputRow::upperHex>, Form::Single}, SetKind::AnalogOutput, output);
        t.add(t.keep(row + ".4ma"), t.keep(label + ": variable value at 4 mA"), Query::QX2, floats,
              {analog<&AnalogOutputRow::lowerHex>, Form::Single}, SetKind::AnalogOutput, output);
    }

    // QX3: the converter's own HART polling and its two read meter commands.
    t.add("hart.enabled", "HART polling by the converter", Query::QX3, choice(kOnOff),
          {of<&Qx3::enable>, Form::Index}, SetKind::HartPolling);
    t.add("hart.mode", "HART master mode of the converter", Query::QX3, choice(kHartModes),
          {of<&Qx3::mode>, Form::Index}, SetKind::HartPolling);
    t.add("hart.meter-type", "HART meter type", Query::QX3, choice(kMeterTypes),
          {of<&Qx3::meterType>, Form::Index}, SetKind::HartPolling);
    t.add("hart.preambles", "HART preamble length", Query::QX3, choice(kFourToNine, true),
          {of<&Qx3::preambleIndex>, Form::Index}, SetKind::HartPolling);
    t.add("hart.clear-time", "HART buffer clear time", Query::QX3, integer(0, 999, "s"),
          {of<&Qx3::clearTime>, Form::Digits, 3}, SetKind::HartPolling);
    for (int command = 1; command <= config::kReadMeterCommands; ++command) {
        const std::string name = "read" + std::to_string(command);
        const std::string label = "read meter command " + std::to_string(command);
        t.add(t.keep(name + ".enabled"), t.keep(label + ": polled or not"), Query::QX3, choice(kOnOff),
              {meter<&Meter::enable>, Form::Index}, SetKind::ReadMeter, command);
        t.add(t.keep(name + ".command"), t.keep(label + ": the HART frame body (delimiter to data)"),
              Query::QX3, {Kind::HexBytes}, {meter<&Meter::command>, Form::CountedBytes}, SetKind::ReadMeter,
              command);
    }

    // QX4: the address bit, then how each variable is cut out of the HART data.
    t.add("parse.address-bit", "parse format: address bit", Query::QX4, choice(kFourToNine, true),
          {of<&Qx4::addressBitIndex>, Form::Index}, SetKind::AddressBit);
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const std::string name = "parse" + std::to_string(variable);
        const std::string label = "variable " + std::to_string(variable) + " (register " +
                                  std::to_string(40001 + 2 * variable) + ", command " +
                                  std::to_string(variable <= 4 ? 1 : 2) + ")";
        t.add(t.keep(name + ".order"),
              t.keep(label + ": word order in the registers, 0 FF4 FF3 FF2 FF1, 1 FF2 FF1 FF4 FF3"),
              Query::QX4, choice(kByteOrders, true), {parse<&Row::format>, Form::Index}, SetKind::ParseFormat,
              variable);
        t.add(t.keep(name + ".address"), t.keep(label + ": offset of the value in the reply data"),
              Query::QX4, integer(0, 99), {parse<&Row::address>, Form::Digits, 2}, SetKind::ParseFormat,
              variable);
        t.add(t.keep(name + ".length"), t.keep(label + ": length of the value in bytes"), Query::QX4,
              choice(kLengths, true), {parse<&Row::length>, Form::Index}, SetKind::ParseFormat, variable);
        t.add(t.keep(name + ".coefficient"), t.keep(label + ": coefficient, five characters"), Query::QX4,
              {Kind::Coefficient}, {parse<&Row::coefficient>, Form::Text}, SetKind::ParseFormat, variable);
    }

    // QX6: what the output tests last drove; reported, never restored.
    t.add("test.totalizer", "totalizer test value (nine digits)", Query::QX6, text,
          {of<&Qx6::totalizer>, Form::Text}, std::nullopt);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        t.add(t.keep("test.ao" + std::to_string(output)),
              t.keep("output test value of DOUTA" + std::to_string(output) + " (five characters)"),
              Query::QX6, text, {testOutput, Form::Text}, std::nullopt, output);
    }
    return std::move(t.parameters);
}

// The queries: key, title, frame and decoder.
struct QueryRow {
    Query query;
    std::string_view key;
    std::string_view title;
    std::string (*frame)();
};
constexpr QueryRow kQueryRows[] = {
    {Query::QX1, "QX1", "system parameters", config::systemParameterQueryFrame},
    {Query::QX2, "QX2", "analog outputs", config::analogOutputQueryFrame},
    {Query::QX3, "QX3", "custom HART commands", config::customHartQueryFrame},
    {Query::QX4, "QX4", "parse format", config::parseFormatQueryFrame},
    {Query::QX6, "QX6", "test values", config::testValueQueryFrame},
};

const QueryRow& queryRow(Query query) {
    return kQueryRows[static_cast<std::size_t>(query)];
}

} // namespace

const std::vector<Parameter>& TableRows() {
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

DecodedReply DecodeQueryReply(Query query, std::string_view received) {
    DecodedReply r;
    switch (query) {
    case Query::QX1:
        r.system = config::decodeSystemParameters(received);
        r.error = r.system.error;
        break;
    case Query::QX2:
        r.analog = config::decodeAnalogOutputs(received, 0);
        // The decoder stops at the last four rows while a totalizer output is active; they are read
        // one by one below, so only a stop before the totalizer output concerns the reply.
        r.error = r.analog.totalizerOutput ? std::nullopt : r.analog.error;
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
        r.hart = config::decodeCustomHart(received);
        r.error = r.hart.error;
        break;
    case Query::QX4:
        r.parse = config::decodeParseFormat(received);
        r.error = r.parse.error;
        break;
    case Query::QX6:
        r.tests = config::decodeTestValues(received);
        break;
    }
    return r;
}

} // namespace profile
