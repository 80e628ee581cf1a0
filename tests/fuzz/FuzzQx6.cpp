// The test-value reply decoder over any received text.
#include "config/TextReplies.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view received = fuzzcheck::asText(data, size);
    const config::TestValues reply = config::decodeTestValues(received);
    fuzzcheck::check(reply.markerFound || !reply.totalizer, "QX6: field without the marker");
    if (reply.totalizer) {
        fuzzcheck::checkField(received, *reply.totalizer, 9, "QX6: LJ field");
    }
    for (const auto& output : reply.outputs) {
        if (output) {
            fuzzcheck::checkField(received, *output, 5, "QX6: VAn field");
        }
    }
    return 0;
}
