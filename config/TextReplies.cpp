// Reading the converter's text replies by marker and tags, and the decoders of the QX1, QX6 and QX2
// blocks.
#include "config/TextReplies.h"

#include <stdexcept>

#include "config/TextCommands.h"
#include "config/ValueEncodings.h"
#include "tools/Conversions.h"

namespace config {

namespace {

// Distances inside one analog output row, counted from the first character after "DAn:".
constexpr std::size_t kRowVariable = 0;
constexpr std::size_t kRowUpper = 2;
constexpr std::size_t kRowLower = 11;

} // namespace

std::optional<AnalogOutputRow> decodeAnalogOutputRow(std::string_view received, int output) {
    checkAnalogOutput(output);
    const auto start = findTag(received, "DA" + std::to_string(output + 1) + ":");
    if (!start) {
        return std::nullopt;
    }
    AnalogOutputRow row;
    row.variable = listDigitAt(received, *start + kRowVariable);
    row.upperHex = clippedText(received, *start + kRowUpper, 8);
    row.lowerHex = clippedText(received, *start + kRowLower, 8);
    row.upper = floatFromHex(row.upperHex);
    row.lower = floatFromHex(row.lowerHex);
    row.upperText = rangeDisplayText(row.upper);
    row.lowerText = rangeDisplayText(row.lower);
    return row;
}

bool containsMarker(std::string_view received, std::string_view marker) {
    return received.find(marker) != std::string_view::npos;
}

std::optional<std::size_t> findTag(std::string_view received, std::string_view tag) {
    const std::size_t at = received.find(tag);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return at + tag.size();
}

std::optional<std::size_t> findPattern(std::string_view received, std::string_view pattern) {
    if (pattern.empty() || pattern.size() > received.size()) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at + pattern.size() <= received.size(); ++at) {
        std::size_t i = 0;
        while (i < pattern.size() && (pattern[i] == '?' || pattern[i] == received[at + i])) {
            ++i;
        }
        if (i == pattern.size()) {
            return at + pattern.size();
        }
    }
    return std::nullopt;
}

std::string clippedText(std::string_view received, std::size_t pos, std::size_t width) {
    if (pos >= received.size()) {
        return {};
    }
    return std::string(received.substr(pos, width));
}

std::optional<std::string> tagText(std::string_view received, std::string_view tag, std::size_t width) {
    const auto start = findTag(received, tag);
    if (!start) {
        return std::nullopt;
    }
    return clippedText(received, *start, width);
}

int listDigitAt(std::string_view received, std::size_t pos) {
    return decimalAt(received, pos, 1);
}

int decimalAt(std::string_view received, std::size_t pos, std::size_t width) {
    const std::string characters = clippedText(received, pos, width);
    bool digits = characters.size() == width;
    for (const char c : characters) {
        digits = digits && c >= '0' && c <= '9';
    }
    if (!digits) {
        // The runtime's integer conversion message, with what stands there. A zero byte would end the
        // message text right after its opening quote, so it is named as "\0" instead.
        std::string shown;
        for (const char c : characters) {
            shown += c == '\0' ? std::string("\\0") : std::string(1, c);
        }
        throw tools::ConversionError("'" + shown + "' is not a valid integer value");
    }
    int value = 0;
    for (const char c : characters) {
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string rangeDisplayText(float value) {
    return tools::GeneralFloatText(static_cast<double>(value)).substr(0, 5);
}

SystemParameters decodeSystemParameters(std::string_view received) {
    SystemParameters result;
    result.markerFound = containsMarker(received, "QX1");
    if (!result.markerFound) {
        return result;
    }
    try {
        result.slaveAddress = tagText(received, "ADR:", 3);
        if (const auto start = findTag(received, "BA1:")) {
            result.baud1 = listDigitAt(received, *start);
            result.parity1 = listDigitAt(received, *start + 1);
        }
        if (const auto start = findTag(received, "BA2:")) {
            result.baud2 = listDigitAt(received, *start);
            result.parity2 = listDigitAt(received, *start + 1);
        }
        if (const auto start = findTag(received, "MD:")) {
            result.workingMode = listDigitAt(received, *start);
        }
        result.commandInterval = tagText(received, "JTM:", 3);
    } catch (const tools::ConversionError& error) {
        result.error = error.what();
    }
    return result;
}

TestValues decodeTestValues(std::string_view received) {
    TestValues result;
    result.markerFound = containsMarker(received, "QX6");
    if (!result.markerFound) {
        return result;
    }
    result.totalizer = tagText(received, "LJ:", 9);
    for (std::size_t i = 0; i < result.outputs.size(); ++i) {
        result.outputs[i] = tagText(received, "VA" + std::to_string(i) + ":", 5);
    }
    return result;
}

const std::optional<AnalogOutputRow>& AnalogOutputs::row(int output) const {
    checkAnalogOutput(output);
    const auto index = static_cast<std::size_t>(output);
    return index < firstRows.size() ? firstRows[index] : lastRows[index - firstRows.size()];
}

AnalogOutputs decodeAnalogOutputs(std::string_view received, int currentTotalizerIndex) {
    AnalogOutputs result;
    result.markerFound = containsMarker(received, "QX2");
    if (!result.markerFound) {
        return result;
    }
    try {
        int totalizerIndex = currentTotalizerIndex;
        if (const auto start = findTag(received, "DL:")) {
            result.totalizerOutput = listDigitAt(received, *start);
            // A digit beyond LEJIOUT's items leaves it with no selection, which is "not 0".
            totalizerIndex =
                *result.totalizerOutput < kTotalizerItems ? *result.totalizerOutput : kNoSelection;
        }
        for (std::size_t i = 0; i < result.firstRows.size(); ++i) {
            result.firstRows[i] = decodeAnalogOutputRow(received, static_cast<int>(i));
        }
        // While a totalizer output is active the converter drives the last four outputs itself, so
        // their rows are shown closed and whatever the reply holds for them is not read.
        if (totalizerIndex != 0) {
            result.lastRowsState = LastRows::Closed;
            return result;
        }
        result.lastRowsState = LastRows::Enabled;
        for (std::size_t i = 0; i < result.lastRows.size(); ++i) {
            result.lastRows[i] = decodeAnalogOutputRow(received, static_cast<int>(i) + 4);
        }
    } catch (const tools::ConversionError& error) {
        result.error = error.what();
    }
    return result;
}

} // namespace config
