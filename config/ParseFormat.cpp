// The HART data parsing format commands and the decoder of their query's reply.
#include "config/ParseFormat.h"

#include <stdexcept>

#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "config/ValueEncodings.h"
#include "tools/Conversions.h"

namespace config {

namespace {

// Distances inside one variable's value, counted from the first character after its tag's colon.
constexpr std::size_t kFormatAt = 0;
constexpr std::size_t kAddressAt = 2;
constexpr std::size_t kLengthAt = 5;
constexpr std::size_t kCoefficientAt = 7;

} // namespace

std::string parseFormatFrame(int variable, int formatIndex, std::string_view addressText, int lengthIndex,
                             std::string_view coefficientText) {
    if (variable < 1 || variable > kParseVariables) {
        throw std::out_of_range("parse format variable " + std::to_string(variable) + " does not exist");
    }
    // Variables 1 to 4 come from the converter's first HART command, 5 to 8 from its second.
    const std::string row =
        "Command " + std::to_string(variable <= 4 ? 1 : 2) + " Variable " + std::to_string(variable);
    std::string value;
    value += listDigit(formatIndex, {row + " MODBUS Format", kParseFormatItems});
    value += ',';
    value += decimalDigits(addressText, 2, row + " Address");
    value += ',';
    value += listDigit(lengthIndex, {row + " Length", variable == 2 || variable == 3 ? 3 : 2});
    value += ',';
    if (coefficientText.size() < kCoefficientWidth) {
        throw tools::InputRefused(row + " Coefficient must have at least five characters; exactly five are "
                                        "sent (for example 1.000)");
    }
    value += coefficientText.substr(0, kCoefficientWidth);
    return setFrame("MDBS" + std::to_string(variable), value);
}

std::string addressBitFrame(int addressBitIndex) {
    return setFrame("MDL",
                    std::string(1, offsetListDigit(addressBitIndex, {"Address Bit", kAddressBitItems})));
}

std::string parseFormatQueryFrame() {
    return queryFrame("QX4");
}

ParseFormatReply decodeParseFormat(std::string_view received) {
    ParseFormatReply result;
    result.markerFound = containsMarker(received, "QX4");
    if (!result.markerFound) {
        return result;
    }
    try {
        if (const auto start = findTag(received, "MDL:")) {
            result.addressBitIndex = listDigitAt(received, *start) - 4;
        }
        for (int variable = 1; variable <= kParseVariables; ++variable) {
            const auto start = findPattern(received, "MDBS?" + std::to_string(variable) + ":");
            if (!start) {
                continue;
            }
            ParseFormatRow& row = result.rows[static_cast<std::size_t>(variable - 1)];
            row.format = listDigitAt(received, *start + kFormatAt);
            row.address = clippedText(received, *start + kAddressAt, 2);
            row.length = listDigitAt(received, *start + kLengthAt);
            row.coefficient = clippedText(received, *start + kCoefficientAt, kCoefficientWidth);
        }
    } catch (const tools::ConversionError& error) {
        result.error = error.what();
    }
    return result;
}

} // namespace config
