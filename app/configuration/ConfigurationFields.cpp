// The parameters' fields in the window: reading, showing and what is known of them.
#include "app/configuration/ConfigurationFields.h"

#include <algorithm>
#include <stdexcept>

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "app/window/Latin1.h"
#include "app/window/Lists.h"
#include "app/window/VX538AB.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "tools/Conversions.h"

namespace app {

namespace {

// The control of each parameter, by the names the form gives them. In a row with '#', it stands for
// the parameter's number (an analog output 0..7, a parse variable 1..8), in the control's name for that
// number plus `offset`.
struct ControlRow {
    std::string_view parameter;
    std::string_view control;
    int offset = 0;
};
constexpr ControlRow kControls[] = {
    {"modbus.address", "Edit14"},      {"rs485.baud", "BRAT1"},           {"rs485.parity", "XIAO1"},
    {"rs485b.baud", "BRAT2"},          {"rs485b.parity", "XIAO2"},        {"mode", "ComboBox7"},
    {"modbus.interval", "Edit6"},      {"totalizer.variable", "LEJIOUT"}, {"ao#.variable", "DOUT#", 1},
    {"ao#.20ma", "DOUT#H", 1},         {"ao#.4ma", "DOUT#L", 1},          {"hart.enabled", "ComboBox6"},
    {"hart.mode", "ComboBox16"},       {"hart.meter-type", "ComboBox17"}, {"hart.preambles", "ComboBox34"},
    {"hart.clear-time", "Edit2"},      {"read1.enabled", "ComboBox28"},   {"read1.command", "Edit4"},
    {"read2.enabled", "ComboBox29"},   {"read2.command", "Edit5"},        {"parse.address-bit", "ComboBox15"},
    {"parse#.order", "FAMOUT#"},       {"parse#.address", "READADR#"},    {"parse#.length", "READLG#"},
    {"parse#.coefficient", "Xishou#"}, {"test.totalizer", "Edit3"},       {"test.ao#", "AVO#"},
};

std::string numbered(std::string_view pattern, int number) {
    std::string out(pattern);
    if (const auto at = out.find('#'); at != std::string::npos) {
        out.replace(at, 1, std::to_string(number));
    }
    return out;
}

// A list shows a choice, or a number the reply gives as a number (a variable 0..8) as the index of its
// item; a field shows the rest.
bool shownInList(const profile::Parameter& p) {
    return !p.choices.empty() || (p.kind == profile::Kind::Integer && p.width == 0);
}

[[noreturn]] void refuse(const profile::Parameter& p, const std::string& shown, std::string_view why) {
    throw profile::BadValue(std::string(p.name) + ": '" + shown + "' " + std::string(why));
}

} // namespace

ConfigurationFields::ConfigurationFields(QWidget& window)
    : bindings_(profile::ParameterCount()), shownAs_(profile::ParameterCount()) {
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        const profile::Parameter& p = profile::Parameters()[i];
        const auto row = std::find_if(std::begin(kControls), std::end(kControls), [&](const ControlRow& r) {
            return numbered(r.parameter, p.number) == p.name;
        });
        Binding& b = bindings_[i];
        if (row != std::end(kControls)) {
            const QString name = QString::fromStdString(numbered(row->control, p.number + row->offset));
            b.list = shownInList(p) ? window.findChild<QComboBox*>(name) : nullptr;
            b.edit = shownInList(p) ? nullptr : window.findChild<QLineEdit*>(name);
        }
        if (!b.list && !b.edit) {
            throw std::logic_error("no control for " + std::string(p.name));
        }
    }
}

std::string ConfigurationFields::fieldValue(std::size_t parameter) const {
    const profile::Parameter& p = profile::Parameters()[parameter];
    const Binding& b = bindings_.at(parameter);
    if (b.list) {
        const int index = SelectedIndex(b.list);
        if (p.choices.empty()) {
            if (index < p.minimum || index > p.maximum) {
                refuse(p, FieldText(b.list),
                       "is not one of the list's items 0 to " + std::to_string(p.maximum));
            }
            return std::to_string(index);
        }
        if (index < 0 || static_cast<std::size_t>(index) >= p.choices.size()) {
            refuse(p, FieldText(b.list), "is not one of " + profile::ValuesText(p));
        }
        return std::string(p.choices[static_cast<std::size_t>(index)].name);
    }
    const std::string text = FieldText(b.edit);
    switch (p.kind) {
    case profile::Kind::HexBytes: {
        // As strict as the Set button: upper-case pairs, single blanks.
        const std::string canonical = profile::CanonicalValue(p, text);
        if (canonical != text) {
            refuse(p, text,
                   "is not hex byte text as the Set button takes it: upper-case pairs separated by "
                   "single blanks (82 26 03)");
        }
        return canonical;
    }
    case profile::Kind::Coefficient: {
        // The converter reads the first five characters; a shorter text is refused by the Set button.
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
    case profile::Kind::Text:
        return text;
    default:
        return profile::CanonicalValue(p, text);
    }
}

QString ConfigurationFields::fieldState(std::size_t parameter) const {
    const Binding& b = bindings_.at(parameter);
    if (b.list) {
        return QString::number(SelectedIndex(b.list)) + QLatin1Char('\n') + b.list->currentText();
    }
    return b.edit->text();
}

std::optional<QString> ConfigurationFields::stateFor(std::size_t parameter,
                                                     const std::string& canonical) const {
    const profile::Parameter& p = profile::Parameters()[parameter];
    const Binding& b = bindings_.at(parameter);
    try {
        if (b.list) {
            const int index = p.choices.empty() ? tools::StrToInt(canonical)
                                                : profile::ChoiceIndex(p, canonical).value_or(-1);
            if (index < 0 || index >= b.list->count()) {
                return std::nullopt;
            }
            return QString::number(index) + QLatin1Char('\n') + b.list->itemText(index);
        }
        switch (p.kind) {
        case profile::Kind::Integer:
            return latin1(tools::FormatZeroPadded(tools::StrToInt(canonical),
                                                  std::string(static_cast<std::size_t>(p.width), '0')));
        case profile::Kind::Float:
            return latin1(config::rangeDisplayText(tools::ToSingle(tools::StrToFloat(canonical))));
        default:
            return latin1(canonical);
        }
    } catch (const tools::Error&) {
        // A canonical value always converts; one that does not is no value this field can show.
    }
    return std::nullopt;
}

void ConfigurationFields::remember(std::size_t parameter, const std::string& canonical) {
    known_.set(parameter, canonical);
    shownAs_[parameter] = fieldState(parameter);
}

bool ConfigurationFields::unchanged(std::size_t parameter) const {
    return known_.has(parameter) && fieldState(parameter) == shownAs_[parameter];
}

std::optional<std::string> ConfigurationFields::heldValue(std::size_t parameter) const {
    if (!known_.has(parameter)) {
        return std::nullopt;
    }
    return unchanged(parameter) ? known_.value(parameter) : fieldValue(parameter);
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
        // Only what the field shows: a row the decoder closed (the totalizer output is on) or left as
        // it was did not come from this reply.
        const auto& value = decoded.value(i);
        if (profile::Parameters()[i].query == query && value && stateFor(i, *value) == fieldState(i)) {
            remember(i, *value);
        }
    }
}

void ConfigurationFields::show(const profile::Configuration& values) {
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (values.has(i) && !stateFor(i, *values.value(i))) {
            refuse(profile::Parameters()[i], *values.value(i), "cannot be shown in its field");
        }
    }
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        if (const Binding& b = bindings_[i]; values.has(i)) {
            const QString state = *stateFor(i, *values.value(i));
            if (b.list) {
                SelectIndex(b.list, state.section(QLatin1Char('\n'), 0, 0).toInt());
            } else {
                b.edit->setText(state);
            }
            remember(i, *values.value(i));
        }
    }
}

QWidget* ConfigurationFields::fieldOf(std::size_t parameter) const {
    const Binding& b = bindings_.at(parameter);
    return b.list ? static_cast<QWidget*>(b.list) : static_cast<QWidget*>(b.edit);
}

std::string ConfigurationFields::rangeText(int output, bool upper) const {
    const std::size_t parameter =
        profile::ParameterIndex("ao" + std::to_string(output) + (upper ? ".20ma" : ".4ma"));
    return unchanged(parameter) ? *known_.value(parameter) : FieldText(bindings_.at(parameter).edit);
}

} // namespace app
