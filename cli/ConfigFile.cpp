// Port lines and configuration files.
#include "cli/ConfigFile.h"

#include <algorithm>
#include <cctype>

#include "mqtt/Addressing.h"
#include "tools/Utf8Text.h"

namespace cli {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::string shown(std::string_view text) {
    return tools::Utf8Text(text.substr(0, 80)) + (text.size() > 80 ? "..." : "");
}

bool optionName(std::string_view word) {
    return !word.empty() && std::islower(static_cast<unsigned char>(word[0])) &&
           std::all_of(word.begin(), word.end(), [](unsigned char c) {
               return std::islower(c) || std::isdigit(c) || c == '-';
           });
}

} // namespace

PortLineReading ReadPortLine(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return {std::nullopt, "holds a NUL byte, which no port name can hold"};
    }
    text = trimmed(text.substr(0, text.find('#')));
    if (text.empty()) {
        return {};
    }
    const auto blank = text.find_first_of(kBlanks);
    if (blank == std::string_view::npos) {
        return {PortLine{{}, std::string(text)}, {}};
    }
    const std::string_view first = text.substr(0, blank);
    if (first.find('/') != std::string_view::npos) {
        return {PortLine{{}, std::string(text)}, {}};
    }
    if (!mqtt::ConverterNameProblem(first).empty()) {
        return {std::nullopt, "names its port \"" + shown(first) +
                                  "\", which is not 1 to 64 letters, digits, '-', '_' and '.' (a line is PORT, or "
                                  "NAME PORT)"};
    }
    return {PortLine{std::string(first), std::string(trimmed(text.substr(blank)))}, {}};
}

ConfigReading ReadConfigText(std::string_view text) {
    ConfigReading reading;
    int number = 0;
    const auto refuse = [&](const std::string& why) {
        reading = {};
        reading.error = "line " + std::to_string(number) + ": " + why;
        return reading;
    };
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (raw.size() > 4096) {
            return refuse("longer than 4096 bytes");
        }
        if (raw.find('\0') != std::string_view::npos) {
            return refuse("it holds a NUL byte");
        }
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto keyEnd = std::min(line.find_first_of(kBlanks), line.find('='));
        const std::string_view key = line.substr(0, keyEnd);
        std::string_view value = keyEnd == std::string_view::npos ? std::string_view() : trimmed(line.substr(keyEnd));
        if (!value.empty() && value.front() == '=') {
            value = trimmed(value.substr(1));
        }
        if (!optionName(key)) {
            return refuse("\"" + shown(key) + "\" is not the name of an option (mqtt, interval, port...)");
        }
        if (key == "port") {
            const PortLineReading port = ReadPortLine(value);
            if (!port.error.empty()) {
                return refuse("the port line " + port.error);
            }
            if (!port.line) {
                return refuse("a port line names no port");
            }
            reading.ports.push_back(*port.line);
            continue;
        }
        if (key == "config") {
            return refuse("a configuration file cannot name another one");
        }
        if (std::any_of(reading.options.begin(), reading.options.end(),
                        [&](const ConfigOption& o) { return o.name == key; })) {
            return refuse(std::string(key) + " is given twice");
        }
        reading.options.push_back(
            {std::string(key), value.empty() ? std::nullopt : std::optional<std::string>(std::string(value))});
    }
    return reading;
}

} // namespace cli
