// Values of the parameter table: decoded from replies, built into set commands, compared.
#include "profile/Configuration.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "tools/Conversions.h"

namespace profile {

namespace {

// ---- decoding ----

class Decoding {
public:
    Decoding(Query query, Configuration& into) : query_(query), into_(into) {}

    std::vector<std::string> problems;

    void problem(std::string_view name, std::string_view what) {
        problems.push_back(std::string(name) + ": " + std::string(what));
    }
    // A value as the converter reported it, checked as a typed one would be.
    void text(std::string_view name, const std::optional<std::string>& value) {
        if (!value) {
            return;
        }
        const Parameter& p = Parameters()[ParameterIndex(name)];
        try {
            set(name, CanonicalValue(p, *value));
        } catch (const BadValue&) {
            problem(name, "the converter reports '" + *value + "', which is " +
                              (p.kind == Kind::Integer ? "outside " + ValuesText(p) : "not " + ValuesText(p)));
        }
    }
    // A field of fixed digits ("005", "12"): digits only, all there, then checked as typed.
    void digits(std::string_view name, const std::optional<std::string>& value, std::size_t width) {
        if (!value) {
            return;
        }
        const bool allDigits = value->size() == width &&
                               std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!allDigits) {
            problem(name, "the converter reports '" + *value + "', which is not " + std::to_string(width) + " digits");
            return;
        }
        text(name, value);
    }
    // A list index as the decoder read it.
    void index(std::string_view name, const std::optional<int>& value) {
        if (!value) {
            return;
        }
        const Parameter& p = Parameters()[ParameterIndex(name)];
        if (*value < 0 || static_cast<std::size_t>(*value) >= p.choices.size()) {
            problem(name, "the converter reports item " + std::to_string(*value) + ", which is not one of " +
                              ValuesText(p));
            return;
        }
        set(name, std::string(p.choices[static_cast<std::size_t>(*value)].name));
    }
    void number(std::string_view name, const std::optional<int>& value) {
        if (value) {
            text(name, std::to_string(*value));
        }
    }
    // Eight upper-case hex digits of a single.
    void single(std::string_view name, std::string_view hex) {
        const bool strict = hex.size() == 8 && std::all_of(hex.begin(), hex.end(),
                                                           [](char c) { return tools::UpperHexDigit(c) >= 0; });
        if (!strict) {
            problem(name, "the converter reports '" + std::string(hex) + "', which is not 8 upper-case hex digits");
            return;
        }
        const float value = config::floatFromHex(hex);
        const std::string canonical = tools::ShortestSingleText(value);
        if (canonical.empty()) {
            problem(name, "the converter reports " + std::string(hex) + ", which is not a finite number");
            return;
        }
        set(name, canonical);
    }
    void stopped(const std::optional<std::string>& error) {
        if (error) {
            problems.push_back(std::string(QueryKey(query_)) + " reply: " + *error);
        }
    }
    // Every parameter of the query that got no value and has no problem of its own.
    void finish(const Configuration& before) {
        for (std::size_t i = 0; i < ParameterCount(); ++i) {
            const Parameter& p = Parameters()[i];
            if (p.query != query_ || decoded_[i]) {
                continue;
            }
            const std::string prefix = std::string(p.name) + ":";
            const bool reported = std::any_of(problems.begin(), problems.end(),
                                              [&](const std::string& m) { return m.starts_with(prefix); });
            if (!reported) {
                problem(p.name, "not in the " + std::string(QueryKey(query_)) + " reply");
            }
            if (before.has(i)) {
                into_.set(i, *before.value(i));
            } else {
                into_.clear(i);
            }
        }
    }

private:
    void set(std::string_view name, std::string canonical) {
        const std::size_t i = ParameterIndex(name);
        into_.set(i, std::move(canonical));
        decoded_.resize(ParameterCount());
        decoded_[i] = true;
    }

    Query query_;
    Configuration& into_;
    std::vector<bool> decoded_ = std::vector<bool>(ParameterCount());
};

std::string indexed(std::string_view head, int n, std::string_view tail) {
    return std::string(head) + std::to_string(n) + std::string(tail);
}

void decodeSystem(std::string_view received, Decoding& d) {
    const config::SystemParameters r = config::decodeSystemParameters(received);
    d.digits("modbus.address", r.slaveAddress, 3);
    d.index("rs485.baud", r.baud1);
    d.index("rs485.parity", r.parity1);
    d.index("rs485b.baud", r.baud2);
    d.index("rs485b.parity", r.parity2);
    d.index("mode", r.workingMode);
    d.digits("modbus.interval", r.commandInterval, 3);
    d.stopped(r.error);
}

void decodeAnalog(std::string_view received, Decoding& d) {
    // The window's decoder leaves the last four rows unread while a totalizer output is active; the
    // converter still holds them, and a backup keeps them.
    const config::AnalogOutputs r = config::decodeAnalogOutputs(received, 0);
    d.number("totalizer.variable", r.totalizerOutput);
    if (r.error && !r.totalizerOutput) {
        d.stopped(r.error);
    }
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        const std::string row = indexed("ao", output, "");
        try {
            const auto decoded = config::decodeAnalogOutputRow(received, output);
            if (decoded) {
                d.number(row + ".variable", decoded->variable);
                d.single(row + ".20ma", decoded->upperHex);
                d.single(row + ".4ma", decoded->lowerHex);
            }
        } catch (const tools::ConversionError& error) {
            d.problem(row + ".variable", std::string("the converter reports no digit: ") + error.what());
        }
    }
}

void decodeCustomHart(std::string_view received, Decoding& d) {
    const config::CustomHartReply r = config::decodeCustomHart(received);
    d.index("hart.enabled", r.enable);
    d.index("hart.mode", r.mode);
    d.index("hart.meter-type", r.meterType);
    d.index("hart.preambles", r.preambleIndex);
    d.digits("hart.clear-time", r.clearTime, 3);
    for (int command = 1; command <= config::kReadMeterCommands; ++command) {
        const config::ReadMeterCommandFields& f = r.commands[static_cast<std::size_t>(command - 1)];
        const std::string name = indexed("read", command, "");
        d.index(name + ".enabled", f.enable);
        if (f.command && f.count) {
            const Parameter& p = Parameters()[ParameterIndex(name + ".command")];
            std::string canonical;
            bool ok = *f.count == 0 && f.command->empty();
            if (!ok) {
                try {
                    canonical = CanonicalValue(p, *f.command);
                    // n pairs with a blank between each two: a reply cut short has fewer.
                    ok = static_cast<int>((canonical.size() + 1) / 3) == *f.count;
                } catch (const BadValue&) {
                }
            }
            if (ok) {
                d.text(name + ".command", canonical);
            } else {
                d.problem(name + ".command", "the converter reports " + std::to_string(*f.count) + " bytes as '" +
                                                 *f.command + "'");
            }
        }
    }
    d.stopped(r.error);
}

void decodeParse(std::string_view received, Decoding& d) {
    const config::ParseFormatReply r = config::decodeParseFormat(received);
    d.index("parse.address-bit", r.addressBitIndex);
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const config::ParseFormatRow& row = r.rows[static_cast<std::size_t>(variable - 1)];
        const std::string name = indexed("parse", variable, "");
        d.index(name + ".order", row.format);
        d.digits(name + ".address", row.address, 2);
        d.index(name + ".length", row.length);
        d.text(name + ".coefficient", row.coefficient);
    }
    d.stopped(r.error);
}

void decodeTests(std::string_view received, Decoding& d) {
    const config::TestValues r = config::decodeTestValues(received);
    d.text("test.totalizer", r.totalizer);
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        d.text(indexed("test.ao", output, ""), r.outputs[static_cast<std::size_t>(output)]);
    }
}

// ---- set commands ----

enum class SetterKind { Mode, Interval, Totalizer, Output, HartPolling, ReadMeter, Parse, AddressBit, Rs485B,
                        Address, Rs485 };

struct SetterEntry {
    Setter setter;
    SetterKind kind;
    int number; // output 0..7, read meter command 1..2, variable 1..8
};

std::vector<SetterEntry> buildSetters() {
    std::vector<SetterEntry> all;
    static std::vector<std::string> texts; // storage for the generated keys and titles
    texts.reserve(64);
    const auto keep = [](std::string text) -> std::string_view { return texts.emplace_back(std::move(text)); };
    all.push_back({{"MD", "working mode"}, SetterKind::Mode, 0});
    all.push_back({{"JTM", "MODBUS command interval"}, SetterKind::Interval, 0});
    all.push_back({{"DL", "totalizer output"}, SetterKind::Totalizer, 0});
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        all.push_back({{keep(indexed("DA", output + 1, "")), keep(indexed("analog output DOUTA", output, ""))},
                       SetterKind::Output,
                       output});
    }
    all.push_back({{"HART0", "HART polling"}, SetterKind::HartPolling, 0});
    for (int command = 1; command <= config::kReadMeterCommands; ++command) {
        all.push_back({{keep(indexed("CAMD0", command, "")), keep(indexed("read meter command ", command, ""))},
                       SetterKind::ReadMeter,
                       command});
    }
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        all.push_back({{keep(indexed("MDBS", variable, "")), keep(indexed("parse format of variable ", variable, ""))},
                       SetterKind::Parse,
                       variable});
    }
    all.push_back({{"MDL", "address bit"}, SetterKind::AddressBit, 0});
    all.push_back({{"BA2", "RS485B port"}, SetterKind::Rs485B, 0});
    all.push_back({{"ADR", "MODBUS slave address"}, SetterKind::Address, 0});
    all.push_back({{"BA1", "RS485 port"}, SetterKind::Rs485, 0});
    return all;
}

const std::vector<SetterEntry>& setterEntries() {
    static const std::vector<SetterEntry> entries = buildSetters();
    return entries;
}

std::vector<std::string> setterParameterNames(const SetterEntry& e) {
    switch (e.kind) {
    case SetterKind::Mode: return {"mode"};
    case SetterKind::Interval: return {"modbus.interval"};
    case SetterKind::Totalizer: return {"totalizer.variable"};
    case SetterKind::Output: {
        const std::string row = indexed("ao", e.number, "");
        return {row + ".variable", row + ".20ma", row + ".4ma"};
    }
    case SetterKind::HartPolling:
        return {"hart.enabled", "hart.mode", "hart.meter-type", "hart.preambles", "hart.clear-time"};
    case SetterKind::ReadMeter: {
        const std::string name = indexed("read", e.number, "");
        return {name + ".enabled", name + ".command"};
    }
    case SetterKind::Parse: {
        const std::string name = indexed("parse", e.number, "");
        return {name + ".order", name + ".address", name + ".length", name + ".coefficient"};
    }
    case SetterKind::AddressBit: return {"parse.address-bit"};
    case SetterKind::Rs485B: return {"rs485b.baud", "rs485b.parity"};
    case SetterKind::Address: return {"modbus.address"};
    case SetterKind::Rs485: return {"rs485.baud", "rs485.parity"};
    }
    return {};
}

// The values one frame needs, each present or BadValue naming it.
class FrameValues {
public:
    explicit FrameValues(const Configuration& values) : values_(values) {}

    const std::string& text(std::string_view name) const {
        const auto& value = values_.value(name);
        if (!value) {
            throw BadValue(std::string(name) + ": no value to send (not read from the converter, not in the file)");
        }
        return *value;
    }
    int index(std::string_view name) const {
        const Parameter& p = Parameters()[ParameterIndex(name)];
        const auto found = ChoiceIndex(p, text(name));
        if (!found) {
            throw BadValue(std::string(name) + ": '" + text(name) + "' is not one of " + ValuesText(p));
        }
        return *found;
    }
    int integer(std::string_view name) const { return tools::StrToInt(text(name)); }

private:
    const Configuration& values_;
};

std::string buildFrame(const SetterEntry& e, const FrameValues& v) {
    switch (e.kind) {
    case SetterKind::Mode: return config::workingModeFrame(v.index("mode"));
    case SetterKind::Interval: return config::commandIntervalFrame(v.text("modbus.interval"));
    case SetterKind::Totalizer: return config::totalizerOutputFrame(v.integer("totalizer.variable"));
    case SetterKind::Output: {
        const std::string row = indexed("ao", e.number, "");
        return config::analogOutputFrame(e.number, v.integer(row + ".variable"), v.text(row + ".20ma"),
                                         v.text(row + ".4ma"));
    }
    case SetterKind::HartPolling:
        // The converter has one meter, "Device 0".
        return config::hartPollingFrame(0, v.index("hart.enabled"), v.index("hart.mode"), v.index("hart.meter-type"),
                                        v.index("hart.preambles"), v.text("hart.clear-time"));
    case SetterKind::ReadMeter: {
        const std::string name = indexed("read", e.number, "");
        const std::string& bytes = v.text(name + ".command");
        if (bytes.empty()) {
            throw BadValue(name + ".command: the converter holds no command, and a read meter command of no bytes "
                                  "cannot be sent");
        }
        const config::ReadMeterCommandFrame frame =
            config::readMeterCommandFrame(e.number, v.index(name + ".enabled"), bytes);
        if (!frame.ok()) {
            throw BadValue(name + ".command: '" + bytes + "': " + frame.failure);
        }
        return frame.frame;
    }
    case SetterKind::Parse: {
        const std::string name = indexed("parse", e.number, "");
        return config::parseFormatFrame(e.number, v.index(name + ".order"), v.text(name + ".address"),
                                        v.index(name + ".length"), v.text(name + ".coefficient"));
    }
    case SetterKind::AddressBit: return config::addressBitFrame(v.index("parse.address-bit"));
    case SetterKind::Rs485B:
        return config::rs485Frame(config::Rs485Port::Rs485B, v.index("rs485b.baud"), v.index("rs485b.parity"));
    case SetterKind::Address: return config::slaveAddressFrame(v.text("modbus.address"));
    case SetterKind::Rs485:
        return config::rs485Frame(config::Rs485Port::Rs485, v.index("rs485.baud"), v.index("rs485.parity"));
    }
    return {};
}

} // namespace

// ---- Configuration ----

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
    return static_cast<std::size_t>(std::count_if(values_.begin(), values_.end(), [](const auto& v) { return v; }));
}

std::vector<std::string> DecodeReply(Query query, std::string_view received, Configuration& into) {
    const Configuration before = into;
    Decoding d(query, into);
    if (!config::containsMarker(received, QueryKey(query))) {
        d.problems.push_back(std::string(QueryKey(query)) + " reply: no block marker " + std::string(QueryKey(query)));
        return d.problems;
    }
    switch (query) {
    case Query::QX1: decodeSystem(received, d); break;
    case Query::QX2: decodeAnalog(received, d); break;
    case Query::QX3: decodeCustomHart(received, d); break;
    case Query::QX4: decodeParse(received, d); break;
    case Query::QX6: decodeTests(received, d); break;
    }
    d.finish(before);
    return d.problems;
}

std::span<const Setter> Setters() {
    static const std::vector<Setter> setters = [] {
        std::vector<Setter> out;
        for (const SetterEntry& e : setterEntries()) {
            out.push_back(e.setter);
        }
        return out;
    }();
    return setters;
}

std::optional<std::size_t> SetterOf(std::size_t parameter) {
    const std::string_view name = Parameters()[parameter].name;
    const auto& entries = setterEntries();
    for (std::size_t s = 0; s < entries.size(); ++s) {
        for (const std::string& n : setterParameterNames(entries[s])) {
            if (n == name) {
                return s;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::size_t> ParametersOf(std::size_t setter) {
    std::vector<std::size_t> out;
    for (const std::string& n : setterParameterNames(setterEntries().at(setter))) {
        out.push_back(ParameterIndex(n));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string SetFrame(std::size_t setter, const Configuration& values) {
    try {
        return buildFrame(setterEntries().at(setter), FrameValues(values));
    } catch (const tools::Error& error) {
        // A value canonical for its parameter that the frame still refuses: name the set command.
        throw BadValue(std::string(Setters()[setter].title) + ": " + error.what());
    }
}

std::vector<PlannedFrame> PlanRestore(const Configuration& target, const Configuration& current, bool all) {
    Configuration merged = current;
    merged.merge(target);

    std::vector<std::size_t> order(setterEntries().size());
    for (std::size_t s = 0; s < order.size(); ++s) {
        order[s] = s;
    }
    const auto isKind = [](SetterKind kind) {
        return [kind](std::size_t s) { return setterEntries()[s].kind == kind; };
    };
    // Switching the totalizer output on closes the last four outputs: set them first, then switch.
    const auto& totalizer = merged.value("totalizer.variable");
    if (totalizer && *totalizer != "0") {
        const auto dl = std::find_if(order.begin(), order.end(), isKind(SetterKind::Totalizer));
        const auto lastOutput = std::find_if(order.rbegin(), order.rend(), isKind(SetterKind::Output)).base();
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
        planned.frame = SetFrame(s, merged);
        plan.push_back(std::move(planned));
    }
    return plan;
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

} // namespace profile
