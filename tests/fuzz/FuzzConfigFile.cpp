// Configuration files and --ports-from lines: what a file gives reads back the same when written out
// again as a file; every port line's name is one a topic can hold; a refused file gives nothing.
#include <string>

#include "cli/ConfigFile.h"
#include "mqtt/Addressing.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);
    const cli::PortLineReading line = cli::ReadPortLine(text.substr(0, text.find('\n')));
    check(!(line.line && !line.error.empty()), "port line: a port beside a reason");
    if (line.line) {
        check(!line.line->port.empty(), "port line: no port");
        check(line.line->name.empty() || mqtt::ConverterNameProblem(line.line->name).empty(), "port line: bad name");
    }
    const cli::ConfigReading reading = cli::ReadConfigText(text);
    if (!reading.error.empty()) {
        check(reading.error.starts_with("line "), "config: a refusal without its line");
        check(reading.options.empty() && reading.ports.empty(), "config: a refused file gave something");
        return 0;
    }
    std::string again;
    for (const cli::ConfigOption& option : reading.options) {
        check(option.name.find_first_of(" \t\n=") == std::string::npos, "config: an option name with a blank");
        check(!option.value || (!option.value->empty() && option.value->find('\n') == std::string::npos),
              "config: a value across lines");
        // "name=value" is never longer than the line it came from, and keeps a value that starts with '='.
        again += option.name + (option.value ? "=" + *option.value : "") + "\n";
    }
    for (const cli::PortLine& port : reading.ports) {
        again += "port " + (port.name.empty() ? "" : port.name + " ") + port.port + "\n";
    }
    const cli::ConfigReading second = cli::ReadConfigText(again);
    check(second.error.empty() && second.options.size() == reading.options.size() &&
              second.ports.size() == reading.ports.size(),
          "config: does not read back");
    for (std::size_t i = 0; i < reading.options.size(); ++i) {
        check(second.options[i].name == reading.options[i].name && second.options[i].value == reading.options[i].value,
              "config: an option reads back otherwise");
    }
    for (std::size_t i = 0; i < reading.ports.size(); ++i) {
        check(second.ports[i].name == reading.ports[i].name && second.ports[i].port == reading.ports[i].port,
              "config: a port reads back otherwise");
    }
    return 0;
}
