// The converter's HART polling commands and the decoder of their query's reply.
#include "config/CustomHart.h"

#include <stdexcept>

#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "config/ValueEncodings.h"
#include "hart/HartFrames.h"
#include "tools/Conversions.h"

namespace config {

namespace {

// Distances after the colon of the "HART?:" block.
constexpr std::size_t kEnableAt = 0;
constexpr std::size_t kModeAt = 2;
constexpr std::size_t kMeterTypeAt = 4;
constexpr std::size_t kPreambleAt = 7;
constexpr std::size_t kClearTimeAt = 9;
// Distances after the colon of a "CAMD?c:" block.
constexpr std::size_t kCommandEnableAt = 0;
constexpr std::size_t kCountAt = 2;
constexpr std::size_t kCommandTextAt = 5;

} // namespace

std::string hartPollingFrame(int meterIndex, int enableIndex, int modeIndex, int meterTypeIndex,
                             int preambleIndex, std::string_view clearTimeText) {
    std::string frame = "QQS#HART";
    frame += listDigit(meterIndex, {"Meter ID", kMeterIdItems});
    frame += ':';
    frame += listDigit(enableIndex, {"Enabled", kEnableItems});
    frame += ',';
    frame += listDigit(modeIndex, {"HART Mode", kHartModeItems});
    frame += ',';
    // The meter type goes out as two digits; with fewer than ten items the first is always "0".
    static_assert(kMeterTypeItems <= 10);
    frame += '0';
    frame += listDigit(meterTypeIndex, {"Meter Type", kMeterTypeItems});
    frame += ',';
    frame += offsetListDigit(preambleIndex, {"Preamble Length", kPollingPreambleItems});
    frame += ',';
    frame += decimalDigits(clearTimeText, 3, "Buffer Clear Time");
    frame += '#';
    return frame;
}

ReadMeterCommandFrame readMeterCommandFrame(int command, int enableIndex, std::string_view hexText) {
    if (command < 1 || command > kReadMeterCommands) {
        throw std::out_of_range("read meter command " + std::to_string(command) + " does not exist");
    }
    const hart::HexBytes bytes = hart::ParseHexBytes(hexText, hart::kCustomCommandMaxBytes);
    if (!bytes.ok()) {
        return {{}, bytes.failure};
    }
    std::string frame = "QQS#CAMD0" + std::to_string(command) + ":";
    frame += listDigit(enableIndex, {"Read Meter Command " + std::to_string(command), kEnableItems});
    frame += '<';
    frame += tools::FormatZeroPadded(static_cast<int32_t>(bytes.bytes.size()), "00"); // 1..14
    frame += ',';
    frame.append(bytes.bytes.begin(), bytes.bytes.end());
    return {frame, {}};
}

std::string customHartQueryFrame() {
    return queryFrame("QX3");
}

CustomHartReply decodeCustomHart(std::string_view received) {
    CustomHartReply result;
    result.markerFound = containsMarker(received, "QX3");
    if (!result.markerFound) {
        return result;
    }
    try {
        if (const auto start = findPattern(received, "HART?:")) {
            result.enable = listDigitAt(received, *start + kEnableAt);
            result.mode = listDigitAt(received, *start + kModeAt);
            result.meterType = decimalAt(received, *start + kMeterTypeAt, 2);
            result.preambleIndex = listDigitAt(received, *start + kPreambleAt) - 4;
            result.clearTime = clippedText(received, *start + kClearTimeAt, 3);
        }
        for (int command = 1; command <= kReadMeterCommands; ++command) {
            if (const auto start = findPattern(received, "CAMD?" + std::to_string(command) + ":")) {
                ReadMeterCommandFields& fields = result.commands[static_cast<std::size_t>(command - 1)];
                fields.enable = listDigitAt(received, *start + kCommandEnableAt);
                fields.count = decimalAt(received, *start + kCountAt, 2);
                const auto count = static_cast<std::size_t>(*fields.count);
                // n pairs with a blank between each two: 3n - 1 characters, none for n = 0.
                fields.command = count == 0 ? std::string()
                                            : clippedText(received, *start + kCommandTextAt, 3 * count - 1);
            }
        }
    } catch (const tools::ConversionError& error) {
        result.error = error.what();
    }
    return result;
}

} // namespace config
