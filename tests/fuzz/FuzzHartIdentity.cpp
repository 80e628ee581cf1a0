// The HART identity reply decoder over any received block; the first byte sets the received text's
// length relative to the block, as the window passes min(block, 255) but the decoder must not trust it.
#include "hart/HartReplies.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        hart::DecodeIdentityReply({}, 0);
        return 0;
    }
    const std::span<const uint8_t> block(data + 1, size - 1);
    const std::size_t textLength =
        data[0] == 0xFF ? block.size() + 7 : std::min<std::size_t>(data[0], block.size());
    const auto marker = hart::FindReplyMarker(block, textLength, hart::kIdentityReplyDelimiter);
    if (marker) {
        check(*marker + 1 < block.size(), "identity: marker past the block");
        check(block[*marker] == 0xFF && block[*marker + 1] == hart::kIdentityReplyDelimiter,
              "identity: marker is not FF 06");
    }
    const auto reply = hart::DecodeIdentityReply(block, textLength);
    if (reply) {
        check(marker.has_value(), "identity: decoded without a marker");
        check(reply->manufacturerText == std::to_string(reply->manufacturer), "identity: manufacturer text");
        const uint32_t id =
            (uint32_t{reply->deviceId[0]} << 16) | (uint32_t{reply->deviceId[1]} << 8) | reply->deviceId[2];
        check(reply->deviceIdText == std::to_string(id), "identity: device id text");
        hart::HartIdentity stored;
        stored.pollingAddress = 7;
        hart::StoreIdentity(*reply, stored);
        check(stored.pollingAddress == 7 && stored.deviceId == reply->deviceId, "identity: stored identity");
    }
    return 0;
}
