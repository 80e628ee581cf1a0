// Frame builders of the converter's text command set: each takes list indexes and field texts as the
// window holds them and returns exactly the bytes to send.
#pragma once

#include <string>
#include <string_view>

#include "config/ValueEncodings.h"

namespace config {

// Failures, common to every builder:
//  - tools::ConversionError with the runtime's message when a typed text does not convert
//    ("'%s' is not a valid integer value", "'%s' is not a valid floating point value",
//    "Floating point overflow");
//  - tools::InputRefused, naming the field by its caption, when a value converts but the frame cannot
//    carry it: a number outside its range, a list with no selected item (kNoSelection) or an index
//    beyond the list.
// Fields are read in the order their characters stand in the frame, so the first bad one is reported.

// Item counts of the lists the frames read.
inline constexpr int kWorkingModeItems = 4; // the fourth item is empty and still sends "3"
inline constexpr int kBaudItems = 6;        // 1200 .. 38400
inline constexpr int kParityItems = 3;      // None, Odd, Even
inline constexpr int kTotalizerItems = 9;   // LEJIOUT: "0 Close" and variables 1..8
inline constexpr int kAnalogOutputs = 8;    // rows "DOUTA0:" .. "DOUTA7:"
// An analog output outside 0..7 is a programming error: std::out_of_range.
void checkAnalogOutput(int output);

// The frame forms of queries and set commands.
std::string queryFrame(std::string_view key);                       // "QQQ#" key "#"
std::string setFrame(std::string_view key, std::string_view value); // "QQS#" key ":" value "#"

// Queries.
std::string communicationQueryFrame();   // "QQQ#QV#"
std::string systemParameterQueryFrame(); // "QQQ#QX1#"
std::string analogOutputQueryFrame();    // "QQQ#QX2#"
std::string testValueQueryFrame();       // "QQQ#QX6#"

// "QQS#MD:d#"; `modeIndex` 0..3 of "Working Mode".
std::string workingModeFrame(int modeIndex);

// "QQS#ADR:ddd#"; the text of "MODBUS Slave Address", 0..999.
std::string slaveAddressFrame(std::string_view addressText);

// "QQS#JTM:ddd#"; the text of "Modbus Command Interval" (units of 10 ms), 0..999.
std::string commandIntervalFrame(std::string_view intervalText);

enum class Rs485Port {
    Rs485 = 1,  // key "BA1", lists BRAT1 / XIAO1, captions "RS485 Baud" / "RS485 Parity"
    Rs485B = 2, // key "BA2", lists BRAT2 / XIAO2, captions "RS485B Baud" / "RS485B Parity"
};

// "QQS#BAn:bp#"; baud index 0..5, then parity index 0..2.
std::string rs485Frame(Rs485Port port, int baudIndex, int parityIndex);

// "QQS#RESET#".
std::string parameterInitializationFrame();

// "TAVRIK#PCBSN:" + 8 digits + "," + 3 digits + "#": the text of "PCBSN" (0..99999999), then the
// text of "Inspector" (JIANZHI's text, typed or picked; 0..999).
std::string factoryRecordFrame(std::string_view serialText, std::string_view inspectorText);

// "QQS#DAn:v,hhhhhhhh,hhhhhhhh#" (28 characters) for row "DOUTA<output>:", output 0..7, key
// DA<output + 1>. Read in frame order: the variable list (caption "DOUTA<output>"; refused at
// kNoSelection or beyond its items: 10, the tenth empty and sending "9", except 9 for row "DOUTA2:"),
// then the 20 mA text, then the 4 mA text, each as tools::StrToSingle in floatHex. So a missing selection is
// refused before either range text is looked at, and a bad 20 mA text is reported even when the 4 mA text is
// bad too.
std::string analogOutputFrame(int output, int variableIndex, std::string_view upperText,
                              std::string_view lowerText);

// "QQS#DL:d#"; index 0..8 of "Totalizer Output" (LEJIOUT).
std::string totalizerOutputFrame(int totalizerIndex);

// "QQQ#AVnO:" + text + "#" for the test of output n = 0..7: the text goes out unchanged, even empty.
std::string outputTestFrame(int output, std::string_view valueText);

// "QQQ#LEIO:" + the text as tools::StrToInt formatted with "000000000" + "#". Any 32-bit value
// (a negative one gives "-000000005"); only a text that does not convert fails.
std::string totalizerTestFrame(std::string_view valueText);

} // namespace config
