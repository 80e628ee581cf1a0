// Parsing of the fault switches' control lines.
#include "sim/Faults.h"

#include <charconv>
#include <cstdio>

namespace sim {

namespace {

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

const char* onOff(bool value) {
    return value ? "on" : "off";
}

// A whole text read as a number with "." as the separator; a leading "+" is part of writing one.
bool readNumber(std::string_view text, double& value) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return false;
        }
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// An output number, 0 to 7.
bool readOutput(std::string_view text, int& output) {
    if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + kOutputs) {
        return false;
    }
    output = text[0] - '0';
    return true;
}

// "N:VALUE" for output N, VALUE within [low, high].
std::string applyTrim(std::array<OutputTrim, kOutputs>& outputs, std::string_view name,
                      std::string_view argument, double OutputTrim::*member, double low, double high) {
    const std::size_t colon = argument.find(':');
    int output = 0;
    double value = 0;
    if (colon == std::string_view::npos || !readOutput(argument.substr(0, colon), output) ||
        !readNumber(argument.substr(colon + 1), value) || !(value >= low && value <= high)) {
        char range[64];
        std::snprintf(range, sizeof range, " from %g to %g", low, high);
        return std::string(name) + " takes N:VALUE, N an output 0 to 7 and VALUE a number" + range;
    }
    outputs[output].*member = value;
    return {};
}

} // namespace

std::string ApplyControl(Faults& faults, std::string_view line) {
    line = trimmed(line);
    const std::size_t blank = line.find(' ');
    const std::string_view name = line.substr(0, blank);
    const std::string_view argument = blank == std::string_view::npos ? "" : trimmed(line.substr(blank));

    bool* flag = name == "silent"    ? &faults.silent
                 : name == "corrupt" ? &faults.corrupt
                 : name == "noise"   ? &faults.noise
                                     : nullptr;
    if (flag) {
        if (argument != "on" && argument != "off") {
            return std::string(name) + " takes on or off";
        }
        *flag = argument == "on";
        return {};
    }
    int* number = name == "delay"          ? &faults.delayMs
                  : name == "split"        ? &faults.splitMs
                  : name == "hangup-after" ? &faults.hangupAfter
                                           : nullptr;
    if (number) {
        int value = 0;
        const auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), value);
        if (error != std::errc() || end != argument.data() + argument.size() || value < 0 || value > 600000) {
            return std::string(name) + " takes a whole number from 0 to 600000";
        }
        *number = value;
        return {};
    }
    if (name == "output-error") {
        return applyTrim(faults.outputs, name, argument, &OutputTrim::offsetMa, -16.0, 16.0);
    }
    if (name == "output-gain") {
        return applyTrim(faults.outputs, name, argument, &OutputTrim::gain, 0.5, 2.0);
    }
    if (name == "meter-output") {
        return readOutput(argument, faults.meterOutput) ? "" : "meter-output takes an output 0 to 7";
    }
    return "unknown switch '" + std::string(name) +
           "' (silent, delay, split, corrupt, noise, hangup-after, output-error, output-gain, meter-output)";
}

std::string Describe(const Faults& faults) {
    std::string description = std::string("silent ") + onOff(faults.silent) + ", delay " +
                              std::to_string(faults.delayMs) + ", split " + std::to_string(faults.splitMs) +
                              ", corrupt " + onOff(faults.corrupt) + ", noise " + onOff(faults.noise) +
                              ", hangup-after " + std::to_string(faults.hangupAfter);
    for (int n = 0; n < kOutputs; ++n) {
        const OutputTrim& trim = faults.outputs[n];
        char text[64];
        if (trim.offsetMa != 0.0) {
            std::snprintf(text, sizeof text, ", output-error %d:%g", n, trim.offsetMa);
            description += text;
        }
        if (trim.gain != 1.0) {
            std::snprintf(text, sizeof text, ", output-gain %d:%g", n, trim.gain);
            description += text;
        }
    }
    return description + ", meter-output " + std::to_string(faults.meterOutput);
}

} // namespace sim
