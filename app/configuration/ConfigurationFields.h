// The window's fields as values of the parameter table: which control shows which parameter, how a
// value is shown there and read back, and what the window knows of each value: whether it was read
// from the converter (or loaded from a file) since start-up, and the exact value behind a field that
// shows it shortened (a range field shows five characters of a float).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "profile/Configuration.h"

class QComboBox;
class QLineEdit;
class QWidget;

namespace app {

class ConfigurationFields {
public:
    // Finds the controls of `window` by their names.
    explicit ConfigurationFields(QWidget& window);

    // What the field of `parameter` reads as, the way its Set button reads it: a list by its selected
    // item, a number field by its number, a coefficient by the five characters the converter takes.
    // Throws profile::BadValue naming the parameter and what it takes.
    std::string fieldValue(std::size_t parameter) const;

    // The value the window holds for a known parameter: the exact one it got while the field still
    // shows it, otherwise what the field reads as; nullopt for one never read nor loaded.
    std::optional<std::string> heldValue(std::size_t parameter) const;
    // The field of a parameter read (or loaded) since start-up no longer shows what it was shown: an
    // edit not yet sent.
    bool edited(std::size_t parameter) const { return known_.has(parameter) && !unchanged(parameter); }
    // heldValue of every parameter; the first field that reads as no value throws profile::BadValue.
    profile::Configuration heldValues() const;
    // What the Set buttons would send for every parameter a set command carries: the held value, or
    // for a parameter never read what its field reads as. Throws profile::BadValue.
    profile::Configuration valuesToSend() const;

    // After a reply to `query` was decoded into the fields: the values it gave that the fields now
    // show become known, with what the fields show of them.
    void noteReply(profile::Query query, std::string_view received);

    // Shows every value `values` has in its field and makes it known. All are checked first: a value
    // that its field cannot show throws profile::BadValue and changes no field.
    void show(const profile::Configuration& values);

    // The control that shows `parameter`: a QLineEdit or a QComboBox.
    QWidget* fieldOf(std::size_t parameter) const;

    // The exact range texts of analog output row `output` (0..7) for its set command: the held value
    // while the field shows it, otherwise the field's text as it stands.
    std::string rangeText(int output, bool upper) const;

private:
    // A parameter's control: a list for a choice or a number that picks an item (variables 0..8), a
    // field for the rest; how it shows a value follows from the parameter's kind.
    struct Binding {
        QLineEdit* edit = nullptr;
        QComboBox* list = nullptr;
    };

    // The field's state as a snapshot compares it: a list's index and text, a field's text.
    QString fieldState(std::size_t parameter) const;
    // The state showing `canonical` would leave; nullopt when the field cannot show it.
    std::optional<QString> stateFor(std::size_t parameter, const std::string& canonical) const;
    void remember(std::size_t parameter, const std::string& canonical);
    // Known, and its field still shows what it was shown.
    bool unchanged(std::size_t parameter) const;

    std::vector<Binding> bindings_;
    profile::Configuration known_;
    std::vector<QString> shownAs_; // per known parameter: the field's state when it was shown
};

} // namespace app
