// The parameters' fields in the window: reading, showing and what is known of them.
#include "app/ConfigurationFields.h"

#include <stdexcept>

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "app/Latin1.h"
#include "app/Lists.h"
#include "app/VX538AB.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "tools/Conversions.h"

namespace app {

namespace {

std::string indexed(std::string_view head, int n, std::string_view tail = {}) {
    return std::string(head) + std::to_string(n) + std::string(tail);
}

[[noreturn]] void refuse(const profile::Parameter& p, const std::string& shown, std::string_view why) {
    throw profile::BadValue(std::string(p.name) + ": '" + shown + "' " + std::string(why));
}

} // namespace

ConfigurationFields::ConfigurationFields(QWidget& window)
    : bindings_(profile::ParameterCount()), shownAs_(profile::ParameterCount()) {
    const auto edit = [&](const std::string& name) {
        auto* control = window.findChild<QLineEdit*>(QString::fromStdString(name));
        if (!control) {
            throw std::logic_error("no field " + name);
        }
        return control;
    };
    const auto list = [&](const std::string& name) {
        auto* control = window.findChild<QComboBox*>(QString::fromStdString(name));
        if (!control) {
            throw std::logic_error("no list " + name);
        }
        return control;
    };
    const auto bind = [&](std::string_view parameter, Binding binding) {
        bindings_.at(profile::ParameterIndex(parameter)) = binding;
    };
    const auto choice = [&](std::string_view parameter, const std::string& name) {
        bind(parameter, {Shape::ChoiceList, nullptr, list(name), 0});
    };
    const auto digits = [&](std::string_view parameter, const std::string& name, int width) {
        bind(parameter, {Shape::Digits, edit(name), nullptr, width});
    };
    const auto field = [&](std::string_view parameter, Shape shape, const std::string& name) {
        bind(parameter, {shape, edit(name), nullptr, 0});
    };

    digits("modbus.address", "Edit14", 3);
    choice("rs485.baud", "BRAT1");
    choice("rs485.parity", "XIAO1");
    choice("rs485b.baud", "BRAT2");
    choice("rs485b.parity", "XIAO2");
    choice("mode", "ComboBox7");
    digits("modbus.interval", "Edit6", 3);

    bind("totalizer.variable", {Shape::NumberList, nullptr, list("LEJIOUT"), 0});
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        const std::string row = indexed("ao", output);
        const std::string control = indexed("DOUT", output + 1);
        bind(row + ".variable", {Shape::NumberList, nullptr, list(control), 0});
        field(row + ".20ma", Shape::Range, control + "H");
        field(row + ".4ma", Shape::Range, control + "L");
    }

    choice("hart.enabled", "ComboBox6");
    choice("hart.mode", "ComboBox16");
    choice("hart.meter-type", "ComboBox17");
    choice("hart.preambles", "ComboBox34");
    digits("hart.clear-time", "Edit2", 3);
    choice("read1.enabled", "ComboBox28");
    field("read1.command", Shape::HexBytes, "Edit4");
    choice("read2.enabled", "ComboBox29");
    field("read2.command", Shape::HexBytes, "Edit5");

    choice("parse.address-bit", "ComboBox15");
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const std::string name = indexed("parse", variable);
        choice(name + ".order", indexed("FAMOUT", variable));
        digits(name + ".address", indexed("READADR", variable), 2);
        choice(name + ".length", indexed("READLG", variable));
        field(name + ".coefficient", Shape::Coefficient, indexed("Xishou", variable));
    }

    field("test.totalizer", Shape::Text, "Edit3");
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        field(indexed("test.ao", output), Shape::Text, indexed("AVO", output));
    }
}

std::string ConfigurationFields::fieldValue(std::size_t parameter) const {
    const profile::Parameter& p = profile::Parameters()[parameter];
    const Binding& b = bindings_.at(parameter);
    switch (b.shape) {
    case Shape::ChoiceList: {
        const int index = SelectedIndex(b.list);
        if (index < 0 || static_cast<std::size_t>(index) >= p.choices.size()) {
            refuse(p, FieldText(b.list), "is not one of " + profile::ValuesText(p));
        }
        return std::string(p.choices[static_cast<std::size_t>(index)].name);
    }
    case Shape::NumberList: {
        const int index = SelectedIndex(b.list);
        if (index < p.minimum || index > p.maximum) {
            refuse(p, FieldText(b.list), "is not one of the list's items 0 to " + std::to_string(p.maximum));
        }
        return std::to_string(index);
    }
    case Shape::Digits:
    case Shape::Range: return profile::CanonicalValue(p, FieldText(b.edit));
    case Shape::HexBytes: {
        // As strict as the Set button: upper-case pairs, single blanks.
        const std::string text = FieldText(b.edit);
        const std::string canonical = profile::CanonicalValue(p, text);
        if (canonical != text) {
            refuse(p, text, "is not hex byte text as the Set button takes it: upper-case pairs separated by "
                            "single blanks (82 26 03)");
        }
        return canonical;
    }
    case Shape::Coefficient: {
        // The converter reads the first five characters; a shorter text is refused by the Set button.
        const std::string text = FieldText(b.edit);
        if (text.size() < config::kCoefficientWidth) {
            refuse(p, text, "is shorter than the five characters the converter reads (for example 1.000)");
        }
        const std::string five = text.substr(0, config::kCoefficientWidth);
        std::string canonical;
        try {
            canonical = profile::CanonicalValue(p, five);
        } catch (const profile::BadValue&) {
            refuse(p, five, "is not a number of five characters");
        }
        if (canonical != five) {
            refuse(p, five, "is not a number of five characters");
        }
        return canonical;
    }
    case Shape::Text: return FieldText(b.edit);
    }
    return {};
}

QString ConfigurationFields::fieldState(std::size_t parameter) const {
    const Binding& b = bindings_.at(parameter);
    if (b.list) {
        return QString::number(SelectedIndex(b.list)) + QLatin1Char('\n') + b.list->currentText();
    }
    return b.edit->text();
}

std::optional<QString> ConfigurationFields::stateFor(std::size_t parameter, const std::string& canonical) const {
    const profile::Parameter& p = profile::Parameters()[parameter];
    const Binding& b = bindings_.at(parameter);
    const auto listState = [&](int index) -> std::optional<QString> {
        if (index < 0 || index >= b.list->count()) {
            return std::nullopt;
        }
        return QString::number(index) + QLatin1Char('\n') + b.list->itemText(index);
    };
    try {
        switch (b.shape) {
        case Shape::ChoiceList: {
            const auto index = profile::ChoiceIndex(p, canonical);
            return index ? listState(*index) : std::nullopt;
        }
        case Shape::NumberList: return listState(tools::StrToInt(canonical));
        case Shape::Digits: {
            const std::string text =
                tools::FormatZeroPadded(tools::StrToInt(canonical), std::string(static_cast<std::size_t>(b.width), '0'));
            return latin1(text);
        }
        case Shape::Range:
            return latin1(config::rangeDisplayText(tools::ToSingle(tools::StrToFloat(canonical))));
        case Shape::Coefficient:
        case Shape::HexBytes:
        case Shape::Text: return latin1(canonical);
        }
    } catch (const tools::Error&) {
        // A canonical value always converts; one that does not is no value this field can show.
    }
    return std::nullopt;
}

void ConfigurationFields::apply(std::size_t parameter, const std::string& canonical) {
    const Binding& b = bindings_.at(parameter);
    const QString state = *stateFor(parameter, canonical);
    if (b.list) {
        SelectIndex(b.list, state.section(QLatin1Char('\n'), 0, 0).toInt());
    } else {
        b.edit->setText(state);
    }
}

void ConfigurationFields::remember(std::size_t parameter, const std::string& canonical) {
    known_.set(parameter, canonical);
    shownAs_[parameter] = fieldState(parameter);
}

std::optional<std::string> ConfigurationFields::heldValue(std::size_t parameter) const {
    if (!known_.has(parameter)) {
        return std::nullopt;
    }
    if (fieldState(parameter) == shownAs_[parameter]) {
        return known_.value(parameter);
    }
    return fieldValue(parameter);
}

profile::Configuration ConfigurationFields::heldValues() const {
    profile::Configuration values;
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (auto value = heldValue(i)) {
            values.set(i, std::move(*value));
        }
    }
    return values;
}

profile::Configuration ConfigurationFields::valuesToSend() const {
    profile::Configuration values;
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (profile::SetterOf(i)) {
            auto held = heldValue(i);
            values.set(i, held ? std::move(*held) : fieldValue(i));
        }
    }
    return values;
}

void ConfigurationFields::noteReply(profile::Query query, std::string_view received) {
    profile::Configuration decoded;
    profile::DecodeReply(query, received, decoded);
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        const auto& value = decoded.value(i);
        if (profile::Parameters()[i].query != query || !value) {
            continue;
        }
        // Only what the field shows: a row the decoder closed (the totalizer output is on) or left as
        // it was did not come from this reply.
        if (stateFor(i, *value) == fieldState(i)) {
            remember(i, *value);
        }
    }
}

void ConfigurationFields::show(const profile::Configuration& values) {
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (values.has(i) && !stateFor(i, *values.value(i))) {
            const profile::Parameter& p = profile::Parameters()[i];
            refuse(p, *values.value(i), "cannot be shown in its field");
        }
    }
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (values.has(i)) {
            apply(i, *values.value(i));
            remember(i, *values.value(i));
        }
    }
}

QWidget* ConfigurationFields::fieldOf(std::size_t parameter) const {
    const Binding& b = bindings_.at(parameter);
    return b.list ? static_cast<QWidget*>(b.list) : static_cast<QWidget*>(b.edit);
}

std::string ConfigurationFields::rangeText(int output, bool upper) const {
    const std::size_t parameter = profile::ParameterIndex(indexed("ao", output, upper ? ".20ma" : ".4ma"));
    if (known_.has(parameter) && fieldState(parameter) == shownAs_[parameter]) {
        return *known_.value(parameter);
    }
    return FieldText(bindings_.at(parameter).edit);
}

} // namespace app
