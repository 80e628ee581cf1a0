// The HART field instrument behind the simulated converter: a pressure transmitter that answers
// commands 0, 1, 2, 3 and 6 at its polling address (short frames) or its unique address (long
// frames), reports response code 64 for every other command, and stays silent for frames that are
// not addressed to it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

struct InstrumentIdentity {
    uint8_t manufacturer = 0x26;
    uint8_t deviceType = 0x0C;
    uint32_t deviceId = 0x0A1B2C; // 24 bits
    uint8_t preambles = 5;        // the number it asks for, and sends in its own replies
    uint8_t universalRevision = 5;
    uint8_t deviceRevision = 1;
    uint8_t softwareRevision = 3;
};

struct DynamicVariable {
    uint8_t unitCode = 0;
    float value = 0;
};

// HART engineering-unit codes the instrument reports.
namespace unit {
inline constexpr uint8_t KiloPascal = 12;
inline constexpr uint8_t DegreeCelsius = 32;
inline constexpr uint8_t CubicMetrePerHour = 19;
inline constexpr uint8_t Percent = 57;
} // namespace unit

// Response codes of the first status byte.
namespace response {
inline constexpr uint8_t Success = 0;
inline constexpr uint8_t InvalidSelection = 2;
inline constexpr uint8_t TooFewDataBytes = 5;
inline constexpr uint8_t CommandNotImplemented = 64;
} // namespace response

class Instrument {
public:
    // The highest polling address a HART 5 instrument takes, and one of HART 6 or later.
    static constexpr uint8_t kMaxPollingAddress = 15;
    static constexpr uint8_t kMaxPollingAddressHart6 = 63;

    const InstrumentIdentity& identity() const { return identity_; }
    uint8_t pollingAddress() const { return pollingAddress_; }
    // The address it was installed at (vx538-sim --hart-address). Beyond 15 only a HART 6 or later
    // instrument can answer, so the instrument then reports universal revision 7. Returns false, and
    // changes nothing, for an address beyond 63.
    bool setPollingAddress(uint8_t address);

    // The four dynamic variables `seconds` after power-up: pressure, temperature, flow and the
    // pressure's percent of range. They drift slowly, so two reads a moment apart differ a little.
    std::array<DynamicVariable, 4> variables(double seconds) const;
    // Loop current in mA: 4 to 20 over the pressure range, fixed at 4 mA at a non-zero polling address.
    float loopCurrent(double seconds) const;

    // A complete master frame (preambles, delimiter, address, command, byte count, data, check byte).
    // Returns the reply frame, or nothing when the frame is not a master request for this instrument
    // or its check byte is wrong.
    std::optional<std::string> handle(std::string_view frame, double seconds);

    void reset() { pollingAddress_ = 0; }

private:
    std::string commandData(uint8_t command, std::string_view requestData, double seconds);

    InstrumentIdentity identity_;
    uint8_t pollingAddress_ = 0;
};

// The data of a HART frame (response code and status included for a reply), or nothing when the
// bytes are not one frame with a good check byte.
struct HartFrameParts {
    uint8_t delimiter = 0;
    std::string address;
    uint8_t command = 0;
    std::string data;
};
std::optional<HartFrameParts> SplitHartFrame(std::string_view frame);

// The check byte of a HART frame body (delimiter to last data byte): the XOR of its bytes.
uint8_t CheckByte(std::string_view body);

// Preambles, then the body, then its check byte.
std::string WithPreamblesAndCheck(std::string_view body, std::size_t preambles);

} // namespace sim
