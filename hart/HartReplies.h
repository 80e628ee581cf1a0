// Decoding of the instrument's replies to the identity query (command 0) and the variables query
// (command 3), found by a two-byte marker in the latest received block, and the variable value text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hart/HartFrames.h"
#include "hart/UnitTable.h"

namespace hart {

// Second marker byte after the last preamble: the delimiters of the two slave-to-master replies.
inline constexpr uint8_t kIdentityReplyDelimiter = 0x06;
inline constexpr uint8_t kVariablesReplyDelimiter = 0x86;

// Inputs of both decoders:
//  block      the bytes of the latest received block as the receive buffer holds them (at most 604);
//  textLength the length of the received text, min(block length, 255).
// The marker 0xFF <delimiter> is searched at m = 0 .. textLength - 5 (none when textLength < 5), first
// match wins. Fields are read at fixed distances from m; they may lie beyond textLength but never
// beyond the block, so bytes of an earlier block are never shown.

// Position of the 0xFF of the first marker, if any. A textLength above the block's size is taken
// as the block's size.
std::optional<std::size_t> FindReplyMarker(std::span<const uint8_t> block, std::size_t textLength,
                                           uint8_t delimiter);

struct IdentityReply {
    uint8_t manufacturer = 0;
    uint8_t deviceType = 0;
    uint8_t reportedPreambles = 0;
    std::array<uint8_t, 3> deviceId{};
    // Unsigned decimal texts for the four fields; the id as b0 * 65536 + b1 * 256 + b2.
    std::string manufacturerText;
    std::string deviceTypeText;
    std::string reportedPreamblesText;
    std::string deviceIdText;
};

// nullopt when there is no marker or the block ends before the last identification byte (m + 18):
// the window then empties its fields and keeps the stored identity.
std::optional<IdentityReply> DecodeIdentityReply(std::span<const uint8_t> block, std::size_t textLength);

// Copies the decoded identity into the stored one; the identity polling address is left as it is.
void StoreIdentity(const IdentityReply& reply, HartIdentity& identity);

struct HartVariable {
    int unitIndex = kOtherUnitIndex; // entry of UnitEntries()
    std::string valueText;
};

struct VariablesReply {
    // Variables 1..4 in order; nullopt means "keep the fields as they are".
    std::array<std::optional<HartVariable>, 4> variables;
};

// Variable 1 when the marker is found; variables 2..4 while byte count (m + 8) - 11 > 5k for
// k = 0, 1, 2. A variable whose unit and value bytes are not all inside the block stays nullopt,
// and so do variables 2..4 when the byte count is outside the block. No marker: all nullopt.
VariablesReply DecodeVariablesReply(std::span<const uint8_t> block, std::size_t textLength);

// "00000000" when the first byte is 0x7F; otherwise the big-endian single-precision value, widened,
// in tools::GeneralFloatText, cut to its first 9 characters.
std::string FormatHartValue(std::span<const uint8_t, 4> bytes);

} // namespace hart
