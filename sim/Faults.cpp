// Parsing of the fault switches' control lines.
#include "sim/Faults.h"

#include <charconv>

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
    return "unknown switch '" + std::string(name) + "' (silent, delay, split, corrupt, noise, hangup-after)";
}

std::string Describe(const Faults& faults) {
    return std::string("silent ") + onOff(faults.silent) + ", delay " + std::to_string(faults.delayMs) +
           ", split " + std::to_string(faults.splitMs) + ", corrupt " + onOff(faults.corrupt) + ", noise " +
           onOff(faults.noise) + ", hangup-after " + std::to_string(faults.hangupAfter);
}

} // namespace sim
