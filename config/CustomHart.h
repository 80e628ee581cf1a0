// The converter's own HART polling: the polling parameters ("QQS#HART"), the two read meter commands
// ("QQS#CAMD01:", "QQS#CAMD02:"), the query "QQQ#QX3#" and the decoder of its reply.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace config {

// Item counts of the group's lists.
inline constexpr int kMeterIdItems = 1;         // ComboBox41: "Device 0"
inline constexpr int kEnableItems = 2;          // "0 Close", "1 Open" (ComboBox6, ComboBox28, ComboBox29)
inline constexpr int kHartModeItems = 2;        // ComboBox16: secondary master, master
inline constexpr int kMeterTypeItems = 2;       // ComboBox17: custom, currency
inline constexpr int kPollingPreambleItems = 6; // ComboBox34: "4" .. "9"
inline constexpr int kReadMeterCommands = 2;

// "QQS#HART" m ":" e "," h "," tt "," p "," sss "#" (23 characters), read in frame order: Meter ID,
// Enabled, HART Mode, Meter Type (its index as two digits), Preamble Length (its item "4".."9" as
// that digit), and the buffer clear time text (seconds, tools::StrToInt, 0..999 as three digits).
// A list with no selected item or an index beyond it is refused (tools::InputRefused, naming it by
// its caption), as is a time outside 0..999; a time that does not convert throws
// tools::ConversionError.
std::string hartPollingFrame(int meterIndex, int enableIndex, int modeIndex, int meterTypeIndex,
                             int preambleIndex, std::string_view clearTimeText);

// A read meter command frame, or the hex byte text failure that stops it.
struct ReadMeterCommandFrame {
    std::string frame;   // "QQS#CAMD0c:" e "<" nn "," then the n command bytes raw, no closing "#"
    std::string failure; // "NO SPACK" or "Data eeore!", shown to the user as it stands

    bool ok() const { return failure.empty(); }
};

// Command c = 1 or 2 (std::out_of_range otherwise). The hex text is read first, with
// hart::ParseHexBytes and at most 14 bytes (further pairs are dropped without a message); its failure
// is returned. Then the enable list ("Read Meter Command c") is read: refused like any list.
ReadMeterCommandFrame readMeterCommandFrame(int command, int enableIndex, std::string_view hexText);

// "QQQ#QX3#".
std::string customHartQueryFrame();

// One "CAMD" block of the reply.
struct ReadMeterCommandFields {
    std::optional<int> enable;          // digit -> ComboBox28 / ComboBox29
    std::optional<int> count;           // the byte count n the block announces (not shown)
    std::optional<std::string> command; // the 3n - 1 characters of hex byte text as they stand, empty
                                        // for n = 0, clipped at the end of the text -> Edit4 / Edit5
};

// Reply to "QQQ#QX3#": marker "QX3" and three blocks, each found by its own search over the whole text:
//  - "HART", any character, ":" then enable at 0, mode at 2, meter type at 4..5 (two digits read as
//    one number), preamble digit at 7, buffer clear time at 9..11 after the colon;
//  - "CAMD", any character, "1" (or "2"), ":" then enable at 0, count n at 2..3 (two digits), the
//    command text from 5 on.
// Decoded in that order; apply in member order, then show `error` (fields before the failing one keep
// their values, that one and all later ones are nullopt). List fields hold what the window selects;
// an index beyond its list leaves the list with no selection.
struct CustomHartReply {
    bool markerFound = false;
    std::optional<int> enable;            // -> ComboBox6
    std::optional<int> mode;              // -> ComboBox16
    std::optional<int> meterType;         // 0..99 -> ComboBox17
    std::optional<int> preambleIndex;     // the digit less 4 -> ComboBox34
    std::optional<std::string> clearTime; // 3 characters as they stand -> Edit2
    std::array<ReadMeterCommandFields, kReadMeterCommands> commands;
    std::optional<std::string> error;
};
CustomHartReply decodeCustomHart(std::string_view received);

} // namespace config
