// HART master-to-slave frames of the transparent mode (identity query, variables query, write polling
// address, manual frame), the stored instrument identity they are addressed by, and hex byte text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hart {

// The identity of the instrument that answered the last identity query. The window owns one instance;
// it stays all zero until the first identity reply, so long frames before it are addressed 80 00 00 00 00.
struct HartIdentity {
    uint8_t manufacturer = 0;
    uint8_t deviceType = 0;
    std::array<uint8_t, 3> deviceId{}; // most significant byte first
    uint8_t reportedPreambles = 0;     // shown only; requests take the preamble length from the field
    uint8_t pollingAddress = 0;        // address the last identity query was sent to
};

// Room for one frame in the send buffer (512 bytes less the 8 that carry the identity).
inline constexpr std::size_t kMaxFrameLength = 504;

// Entries of the two address lists: "0".."9" for the identity query, "0".."8" for the address setting.
inline constexpr int kQueryAddressCount = 10;
inline constexpr int kSettableAddressCount = 9;

// Maximum byte counts accepted from hex byte text: the manual frame and the custom polling commands.
inline constexpr int kManualFrameMaxBytes = 15;
inline constexpr int kCustomCommandMaxBytes = 14;

// Failure texts of ParseHexBytes, shown to the user exactly as they stand.
inline constexpr std::string_view kNoPairsOrSeparator = "NO SPACK";
inline constexpr std::string_view kBadHexDigit = "Data eeore!";

// Result of ParseHexBytes: either bytes (1..maximum of them) and an empty failure, or no bytes and
// the failure text.
struct HexBytes {
    std::vector<uint8_t> bytes;
    std::string failure;

    bool ok() const { return failure.empty(); }
};

// Reads pairs of upper-case hex digits separated by single blanks ("76 89 FD AD"). The pair count is
// length div 3, plus one when length mod 3 = 2, capped at `maximum`; text past the last pair is ignored.
// Fails with kNoPairsOrSeparator when there is no pair or a separator is not a blank, and with
// kBadHexDigit when any digit of the counted pairs is not 0-9 or A-F. Separators are checked first.
HexBytes ParseHexBytes(std::string_view text, int maximum);

// XOR of the bytes: the check byte over delimiter..last data byte (or over the typed bytes).
uint8_t CheckByte(std::span<const uint8_t> bytes);

// Every builder returns the whole frame: preamble length + 1 bytes 0xFF, the body, the check byte.
//
// The preamble text is read with tools::StrToInt; its tools::ConversionError propagates. A negative
// preamble length, or one that makes the frame longer than kMaxFrameLength, throws tools::InputRefused
// naming "Preamble Length" and the range allowed for that frame. A list index outside its list
// (-1 for no selected item) throws tools::InputRefused naming the field.
//
// Order of the checks, the same for every builder: the preamble text is converted, then its range
// checked, then the list index. So a bad preamble text is reported before a missing address, and
// the window may store the identity polling address once the builder has returned.
// `master` is true for "Master Mode": the top bit of the first address byte.

// Command 0 in a short frame to polling address `addressIndex` (0..9).
std::vector<uint8_t> IdentityQueryFrame(std::string_view preambleText, int addressIndex, bool master);

// Command 0 in a short frame to any polling address a HART instrument takes (0..63), as a scan for
// instruments sends it; an address outside throws tools::InputRefused.
inline constexpr int kHighestPollingAddress = 63;
std::vector<uint8_t> IdentityQueryFrameAt(std::string_view preambleText, int pollingAddress, bool master);

// Command 3 in a long frame addressed by the stored identity.
std::vector<uint8_t> VariablesQueryFrame(std::string_view preambleText, bool master,
                                         const HartIdentity& identity);

// Command 6 with the new polling address `newAddressIndex` (0..8) in a long frame addressed by the
// stored identity.
std::vector<uint8_t> WritePollingAddressFrame(std::string_view preambleText, bool master,
                                              const HartIdentity& identity, int newAddressIndex);

// The typed bytes (from ParseHexBytes, which the caller runs first) after the preambles, unchanged,
// followed by their check byte.
std::vector<uint8_t> ManualFrame(std::string_view preambleText, std::span<const uint8_t> body);

} // namespace hart
