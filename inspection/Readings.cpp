// A bench meter's reply and a readings file, read strictly: a reading is a number or nothing.
#include "inspection/Readings.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "inspection/Currents.h"

namespace inspection {

namespace {

// SCPI's values for a reading beyond the range and for no number.
constexpr double kOverload = 9.9e37;
constexpr double kNotANumber = 9.91e37;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string lineError(std::size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

int outputOf(std::string_view field) {
    for (const std::string_view prefix : {"DOUTA", "douta", "AO", "ao"}) {
        if (field.starts_with(prefix)) {
            field.remove_prefix(prefix.size());
            break;
        }
    }
    if (field.size() != 1 || field[0] < '0' || field[0] > '7') {
        return -1;
    }
    return field[0] - '0';
}

} // namespace

MeterReading ReadMeterReply(std::string_view reply) {
    const std::string_view text = trimmed(reply);
    if (text.empty()) {
        return {{}, "the meter's reply is empty"};
    }
    const std::optional<double> amps = ReadNumber(text);
    if (!amps) {
        return {{}, "the meter's reply '" + MeterText(reply) + "' is no reading"};
    }
    if (std::abs(*amps) >= kNotANumber * 0.9995 && std::abs(*amps) <= kNotANumber * 1.0005) {
        return {{}, "the meter reports no number (9.91E37)"};
    }
    if (std::abs(*amps) >= kOverload * 0.9995) {
        return {{}, "the meter reports an overload (9.9E37): a broken loop or the wrong range"};
    }
    return {*amps * 1000.0, {}};
}

std::string MeterText(std::string_view reply) {
    std::string text;
    const std::string_view shown = trimmed(reply);
    for (const char c : shown) {
        if (shown.size() > 120 && text.size() == 117) {
            text += "...";
            break;
        }
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return text;
}

std::pair<int, long long> Readings::key(int output, double pointMa) {
    return {output, std::llround(pointMa * 1000.0)};
}

void Readings::add(int output, double pointMa, double readingMa) {
    readings_[key(output, pointMa)] = readingMa;
}

std::optional<double> Readings::find(int output, double pointMa) const {
    const auto it = readings_.find(key(output, pointMa));
    return it == readings_.end() ? std::nullopt : std::optional(it->second);
}

Readings ReadReadingsFile(std::string_view text) {
    Readings readings;
    std::size_t number = 0;
    bool dataSeen = false;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::vector<std::string_view> fields;
        std::size_t start = 0;
        while (true) {
            const std::size_t cut = line.find_first_of(",;\t", start);
            fields.push_back(trimmed(line.substr(start, cut == std::string_view::npos ? cut : cut - start)));
            if (cut == std::string_view::npos) {
                break;
            }
            start = cut + 1;
        }
        if (fields.size() != 3) {
            throw ReadingsError(lineError(number, "expected three fields (output,point,mA), found " +
                                                      std::to_string(fields.size())));
        }
        const int output = outputOf(fields[0]);
        const std::optional<double> point = ReadNumber(fields[1]);
        const std::optional<double> reading = ReadNumber(fields[2]);
        if (output < 0 && !point && !reading && !dataSeen) {
            continue; // the header
        }
        dataSeen = true;
        if (output < 0) {
            throw ReadingsError(lineError(number, "'" + MeterText(fields[0]) +
                                                      "' is no output (0 to 7, or DOUTA0 to DOUTA7)"));
        }
        if (!point || *point < 4.0 || *point > 20.0) {
            throw ReadingsError(
                lineError(number, "'" + MeterText(fields[1]) + "' is no point from 4 to 20 mA"));
        }
        if (!reading) {
            throw ReadingsError(lineError(number, "'" + MeterText(fields[2]) + "' is no reading in mA"));
        }
        if (readings.find(output, *point)) {
            throw ReadingsError(lineError(number, "DOUTA" + std::to_string(output) + " at " + MaText(*point) +
                                                      " mA is given twice"));
        }
        readings.add(output, *point, *reading);
    }
    return readings;
}

} // namespace inspection
