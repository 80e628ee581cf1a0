// Frame builders of the converter's text command set.
#include "config/TextCommands.h"

#include <stdexcept>

#include "tools/Conversions.h"

namespace config {

void checkAnalogOutput(int output) {
    if (output < 0 || output >= kAnalogOutputs) {
        throw std::out_of_range("analog output " + std::to_string(output) + " does not exist");
    }
}

std::string queryFrame(std::string_view key) {
    return std::string("QQQ#").append(key).append("#");
}

std::string setFrame(std::string_view key, std::string_view value) {
    return std::string("QQS#").append(key).append(":").append(value).append("#");
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
    return setFrame("ADR", decimalDigits(addressText, 3, "MODBUS Slave Address"));
}

std::string commandIntervalFrame(std::string_view intervalText) {
    return setFrame("JTM", decimalDigits(intervalText, 3, "Modbus Command Interval"));
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
    checkAnalogOutput(output);
    std::string value;
    value += listDigit(variableIndex, {"DOUTA" + std::to_string(output), output == 2 ? 9 : 10});
    value += ',';
    value += floatHex(tools::StrToSingle(upperText));
    value += ',';
    value += floatHex(tools::StrToSingle(lowerText));
    return setFrame("DA" + std::to_string(output + 1), value);
}

std::string totalizerOutputFrame(int totalizerIndex) {
    return setFrame("DL", std::string(1, listDigit(totalizerIndex, {"Totalizer Output", kTotalizerItems})));
}

std::string outputTestFrame(int output, std::string_view valueText) {
    checkAnalogOutput(output);
    return queryFrame("AV" + std::to_string(output) + "O:" + std::string(valueText));
}

std::string totalizerTestFrame(std::string_view valueText) {
    return queryFrame("LEIO:" + tools::FormatZeroPadded(tools::StrToInt(valueText), "000000000"));
}

} // namespace config
