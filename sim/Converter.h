// The simulated VX538-T-B: its parameters with their factory values, the answers to the text command
// set, the HART instrument behind it (passed through in transparent mode, polled by the converter
// for its eight process variables) and the holding registers it publishes. Plain C++, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/Instrument.h"
#include "sim/Outputs.h"

namespace sim {

inline constexpr int kVariables = 8;
// Registers 40001 to 40018: two reserved ones, then variable n at 40001 + 2n.
inline constexpr int kHoldingRegisters = 18;

// Values are kept in the characters the command set carries them in, so what is set is exactly what
// a query reports.
struct AnalogOutput {
    char variable = '0'; // '0' closed, '1'..'8' the variable driving it
    uint32_t upper = 0;  // IEEE-754 single pattern of the value at 20 mA
    uint32_t lower = 0;  // ... at 4 mA
};

struct MeterCommand {
    char enabled = '0';
    std::string bytes; // the HART frame body (delimiter to data) the converter polls with
};

struct ParseFormat {
    char byteOrder = '0';              // '0' FF4 FF3 FF2 FF1, '1' FF2 FF1 FF4 FF3
    std::string address = "00";        // offset of the value in the reply's data, status bytes included
    char length = '0';                 // '0' four bytes (single), '1' eight bytes (double)
    std::string coefficient = "1.000"; // five characters
};

struct HartPolling {
    char enabled = '1';
    char mode = '1'; // '0' secondary master, '1' master
    std::string meterType = "00";
    char preambles = '5';          // '4'..'9'
    std::string clearTime = "010"; // seconds
};

struct Settings {
    std::string slaveAddress = "001";
    std::array<char, 2> baud = {'3', '3'};   // RS485 and RS485B: 9600
    std::array<char, 2> parity = {'0', '0'}; // None
    char workingMode = '0';                  // Transparent Mode
    std::string commandInterval = "010";     // x 10 ms
    std::array<AnalogOutput, kOutputs> outputs;
    char totalizerOutput = '0';
    HartPolling hartPolling;
    std::array<MeterCommand, 2> meterCommands;
    std::array<ParseFormat, kVariables> parseFormats;
    char addressBit = '8';

    static Settings Factory();
};

// Last values the output tests drove, reported by the test-value query.
struct TestValues {
    int64_t totalizer = 0;
    std::array<double, kOutputs> outputs{};
};

struct FactoryRecord {
    std::string serial = "00000000";
    std::string inspector = "001";
};

class Converter {
public:
    Converter();

    // One complete text frame ("QQS#ADR:005#", "QQQ#QX1#", a read meter command...). Returns the
    // reply: the query's parameter block, or the acknowledgement "<head><key>:OK#" for a command it
    // took and "<head><key>:ERR#" for one it refused (nothing changes then).
    std::string handleText(std::string_view frame);

    // A HART frame passed through to the instrument; its reply, or nothing when it does not answer.
    std::optional<std::string> handleHart(std::string_view frame, double seconds);

    // The eight process variables at `seconds`: read from the instrument with the two read meter
    // commands (variables 1-4 from command 1, 5-8 from command 2) and the parse formats. A variable
    // whose command is off or unanswered, or whose value lies beyond the reply, is 0.
    std::array<float, kVariables> processVariables(double seconds);
    std::array<uint16_t, kHoldingRegisters> holdingRegisters(double seconds);

    // The current analog output `output` (0 for DOUTA0) is meant to drive at `seconds`, in mA, before
    // the error of its stage: in test current output mode its test value through its range; in the
    // other modes its variable through its range. Nothing for a closed output, and for DOUTA4 to
    // DOUTA7 while they serve as the totalizer output.
    std::optional<double> outputTarget(int output, double seconds);

    uint8_t slaveAddress() const;
    const Settings& settings() const { return settings_; }
    const TestValues& testValues() const { return testValues_; }
    const FactoryRecord& factoryRecord() const { return factoryRecord_; }
    Instrument& instrument() { return instrument_; }

private:
    bool set(std::string_view key, std::string_view value);
    bool test(std::string_view key, std::string_view value);
    std::optional<std::string> query(std::string_view key) const;
    std::optional<std::string> pollData(int command, double seconds);

    Settings settings_ = Settings::Factory();
    TestValues testValues_;
    FactoryRecord factoryRecord_;
    Instrument instrument_;
};

} // namespace sim
