// Finding parameters and reading typed values.
#include "profile/Parameters.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <vector>

#include "config/ParseFormat.h"
#include "hart/HartFrames.h"
#include "tools/Conversions.h"
#include "tools/Utf8Text.h"

namespace profile {

namespace {

std::string cased(std::string_view text, bool upper) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        c = static_cast<char>(upper ? std::toupper(byte) : std::tolower(byte));
    }
    return out;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(begin, text.find_last_not_of(' ') - begin + 1));
}

// The choices' texts, separated by commas.
template <class Text> std::string choicesText(const Parameter& p, Text text) {
    std::string out;
    for (const Choice& c : p.choices) {
        out += (out.empty() ? "" : ", ") + text(c);
    }
    return out;
}

[[noreturn]] void refuse(const Parameter& p, std::string_view typed, std::string_view why) {
    throw BadValue(std::string(p.name) + ": " + Quoted(typed) + " " + std::string(why));
}

std::string integerValue(const Parameter& p, std::string_view typed) {
    int32_t value = 0;
    try {
        value = tools::StrToInt(typed);
    } catch (const tools::ConversionError&) {
        refuse(p, typed, "is not a whole number (" + ValuesText(p) + ")");
    }
    if (value < p.minimum || value > p.maximum) {
        refuse(p, typed, "is outside " + ValuesText(p));
    }
    return std::to_string(value);
}

std::string choiceValue(const Parameter& p, std::string_view typed) {
    const std::string wanted = cased(trimmed(typed), false);
    for (const Choice& c : p.choices) {
        if (wanted == cased(c.name, false) || wanted == cased(c.label, false)) {
            return std::string(c.name);
        }
    }
    refuse(p, typed, "is not one of " + ValuesText(p));
}

// "0x41A40000": a single's 32-bit pattern, in either letter case.
std::optional<uint32_t> floatPattern(std::string_view text) {
    uint32_t pattern = 0;
    if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
        std::from_chars(text.data() + 2, text.data() + 10, pattern, 16).ptr != text.data() + 10) {
        return std::nullopt;
    }
    return pattern;
}

std::string floatValue(const Parameter& p, std::string_view typed) {
    float value = 0;
    if (const auto pattern = floatPattern(trimmed(typed))) {
        value = std::bit_cast<float>(*pattern);
    } else {
        try {
            value = tools::StrToSingle(typed);
        } catch (const tools::ConversionError& error) {
            refuse(p, typed, std::string("is not a number the converter can hold (") + error.what() + ")");
        }
    }
    std::string text = tools::ShortestSingleText(value);
    if (text.empty()) {
        refuse(p, typed, "is not a finite number, which the set command cannot carry");
    }
    return text;
}

std::string coefficientValue(const Parameter& p, std::string_view typed) {
    const std::string_view text = typed;
    double number = 0;
    try {
        number = tools::StrToFloat(text);
    } catch (const tools::ConversionError&) {
        refuse(p, typed, "is not a number");
    }
    if (text.size() == config::kCoefficientWidth && text.find(' ') == std::string_view::npos) {
        return std::string(text);
    }
    // Shorter numbers are written out to the five characters the converter reads, when that keeps
    // their value: "1.5" is "1.500", "2" is "2.000".
    std::string padded = trimmed(text);
    if (padded.size() < config::kCoefficientWidth && padded.find_first_of("eE") == std::string::npos) {
        if (padded.find('.') == std::string::npos) {
            padded += '.';
        }
        padded.append(config::kCoefficientWidth - padded.size(), '0');
        if (padded.size() == config::kCoefficientWidth && tools::StrToFloat(padded) == number) {
            return padded;
        }
    }
    refuse(p, typed, "is not five characters; the converter reads exactly five (for example 1.000)");
}

std::string hexBytesValue(const Parameter& p, std::string_view typed) {
    // Read every pair, so that a text too long is refused rather than cut.
    constexpr int kAnyCount = 1000;
    const std::string upper = cased(trimmed(typed), true);
    const hart::HexBytes parsed = hart::ParseHexBytes(upper, kAnyCount);
    std::string text = parsed.ok() ? tools::BytesToHexText(parsed.bytes) : std::string();
    if (!text.empty()) {
        text.pop_back(); // the blank after the last pair
    }
    if (!parsed.ok() || text != upper) {
        refuse(p, typed, "is not hex byte text: pairs of hex digits separated by single blanks (82 26 03)");
    }
    if (parsed.bytes.size() > static_cast<std::size_t>(hart::kCustomCommandMaxBytes)) {
        refuse(p, typed,
               "holds more than the " + std::to_string(hart::kCustomCommandMaxBytes) +
                   " bytes a read meter command takes");
    }
    return text;
}

} // namespace

std::size_t ParameterCount() {
    return Parameters().size();
}

std::size_t ParameterIndex(std::string_view name) {
    const std::string wanted = cased(name, false);
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        if (Parameters()[i].name == wanted) {
            return i;
        }
    }
    std::string message = "unknown parameter " + Quoted(name);
    // Suggest the names that share the part before or after the dot ("ao9.variable": ao0.variable...).
    const auto split = [](std::string_view n) {
        const auto dot = n.find('.');
        return dot == std::string_view::npos ? std::pair{n, std::string_view()}
                                             : std::pair{n.substr(0, dot), n.substr(dot + 1)};
    };
    const auto [head, tail] = split(name);
    std::vector<std::string_view> similar;
    for (const Parameter& p : Parameters()) {
        const auto [pHead, pTail] = split(p.name);
        if ((!head.empty() && pHead == head) || (!tail.empty() && pTail == tail)) {
            similar.push_back(p.name);
        }
    }
    if (!similar.empty() && similar.size() <= 9) {
        message += " (did you mean ";
        for (std::size_t i = 0; i < similar.size(); ++i) {
            message += (i == 0 ? "" : ", ") + std::string(similar[i]);
        }
        message += "?)";
    }
    message += "; 'vx538 params' lists them all";
    throw BadValue(message);
}

std::string CanonicalValue(const Parameter& parameter, std::string_view typed) {
    switch (parameter.kind) {
    case Kind::Integer:
        return integerValue(parameter, typed);
    case Kind::Choice:
    case Kind::NumericChoice:
        return choiceValue(parameter, typed);
    case Kind::Float:
        return floatValue(parameter, typed);
    case Kind::Coefficient:
        return coefficientValue(parameter, typed);
    case Kind::HexBytes:
        return hexBytesValue(parameter, typed);
    case Kind::Text:
        return std::string(typed);
    }
    return std::string(typed);
}

std::string Quoted(std::string_view text) {
    bool cut = false;
    const std::string shown = tools::EchoText(text, &cut);
    if (!cut) {
        return "'" + shown + "'";
    }
    // The cut's note goes after the closing quote, so the quotes hold only what was typed.
    const std::string note = " (" + std::to_string(text.size()) + " bytes)";
    return "'" + shown.substr(0, shown.size() - note.size()) + "'" + note;
}

std::optional<int> ChoiceIndex(const Parameter& parameter, std::string_view value) {
    const auto& c = parameter.choices;
    const auto it =
        std::find_if(c.begin(), c.end(), [&](const Choice& choice) { return choice.name == value; });
    return it == c.end() ? std::nullopt : std::optional<int>(static_cast<int>(it - c.begin()));
}

std::string ValuesText(const Parameter& p) {
    switch (p.kind) {
    case Kind::Integer:
        return std::to_string(p.minimum) + ".." + std::to_string(p.maximum);
    case Kind::Choice:
    case Kind::NumericChoice:
        return choicesText(p, [](const Choice& c) { return std::string(c.name); });
    case Kind::Float:
        return "a single-precision number (or its pattern, 0x42C80000)";
    case Kind::Coefficient:
        return "a number of five characters";
    case Kind::HexBytes:
        return "1 to 14 bytes as hex byte text";
    case Kind::Text:
        return "as reported";
    }
    return {};
}

std::string ParametersMarkdown() {
    std::string out =
        "# Converter parameters\n\n"
        "Generated by `vx538 params --markdown` from the parameter table that `vx538` and the "
        "window share; do not edit by hand.\n\n"
        "Names and values are those of `vx538 get`, `vx538 set NAME=VALUE` and of configuration "
        "files. Choice names may be typed in any letter case, and so may the window's item texts "
        "(in quotes below). Query is the query that reports the value.\n\n"
        "| Name | Values | Meaning | Query |\n|---|---|---|---|\n";
    const auto withLabel = [](const Choice& c) {
        return "`" + std::string(c.name) + "` (\"" + std::string(c.label) + "\")";
    };
    for (const Parameter& p : Parameters()) {
        std::string values = p.kind == Kind::Choice ? choicesText(p, withLabel) : ValuesText(p);
        if (!p.unit.empty()) {
            values += " (" + std::string(p.unit) + ")";
        }
        out += "| `" + std::string(p.name) + "` | " + values + " | " + std::string(p.description) + " | " +
               std::string(QueryKey(p.query)) + (p.restorable ? "" : ", not restored") + " |\n";
    }
    return out;
}

} // namespace profile
