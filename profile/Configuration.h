// A converter's configuration as values of the parameter table: filled from the replies to its queries
// through the rows' fields, turned into set commands through the set command table, compared, and put
// in the order a restore sends it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "profile/Parameters.h"

namespace profile {

// One value per parameter of the table, each in its canonical text (CanonicalValue); a parameter not
// known (never read, not in a file) has none.
class Configuration {
public:
    Configuration();

    const std::optional<std::string>& value(std::size_t index) const { return values_.at(index); }
    const std::optional<std::string>& value(std::string_view name) const;
    bool has(std::size_t index) const { return values_.at(index).has_value(); }
    // Stores a value already canonical (from a decoder or CanonicalValue).
    void set(std::size_t index, std::string canonical) { values_.at(index) = std::move(canonical); }
    // Reads a typed value with CanonicalValue; BadValue leaves the configuration as it was.
    void setTyped(std::string_view name, std::string_view typed);
    void clear(std::size_t index) { values_.at(index).reset(); }
    // The values of `other` that it has, over this one's.
    void merge(const Configuration& other);
    std::size_t count() const;

    bool operator==(const Configuration& other) const = default;

private:
    std::vector<std::optional<std::string>> values_;
};

// What stood in the way of reading a reply: said of one parameter, or of the reply as a whole.
struct Problem {
    Query query;
    std::optional<std::size_t> parameter; // none: the reply as a whole
    std::string text;                     // "the converter reports item 7, which is not one of ..."

    bool operator==(const Problem&) const = default;
};
// "rs485.baud: the converter reports ..." or "QX1 reply: no block marker QX1".
std::string ProblemText(const Problem& problem);

// Fills the parameters of `query` from its reply (the received text) and returns what stood in the
// way: no block marker, a field the reply lacks, a value that is no value of its parameter. Parameters
// with a problem are left as they were; the others are set.
std::vector<Problem> DecodeReply(Query query, std::string_view received, Configuration& into);

// A set command: what it sets (kind and number, which the window and vx538 test instead of its
// key), its key and title and the parameters it carries.
struct Setter {
    SetKind kind;
    int number;        // the analog output 0..7, read meter command 1..2 or parse variable 1..8; else 0
    std::string key;   // "MD", "DA1", "HART0", "CAMD01", "MDBS3", "BA1"...
    std::string title; // "working mode", "analog output DOUTA0"
    std::vector<std::size_t> parameters; // in table order
};
// The set commands, in the order a restore sends them: the settings that change the line itself
// (the RS485B port, the slave address, then the RS485 port) come last.
std::span<const Setter> Setters();
// The setter of a parameter; nullopt for one no command sets (the test values).
std::optional<std::size_t> SetterOf(std::size_t parameter);
// The parameters one set command carries, in table order.
const std::vector<std::size_t>& ParametersOf(std::size_t setter);

// What a set command's frame carries, read back from its bytes: the set command (an index into
// Setters()) and the values of its parameters. Nothing for a frame that is not exactly what that set
// command's builder makes of some values (a query, an output test, the reset, the factory record, a
// list digit or number no parameter takes): a frame is read only when the values give it back.
struct SetFrameValues {
    std::size_t setter;
    Configuration values;
};
std::optional<SetFrameValues> ReadSetFrame(std::string_view frame);

struct PlannedFrame {
    std::size_t setter;
    std::string frame;
    std::vector<std::size_t> changed; // its parameters whose value differs from the converter's
};

// What a restore sends to make the converter (`current`, as read) hold `target`: the set commands
// of which a parameter differs (every one with `all`), in restore order, each built from the
// target's values with those the target lacks taken from `current`. The totalizer output goes before
// the analog outputs when it is switched off and after them otherwise, so that the last four rows are
// set while the converter lets them be. Throws BadValue naming a value missing or one a frame cannot
// carry (an empty read meter command).
std::vector<PlannedFrame> PlanRestore(const Configuration& target, const Configuration& current, bool all);

struct Difference {
    std::size_t parameter;
    std::optional<std::string> expected; // nullopt: not known
    std::optional<std::string> actual;
};

// The restorable parameters that `expected` has and on which `actual` differs (or lacks a value), in
// table order. Test values are not compared.
std::vector<Difference> Compare(const Configuration& expected, const Configuration& actual);

} // namespace profile
