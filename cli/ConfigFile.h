// What vx538 reads from files besides the command line: a port line of --ports-from ("PORT" or
// "NAME PORT", the name heading that converter's published topics), and a configuration file
// (--config, as a service's /etc/vx538/NAME.conf) whose lines are options as on the command line.
// Plain C++ without I/O, so the readers are fuzzed like every other parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct PortLine {
    std::string name; // empty when the line gives none
    std::string port;
};

struct PortLineReading {
    std::optional<PortLine> line; // none for a blank or comment line, or when `error` is set
    std::string error; // what is wrong with the line: "holds a NUL byte, ..."
};

// "PORT" or "NAME PORT" ('#' starts a comment; blanks around are ignored). A first word with a '/'
// makes the whole line a path, as a device path with blanks in it always was; any other first word
// followed by more is a name, which must be 1 to 64 letters, digits, '-', '_' or '.'.
PortLineReading ReadPortLine(std::string_view text);

struct ConfigOption {
    std::string name;                 // without the dashes: "mqtt-topic"
    std::optional<std::string> value; // none for a switch
};

struct ConfigReading {
    std::vector<ConfigOption> options; // in the file's order, each once
    std::vector<PortLine> ports;       // the "port" lines
    std::string error;                 // "line 3: ...", when the file is refused
};

// One option a line: "OPTION VALUE", "OPTION = VALUE" or "OPTION" alone for a switch, OPTION being a
// long option's name without its dashes (mqtt, interval, mqtt-topic, baud...), VALUE the rest of the
// line as it stands (blanks inside kept). "port [NAME] PORT" lines name the ports. Blank lines and
// lines starting with '#' are skipped. An option given twice (other than port) is refused, as is a
// NUL byte or a line of more than 4096 bytes.
ConfigReading ReadConfigText(std::string_view text);

} // namespace cli
