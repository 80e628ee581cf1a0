// The custom HART polling reply decoder over any received text.
#include "config/CustomHart.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view received = fuzzcheck::asText(data, size);
    const config::CustomHartReply reply = config::decodeCustomHart(received);
    check(reply.markerFound || (!reply.enable && !reply.clearTime && !reply.error),
          "QX3: fields without the marker");
    for (const auto& digit : {reply.enable, reply.mode}) {
        check(!digit || (*digit >= 0 && *digit <= 9), "QX3: list digit out of 0..9");
    }
    check(!reply.meterType || (*reply.meterType >= 0 && *reply.meterType <= 99), "QX3: meter type");
    check(!reply.preambleIndex || (*reply.preambleIndex >= -4 && *reply.preambleIndex <= 5),
          "QX3: preamble digit");
    if (reply.clearTime) {
        fuzzcheck::checkField(received, *reply.clearTime, 3, "QX3: buffer clear time");
    }
    for (const config::ReadMeterCommandFields& command : reply.commands) {
        check(!command.enable || (*command.enable >= 0 && *command.enable <= 9), "QX3: command enable");
        if (command.command) {
            fuzzcheck::checkField(received, *command.command, 3 * 99 - 1, "QX3: command bytes");
        }
    }
    return 0;
}
