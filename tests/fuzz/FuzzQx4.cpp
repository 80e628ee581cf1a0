// The HART data parsing format reply decoder over any received text.
#include "config/ParseFormat.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view received = fuzzcheck::asText(data, size);
    const config::ParseFormatReply reply = config::decodeParseFormat(received);
    check(reply.markerFound || (!reply.addressBitIndex && !reply.error), "QX4: fields without the marker");
    if (reply.addressBitIndex) {
        check(*reply.addressBitIndex >= -4 && *reply.addressBitIndex <= 5, "QX4: address bit digit");
    }
    bool stopped = false;
    for (const config::ParseFormatRow& row : reply.rows) {
        for (const auto& digit : {row.format, row.length}) {
            check(!digit || (*digit >= 0 && *digit <= 9), "QX4: list digit out of 0..9");
        }
        if (row.address) {
            fuzzcheck::checkField(received, *row.address, 2, "QX4: address field");
        }
        if (row.coefficient) {
            fuzzcheck::checkField(received, *row.coefficient, config::kCoefficientWidth, "QX4: coefficient");
        }
        // Once a row stops short of its coefficient because of an error, no later row carries a value.
        const bool any = row.format || row.address || row.length || row.coefficient;
        check(!(stopped && any), "QX4: a row decoded after the error");
        if (reply.error && any && !row.coefficient) {
            stopped = true;
        }
    }
    return 0;
}
