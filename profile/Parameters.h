// The converter's configuration as named parameters: one table of every value the converter reports
// (name, its range or choices, which query reports it and where its decoder puts it, which set command
// changes it) and the reading of a typed value into the one text that stands for it. The window's
// files, vx538 and docs/parameters.md all read this table; a new parameter is one row of it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace profile {

// A value or a name that the table refuses; the message names the parameter and what it takes.
class BadValue : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Kind {
    Integer,       // a decimal number in minimum..maximum
    Choice,        // one of `choices`, by name
    NumericChoice, // one of `choices`, whose names are numbers (bauds, preamble counts)
    Float,         // a single-precision number, kept bit for bit
    Coefficient,   // five characters that read as a number ("1.000"), as the converter reads them
    HexBytes,      // 1..14 bytes as hex byte text ("82 26 03 00")
    Text,          // characters as the converter reports them (test values)
};

struct Choice {
    std::string_view name;  // what is typed and written in files: "19200", "odd", "single-meter"
    std::string_view label; // the window's list item: "Single Meter Operation Mode"
};

// The queries that report the configuration, in the order a backup sends them.
enum class Query { QX1, QX2, QX3, QX4, QX6 };
inline constexpr Query kQueries[] = {Query::QX1, Query::QX2, Query::QX3, Query::QX4, Query::QX6};
std::string_view QueryKey(Query query);   // "QX1"
std::string_view QueryTitle(Query query); // "system parameters"
std::string QueryFrame(Query query);      // "QQQ#QX1#", through config/'s builders

// Where a row's value stands in the decoded reply of its query (see Table.cpp); `number` is the row's.
struct Field;
struct DecodedReply;
using FieldOf = Field (*)(const DecodedReply& reply, int number);

// The set commands, by what they set (with a number where there are several: see Setter).
enum class SetKind {
    Mode,
    Interval,
    Totalizer,
    AnalogOutput,
    HartPolling,
    ReadMeter,
    ParseFormat,
    AddressBit,
    Rs485B,
    SlaveAddress,
    Rs485,
};

struct Parameter {
    std::string name;
    std::string description;
    Query query;
    Kind kind;
    int minimum = 0; // Integer
    int maximum = 0;
    int width = 0; // an Integer the reply gives as text: its fixed number of digits ("005")
    // Choice and NumericChoice: the items in the order of the window's list, so an item's position is
    // the list index the frame carries.
    std::span<const Choice> choices;
    // Test values are reported but no command sets them back; a restore leaves them alone.
    bool restorable = true;
    std::string_view unit; // "x 10 ms", "s"; empty for none

    // The analog output (0..7), read meter command (1..2) or parse variable (1..8) it belongs to.
    int number = 0;
    FieldOf field = nullptr; // read: where the decoder of `query` puts it
    // Set: the command (with `number`) that carries it; none for the test values.
    std::optional<SetKind> setBy;
};

// Every parameter, in the order of the queries and of the fields inside each reply.
std::span<const Parameter> Parameters();
std::size_t ParameterCount();
// Index into Parameters(); an unknown name throws BadValue ("unknown parameter 'x'", with the nearest
// names when there are some).
std::size_t ParameterIndex(std::string_view name);

// The one text that stands for a typed value ("9600", "odd", "5", "0.1", "82 26 03", "1.500"), or
// BadValue naming the parameter, the text and what the parameter takes. Accepted besides the
// canonical text: any letter case for choice names and their window labels; for integers the number
// forms a field takes ("007", "$1F"); for floats a number ("20.5", "1e3") or the 32-bit pattern
// "0x41A40000"; for a coefficient a number of fewer than five characters, which is written out to
// five ("1.5" is "1.500"); hex bytes in either letter case.
std::string CanonicalValue(const Parameter& parameter, std::string_view typed);

// "'text'" for messages (tools::EchoText): cut to 80 characters with the length said and its unprintable
// bytes escaped, so a value typed by the user is echoed, never a megabyte or a terminal's control
// sequence of it.
std::string Quoted(std::string_view text);

// The list index of a choice value (its position in `choices`), or nullopt.
std::optional<int> ChoiceIndex(const Parameter& parameter, std::string_view value);

// What a parameter takes, for help texts and messages: "1..247", "1200, 2400, 4800, 9600, 19200,
// 38400", "a single-precision number".
std::string ValuesText(const Parameter& parameter);

// The table as Markdown (docs/parameters.md).
std::string ParametersMarkdown();

} // namespace profile
