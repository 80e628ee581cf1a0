// The system parameter reply decoder over any received text.
#include "config/TextReplies.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view received = fuzzcheck::asText(data, size);
    const config::SystemParameters reply = config::decodeSystemParameters(received);
    if (!reply.markerFound) {
        check(!reply.slaveAddress && !reply.baud1 && !reply.workingMode && !reply.commandInterval &&
                  !reply.error,
              "QX1: fields without the marker");
        return 0;
    }
    if (reply.slaveAddress) {
        fuzzcheck::checkField(received, *reply.slaveAddress, 3, "QX1: ADR field");
    }
    if (reply.commandInterval) {
        fuzzcheck::checkField(received, *reply.commandInterval, 3, "QX1: JTM field");
    }
    for (const auto& digit : {reply.baud1, reply.parity1, reply.baud2, reply.parity2, reply.workingMode}) {
        check(!digit || (*digit >= 0 && *digit <= 9), "QX1: list digit out of 0..9");
    }
    // An error stops the decoder: nothing after the field that failed carries a value.
    if (reply.error) {
        check(!reply.commandInterval, "QX1: JTM decoded after an error");
    }
    return 0;
}
