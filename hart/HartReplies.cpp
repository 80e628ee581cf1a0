// Decoding the identity and dynamic-variables replies of the instrument, and the variable value text.
#include "hart/HartReplies.h"

#include "hart/UniversalCommands.h"
#include "tools/Conversions.h"

#include <algorithm>
#include <bit>

namespace hart {

namespace {

using hart::FieldKind;

constexpr uint8_t kMarkerStart = 0xFF;
// The search never starts a marker in the last four bytes of the received text.
constexpr std::size_t kMarkerTail = 4;

// Distances from the marker (the last preamble) to the reply's data: the delimiter, a short (1-byte) or
// long (5-byte) address, the command and the byte count come first. The fields are where the
// universal commands' table puts them in the data.
constexpr std::size_t kShortReplyDataAt = 5;
constexpr std::size_t kLongReplyDataAt = 9;
constexpr std::size_t identityAt(FieldKind kind) {
    return kShortReplyDataAt + static_cast<std::size_t>(OffsetOf(0, kind));
}
constexpr std::size_t kManufacturerAt = identityAt(FieldKind::Manufacturer);
constexpr std::size_t kDeviceTypeAt = identityAt(FieldKind::DeviceType);
constexpr std::size_t kPreamblesAt = identityAt(FieldKind::Preambles);
constexpr std::size_t kDeviceIdAt = identityAt(FieldKind::DeviceId);
constexpr std::size_t kByteCountAt = kLongReplyDataAt - 1;
// The first variable's unit code, then four value bytes; the next variable follows.
constexpr std::size_t kFirstVariableAt = kLongReplyDataAt + static_cast<std::size_t>(OffsetOf(3, FieldKind::UnitCode));
constexpr std::size_t kVariableStride = 5;
// Byte count of a reply that carries only the first variable.
constexpr int kFirstVariableByteCount = static_cast<int>(kFirstVariableAt - kLongReplyDataAt + kVariableStride);
static_assert(kManufacturerAt == 8 && kDeviceIdAt == 16 && kFirstVariableAt == 15 && kFirstVariableByteCount == 11);

// Bytes [position, position + count) all lie inside the block.
bool Inside(std::span<const uint8_t> block, std::size_t position, std::size_t count) {
    return position + count <= block.size();
}

std::optional<HartVariable> VariableIfInside(std::span<const uint8_t> block, std::size_t unitPosition) {
    if (!Inside(block, unitPosition, kVariableStride))
        return std::nullopt;
    return HartVariable{UnitIndex(block[unitPosition]),
                        FormatHartValue(block.subspan(unitPosition + 1).first<4>())};
}

} // namespace

std::optional<std::size_t> FindReplyMarker(std::span<const uint8_t> block, std::size_t textLength,
                                           uint8_t delimiter) {
    const std::size_t length = std::min(textLength, block.size());
    if (length <= kMarkerTail)
        return std::nullopt;
    for (std::size_t m = 0; m < length - kMarkerTail; ++m) {
        if (block[m] == kMarkerStart && block[m + 1] == delimiter)
            return m;
    }
    return std::nullopt;
}

std::optional<IdentityReply> DecodeIdentityReply(std::span<const uint8_t> block, std::size_t textLength) {
    const auto m = FindReplyMarker(block, textLength, kIdentityReplyDelimiter);
    if (!m || !Inside(block, *m + kDeviceIdAt, 3))
        return std::nullopt;
    IdentityReply reply;
    reply.manufacturer = block[*m + kManufacturerAt];
    reply.deviceType = block[*m + kDeviceTypeAt];
    reply.reportedPreambles = block[*m + kPreamblesAt];
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(*m + kDeviceIdAt), 3, reply.deviceId.begin());
    reply.manufacturerText = std::to_string(reply.manufacturer);
    reply.deviceTypeText = std::to_string(reply.deviceType);
    reply.reportedPreamblesText = std::to_string(reply.reportedPreambles);
    const uint32_t id =
        (uint32_t{reply.deviceId[0]} << 16) | (uint32_t{reply.deviceId[1]} << 8) | reply.deviceId[2];
    reply.deviceIdText = std::to_string(id);
    return reply;
}

void StoreIdentity(const IdentityReply& reply, HartIdentity& identity) {
    identity.manufacturer = reply.manufacturer;
    identity.deviceType = reply.deviceType;
    identity.reportedPreambles = reply.reportedPreambles;
    identity.deviceId = reply.deviceId;
}

VariablesReply DecodeVariablesReply(std::span<const uint8_t> block, std::size_t textLength) {
    VariablesReply reply;
    const auto m = FindReplyMarker(block, textLength, kVariablesReplyDelimiter);
    if (!m)
        return reply;
    reply.variables[0] = VariableIfInside(block, *m + kFirstVariableAt);
    if (!Inside(block, *m + kByteCountAt, 1))
        return reply;
    // Signed: a byte count below 11 announces no further variable rather than wrapping around.
    const int byteCount = block[*m + kByteCountAt];
    for (std::size_t k = 0; k + 1 < reply.variables.size(); ++k) {
        if (byteCount - kFirstVariableByteCount <= static_cast<int>(kVariableStride * k))
            break;
        reply.variables[k + 1] = VariableIfInside(block, *m + kFirstVariableAt + kVariableStride * (k + 1));
    }
    return reply;
}

std::string FormatHartValue(std::span<const uint8_t, 4> bytes) {
    // A first byte of 0x7F covers HART's not-a-number, infinity and the largest finite values alike.
    if (bytes[0] == 0x7F)
        return "00000000";
    const uint32_t bits =
        (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    const double value = std::bit_cast<float>(bits);
    std::string text = tools::GeneralFloatText(value);
    if (text.size() > 9)
        text.resize(9);
    return text;
}

} // namespace hart
