// The bench multimeter's SCPI commands.
#include "sim/BenchMeter.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace sim {

namespace {

enum class Action { Identify, Clear, Complete, Measure, NextError, Nothing };

// What a command's parameters may be: none, or the range and resolution of a measurement.
enum class Parameters { None, RangeResolution };

struct Command {
    // Nodes by their long names with the short form in capitals, an optional node in brackets.
    std::string_view header;
    bool query;
    Action action;
    Parameters parameters;
};

constexpr std::array kCommands = {
    Command{"*IDN", true, Action::Identify, Parameters::None},
    Command{"*RST", false, Action::Nothing, Parameters::None}, // it measures DC current only
    Command{"*CLS", false, Action::Clear, Parameters::None},
    Command{"*OPC", true, Action::Complete, Parameters::None},
    Command{"*OPC", false, Action::Nothing, Parameters::None},
    Command{"MEASure:CURRent:[DC]", true, Action::Measure, Parameters::RangeResolution},
    Command{"READ", true, Action::Measure, Parameters::None},
    Command{"CONFigure:CURRent:[DC]", false, Action::Nothing, Parameters::RangeResolution},
    Command{"SYSTem:ERRor:[NEXT]", true, Action::NextError, Parameters::None},
    Command{"SYSTem:REMote", false, Action::Nothing, Parameters::None},
    Command{"SYSTem:LOCal", false, Action::Nothing, Parameters::None},
};

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// `given` (upper case) names the node `pattern` (its short form in capitals): the short or the long form.
bool nodeMatches(std::string_view given, std::string_view pattern) {
    std::string shortForm;
    for (char c : pattern) {
        if (std::isupper(static_cast<unsigned char>(c)) || c == '*') {
            shortForm.push_back(c);
        }
    }
    return given == shortForm || given == upper(pattern);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// The header's nodes (upper case, no leading ":") name the command's header.
bool headerMatches(const std::vector<std::string>& nodes, std::string_view pattern) {
    std::size_t at = 0;
    for (std::string_view node : split(pattern, ':')) {
        const bool optional = node.starts_with('[');
        if (optional) {
            node = node.substr(1, node.size() - 2);
        }
        if (at < nodes.size() && nodeMatches(nodes[at], node)) {
            ++at;
        } else if (!optional) {
            return false;
        }
    }
    return at == nodes.size();
}

bool rangeParameter(std::string_view parameter) {
    const std::string word = upper(parameter);
    for (std::string_view name : {"DEF", "DEFAULT", "MIN", "MINIMUM", "MAX", "MAXIMUM", "AUTO"}) {
        if (word == name) {
            return true;
        }
    }
    std::string_view number = parameter;
    if (number.starts_with('+')) {
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    return error == std::errc() && end == number.data() + number.size() && !number.empty();
}

} // namespace

BenchMeter::BenchMeter(std::string identity, uint32_t seed, double noiseAmps)
    : identity_(std::move(identity)), random_(seed), noise_(0.0, noiseAmps > 0 ? noiseAmps : 1.0),
      noiseAmps_(noiseAmps > 0 ? noiseAmps : 0.0) {}

std::string BenchMeter::receive(std::string_view bytes, const std::function<double()>& measureAmps) {
    std::string out;
    for (char c : bytes) {
        if (c == '\n' || c == '\r') {
            if (!discarding_ && !trimmed(line_).empty()) {
                std::vector<std::string> replies;
                for (std::string_view command : split(line_, ';')) {
                    const uint64_t errorsBefore = errorsPushed_;
                    execute(trimmed(command), replies, measureAmps);
                    if (errorsPushed_ != errorsBefore) {
                        break; // a meter stops reading a line at its first error
                    }
                }
                for (std::size_t i = 0; i < replies.size(); ++i) {
                    out += (i == 0 ? "" : ";") + replies[i];
                }
                if (!replies.empty()) {
                    out += "\r\n";
                }
            }
            line_.clear();
            discarding_ = false;
        } else if (discarding_) {
            continue;
        } else if (line_.size() >= kMaxLine) {
            pushError({-223, "Too much data"});
            line_.clear();
            discarding_ = true;
        } else {
            line_.push_back(c);
        }
    }
    return out;
}

void BenchMeter::execute(std::string_view command, std::vector<std::string>& replies,
                         const std::function<double()>& measureAmps) {
    if (command.empty()) {
        return;
    }
    const std::size_t blank = command.find_first_of(kBlanks);
    std::string_view header = command.substr(0, blank);
    const std::string_view parameterText =
        blank == std::string_view::npos ? "" : trimmed(command.substr(blank));
    const bool query = header.ends_with('?');
    if (query) {
        header.remove_suffix(1);
    }
    if (header.starts_with(':')) {
        header.remove_prefix(1);
    }
    std::vector<std::string> nodes;
    for (std::string_view node : split(header, ':')) {
        nodes.push_back(upper(node));
    }
    const Command* found = nullptr;
    for (const Command& candidate : kCommands) {
        if (candidate.query == query && headerMatches(nodes, candidate.header)) {
            found = &candidate;
            break;
        }
    }
    if (!found) {
        pushError({-113, "Undefined header"});
        return;
    }
    if (!parameterText.empty()) {
        const std::vector<std::string_view> parameters = split(parameterText, ',');
        if (found->parameters == Parameters::None || parameters.size() > 2) {
            pushError({-108, "Parameter not allowed"});
            return;
        }
        for (std::string_view parameter : parameters) {
            if (!rangeParameter(trimmed(parameter))) {
                pushError({-224, "Illegal parameter value"});
                return;
            }
        }
    }
    switch (found->action) {
    case Action::Identify:
        replies.push_back(identity_);
        break;
    case Action::Clear:
        errors_.clear();
        break;
    case Action::Complete:
        replies.push_back("1");
        break;
    case Action::Measure:
        replies.push_back(reading(measureAmps));
        break;
    case Action::NextError: {
        char text[96];
        if (errors_.empty()) {
            std::snprintf(text, sizeof text, "+0,\"No error\"");
        } else {
            std::snprintf(text, sizeof text, "%+d,\"%s\"", errors_.front().code, errors_.front().text);
            errors_.pop_front();
        }
        replies.emplace_back(text);
        break;
    }
    case Action::Nothing:
        break;
    }
}

void BenchMeter::pushError(Error error) {
    ++errorsPushed_;
    if (errors_.size() >= kErrorQueueDepth) {
        errors_.back() = {-350, "Queue overflow"};
        return;
    }
    errors_.push_back(error);
}

std::string BenchMeter::reading(const std::function<double()>& measureAmps) {
    double amps = measureAmps ? measureAmps() : 0.0;
    if (noiseAmps_ > 0) {
        amps += noise_(random_);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%+.5E", amps);
    return text;
}

} // namespace sim
