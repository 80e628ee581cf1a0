// The simulated HART instrument.
#include "sim/Instrument.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

constexpr uint8_t kMasterToSlave = 0x02;
constexpr uint8_t kSlaveToMaster = 0x06;
constexpr uint8_t kLongAddress = 0x80;
constexpr uint8_t kMasterBit = 0x80;
constexpr uint8_t kLoopCurrentFixed = 0x08; // field device status bit
constexpr float kRangeKiloPascal = 200.0F;

void appendFloat(std::string& out, float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((bits >> shift) & 0xFF));
    }
}

double drift(double seconds, double period) {
    return std::sin(2 * std::numbers::pi * seconds / period);
}

} // namespace

std::optional<HartFrameParts> SplitHartFrame(std::string_view frame) {
    std::size_t i = 0;
    while (i < frame.size() && static_cast<uint8_t>(frame[i]) == 0xFF) {
        ++i;
    }
    if (i == 0 || i == frame.size()) {
        return std::nullopt;
    }
    HartFrameParts parts;
    parts.delimiter = static_cast<uint8_t>(frame[i]);
    const std::size_t addressLength = (parts.delimiter & kLongAddress) ? 5 : 1;
    const std::size_t header = i + 1 + addressLength + 2;
    if (frame.size() < header + 1) {
        return std::nullopt;
    }
    const std::size_t count = static_cast<uint8_t>(frame[header - 1]);
    if (frame.size() != header + count + 1) {
        return std::nullopt;
    }
    if (CheckByte(frame.substr(i, frame.size() - 1 - i)) != static_cast<uint8_t>(frame.back())) {
        return std::nullopt;
    }
    parts.address = std::string(frame.substr(i + 1, addressLength));
    parts.command = static_cast<uint8_t>(frame[header - 2]);
    parts.data = std::string(frame.substr(header, count));
    return parts;
}

uint8_t CheckByte(std::string_view body) {
    uint8_t check = 0;
    for (char c : body) {
        check ^= static_cast<uint8_t>(c);
    }
    return check;
}

std::string WithPreamblesAndCheck(std::string_view body, std::size_t preambles) {
    std::string frame(preambles, '\xFF');
    frame.append(body);
    frame.push_back(static_cast<char>(CheckByte(body)));
    return frame;
}

std::array<DynamicVariable, 4> Instrument::variables(double seconds) const {
    const float pressure = static_cast<float>(101.3 + 2.5 * drift(seconds, 120));
    return {{
        {unit::KiloPascal, pressure},
        {unit::DegreeCelsius, static_cast<float>(24.5 + 0.5 * drift(seconds, 300))},
        {unit::CubicMetrePerHour, static_cast<float>(12.5 + 0.8 * drift(seconds, 90))},
        {unit::Percent, pressure / kRangeKiloPascal * 100.0F},
    }};
}

float Instrument::loopCurrent(double seconds) const {
    // A multidrop instrument (any polling address but 0) parks its current at 4 mA.
    if (pollingAddress_ != 0) {
        return 4.0F;
    }
    return 4.0F + 16.0F * variables(seconds)[0].value / kRangeKiloPascal;
}

bool Instrument::setPollingAddress(uint8_t address) {
    if (address > kMaxPollingAddressHart6) {
        return false;
    }
    if (address > kMaxPollingAddress) {
        identity_.universalRevision = 7;
    }
    pollingAddress_ = address;
    return true;
}

std::optional<std::string> Instrument::handle(std::string_view frame, double seconds) {
    const std::optional<HartFrameParts> request = SplitHartFrame(frame);
    if (!request || (request->delimiter & 0x7F) != kMasterToSlave) {
        return std::nullopt;
    }
    const bool longFrame = request->delimiter & kLongAddress;
    const auto addressByte = [&](std::size_t i) { return static_cast<uint8_t>(request->address[i]); };
    const uint8_t masterBit = addressByte(0) & kMasterBit;
    std::string replyAddress;
    if (longFrame) {
        const bool ours = (addressByte(0) & 0x3F) == (identity_.manufacturer & 0x3F) &&
                          addressByte(1) == identity_.deviceType &&
                          addressByte(2) == ((identity_.deviceId >> 16) & 0xFF) &&
                          addressByte(3) == ((identity_.deviceId >> 8) & 0xFF) &&
                          addressByte(4) == (identity_.deviceId & 0xFF);
        if (!ours) {
            return std::nullopt;
        }
        replyAddress = request->address;
        replyAddress[0] = static_cast<char>(masterBit | (identity_.manufacturer & 0x3F));
    } else {
        if ((addressByte(0) & 0x3F) != pollingAddress_) {
            return std::nullopt;
        }
        replyAddress.push_back(static_cast<char>(masterBit | pollingAddress_));
    }

    const std::string data = commandData(request->command, request->data, seconds);
    std::string body;
    body.push_back(static_cast<char>(longFrame ? (kLongAddress | kSlaveToMaster) : kSlaveToMaster));
    body += replyAddress;
    body.push_back(static_cast<char>(request->command));
    body.push_back(static_cast<char>(data.size()));
    body += data;
    return WithPreamblesAndCheck(body, identity_.preambles);
}

std::string Instrument::commandData(uint8_t command, std::string_view requestData, double seconds) {
    std::string data;
    const auto status = [&](uint8_t responseCode) {
        data.push_back(static_cast<char>(responseCode));
        data.push_back(static_cast<char>(pollingAddress_ != 0 ? kLoopCurrentFixed : 0));
    };
    const std::array<DynamicVariable, 4> vars = variables(seconds);
    switch (command) {
    case 0: // identity
        status(response::Success);
        data.push_back(static_cast<char>(0xFE));
        data.push_back(static_cast<char>(identity_.manufacturer));
        data.push_back(static_cast<char>(identity_.deviceType));
        data.push_back(static_cast<char>(identity_.preambles));
        data.push_back(static_cast<char>(identity_.universalRevision));
        data.push_back(static_cast<char>(identity_.deviceRevision));
        data.push_back(static_cast<char>(identity_.softwareRevision));
        data.push_back(static_cast<char>(0x08)); // hardware revision 1, Bell 202 current signalling
        data.push_back(0);                       // flags
        data.push_back(static_cast<char>((identity_.deviceId >> 16) & 0xFF));
        data.push_back(static_cast<char>((identity_.deviceId >> 8) & 0xFF));
        data.push_back(static_cast<char>(identity_.deviceId & 0xFF));
        break;
    case 1: // primary variable
        status(response::Success);
        data.push_back(static_cast<char>(vars[0].unitCode));
        appendFloat(data, vars[0].value);
        break;
    case 2: // loop current and percent of range
        status(response::Success);
        appendFloat(data, loopCurrent(seconds));
        appendFloat(data, vars[3].value);
        break;
    case 3: // loop current and the four dynamic variables
        status(response::Success);
        appendFloat(data, loopCurrent(seconds));
        for (const DynamicVariable& v : vars) {
            data.push_back(static_cast<char>(v.unitCode));
            appendFloat(data, v.value);
        }
        break;
    case 6: { // write polling address
        if (requestData.empty()) {
            status(response::TooFewDataBytes);
            break;
        }
        const uint8_t address = static_cast<uint8_t>(requestData[0]);
        const uint8_t highest = identity_.universalRevision >= 6 ? kMaxPollingAddressHart6 : kMaxPollingAddress;
        if (address > highest) {
            status(response::InvalidSelection);
        } else {
            pollingAddress_ = address;
            status(response::Success);
        }
        data.push_back(static_cast<char>(address));
        break;
    }
    default:
        status(response::CommandNotImplemented);
        break;
    }
    return data;
}

} // namespace sim
