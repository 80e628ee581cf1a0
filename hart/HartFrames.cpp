// Building the transparent-mode HART frames and reading hex byte text.
#include "hart/HartFrames.h"

#include "hart/HartHeader.h"
#include "tools/Conversions.h"

#include <algorithm>

namespace hart {

namespace {

constexpr uint8_t kShortFrameDelimiter = 0x02;
constexpr uint8_t kLongFrameDelimiter = 0x82;
constexpr uint8_t kMasterBit = 0x80;
constexpr uint8_t kReadUniqueIdentifier = 0x00;
constexpr uint8_t kReadDynamicVariables = 0x03;
constexpr uint8_t kWritePollingAddress = 0x06;

// Converts the preamble text and refuses a length whose frame would not fit the frame area: the
// frame is preamble length + 1 preambles, the body and the check byte.
int32_t PreambleLength(std::string_view text, std::size_t bodyLength) {
    const int32_t length = tools::StrToInt(text);
    const long long longest =
        static_cast<long long>(kMaxFrameLength) - static_cast<long long>(bodyLength) - 2;
    if (length < 0 || length > longest) {
        const std::string range =
            longest < 0 ? std::string("no length fits") : "it must be 0 to " + std::to_string(longest);
        throw tools::InputRefused("Preamble Length " + std::to_string(length) +
                                  " does not fit this frame: " + range + ".");
    }
    return length;
}

void RequireListIndex(int index, int count, std::string_view field) {
    if (index < 0 || index >= count)
        throw tools::InputRefused("Select a " + std::string(field) + " from 0 to " +
                                  std::to_string(count - 1) + " first.");
}

std::vector<uint8_t> Frame(int32_t preambleLength, std::span<const uint8_t> body) {
    std::vector<uint8_t> frame;
    frame.reserve(static_cast<std::size_t>(preambleLength) + body.size() + 2);
    frame.assign(static_cast<std::size_t>(preambleLength) + 1, kHartPreamble);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(CheckByte(body));
    return frame;
}

uint8_t MasterBit(bool master) {
    return master ? kMasterBit : 0x00;
}

// Long-frame body: delimiter, the five address bytes of the stored identity, command, byte count and
// data. The manufacturer byte goes in whole, so its own top bits survive the master bit.
std::vector<uint8_t> LongFrameBody(bool master, const HartIdentity& identity, uint8_t command,
                                   std::span<const uint8_t> data) {
    std::vector<uint8_t> body = {kLongFrameDelimiter,
                                 static_cast<uint8_t>(MasterBit(master) | identity.manufacturer),
                                 identity.deviceType,
                                 identity.deviceId[0],
                                 identity.deviceId[1],
                                 identity.deviceId[2],
                                 command,
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

constexpr std::size_t kLongFrameBodyLength = 8; // without data

// Command 0 in a short frame to a polling address below `addresses`, refused naming `field`.
std::vector<uint8_t> ShortIdentityQuery(std::string_view preambleText, int pollingAddress, int addresses,
                                        std::string_view field, bool master) {
    const int32_t preambles = PreambleLength(preambleText, 4);
    RequireListIndex(pollingAddress, addresses, field);
    const std::array<uint8_t, 4> body = {kShortFrameDelimiter,
                                         static_cast<uint8_t>(MasterBit(master) | pollingAddress),
                                         kReadUniqueIdentifier, 0x00};
    return Frame(preambles, body);
}

} // namespace

HexBytes ParseHexBytes(std::string_view text, int maximum) {
    std::size_t count = text.size() / 3 + (text.size() % 3 == 2 ? 1 : 0);
    count = std::min(count, static_cast<std::size_t>(std::max(maximum, 0)));
    if (count == 0)
        return {{}, std::string(kNoPairsOrSeparator)};
    for (std::size_t k = 1; k < count; ++k) {
        if (text[3 * k - 1] != ' ')
            return {{}, std::string(kNoPairsOrSeparator)};
    }
    HexBytes result;
    bool valid = true;
    for (std::size_t i = 0; i < count; ++i) {
        const int high = tools::UpperHexDigit(text[3 * i]);
        const int low = tools::UpperHexDigit(text[3 * i + 1]);
        valid = valid && high >= 0 && low >= 0;
        result.bytes.push_back(static_cast<uint8_t>(valid ? high * 16 + low : 0));
    }
    if (!valid)
        return {{}, std::string(kBadHexDigit)};
    return result;
}

uint8_t CheckByte(std::span<const uint8_t> bytes) {
    uint8_t check = 0;
    for (uint8_t b : bytes)
        check ^= b;
    return check;
}

std::vector<uint8_t> IdentityQueryFrame(std::string_view preambleText, int addressIndex, bool master) {
    return ShortIdentityQuery(preambleText, addressIndex, kQueryAddressCount, "HART Address", master);
}

std::vector<uint8_t> IdentityQueryFrameAt(std::string_view preambleText, int pollingAddress, bool master) {
    return ShortIdentityQuery(preambleText, pollingAddress, kHighestPollingAddress + 1,
                              "HART polling address", master);
}

std::vector<uint8_t> VariablesQueryFrame(std::string_view preambleText, bool master,
                                         const HartIdentity& identity) {
    const int32_t preambles = PreambleLength(preambleText, kLongFrameBodyLength);
    return Frame(preambles, LongFrameBody(master, identity, kReadDynamicVariables, {}));
}

std::vector<uint8_t> WritePollingAddressFrame(std::string_view preambleText, bool master,
                                              const HartIdentity& identity, int newAddressIndex) {
    const int32_t preambles = PreambleLength(preambleText, kLongFrameBodyLength + 1);
    RequireListIndex(newAddressIndex, kSettableAddressCount, "HART Address in \"HART Address Setting\"");
    const std::array<uint8_t, 1> newAddress = {static_cast<uint8_t>(newAddressIndex)};
    return Frame(preambles, LongFrameBody(master, identity, kWritePollingAddress, newAddress));
}

std::vector<uint8_t> ManualFrame(std::string_view preambleText, std::span<const uint8_t> body) {
    return Frame(PreambleLength(preambleText, body.size()), body);
}

} // namespace hart
