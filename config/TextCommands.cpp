// Frame builders of the converter's text command set.
#include "config/TextCommands.h"

#include <stdexcept>

#include "tools/Conversions.h"

namespace config {

namespace {

void checkOutput(int output) {
    if (output < 0 || output >= kAnalogOutputs) {
        throw std::out_of_range("analog output " + std::to_string(output) + " does not exist");
    }
}

// Three digits refused outside 0..999, the width the ADR and JTM values have.
std::string threeDigits(std::string_view text, std::string_view caption) {
    return decimalDigits(text, 3, caption);
}

} // namespace

int analogOutputItemCount(int output) {
    checkOutput(output);
    return output == 2 ? 9 : 10;
}

std::string queryFrame(std::string_view key) {
    return std::string("QQQ#").append(key).append("#");
}

std::string setFrame(std::string_view key, std::string_view value) {
    return std::string("QQS#").append(key).append(":").append(value).append("#");
}

std::string testFrame(std::string_view key, std::string_view value) {
    return queryFrame(std::string(key).append(":").append(value));
}

std::string communicationQueryFrame() {
    return queryFrame("QV");
}

std::string systemParameterQueryFrame() {
    return queryFrame("QX1");
}

std::string analogOutputQueryFrame() {
    return queryFrame("QX2");
}

std::string testValueQueryFrame() {
    return queryFrame("QX6");
}

std::string workingModeFrame(int modeIndex) {
    return setFrame("MD", std::string(1, listDigit(modeIndex, {"Working Mode", kWorkingModeItems})));
}

std::string slaveAddressFrame(std::string_view addressText) {
    return setFrame("ADR", threeDigits(addressText, "MODBUS Slave Address"));
}

std::string commandIntervalFrame(std::string_view intervalText) {
    return setFrame("JTM", threeDigits(intervalText, "Modbus Command Interval"));
}

std::string rs485Frame(Rs485Port port, int baudIndex, int parityIndex) {
    const bool portB = port == Rs485Port::Rs485B;
    std::string value;
    value += listDigit(baudIndex, {portB ? "RS485B Baud" : "RS485 Baud", kBaudItems});
    value += listDigit(parityIndex, {portB ? "RS485B Parity" : "RS485 Parity", kParityItems});
    return setFrame(portB ? "BA2" : "BA1", value);
}

std::string parameterInitializationFrame() {
    // The one set command without a value.
    return "QQS#RESET#";
}

std::string factoryRecordFrame(std::string_view serialText, std::string_view inspectorText) {
    std::string frame = "TAVRIK#PCBSN:";
    frame += decimalDigits(serialText, 8, "PCBSN");
    frame += ',';
    frame += decimalDigits(inspectorText, 3, "Inspector");
    frame += '#';
    return frame;
}

std::string analogOutputFrame(int output, int variableIndex, std::string_view upperText,
                              std::string_view lowerText) {
    checkOutput(output);
    const std::string caption = "DOUTA" + std::to_string(output);
    std::string value;
    value += listDigit(variableIndex, {caption, analogOutputItemCount(output)});
    value += ',';
    value += floatHex(singleFromText(upperText));
    value += ',';
    value += floatHex(singleFromText(lowerText));
    return setFrame("DA" + std::to_string(output + 1), value);
}

std::string totalizerOutputFrame(int totalizerIndex) {
    return setFrame("DL", std::string(1, listDigit(totalizerIndex, {"Totalizer Output", kTotalizerItems})));
}

std::string outputTestFrame(int output, std::string_view valueText) {
    checkOutput(output);
    return testFrame("AV" + std::to_string(output) + "O", valueText);
}

std::string totalizerTestFrame(std::string_view valueText) {
    return testFrame("LEIO", tools::FormatZeroPadded(tools::StrToInt(valueText), "000000000"));
}

} // namespace config
