// The analog output reply decoder over any received text; the first byte chooses the totalizer item
// the user had selected before the reply (no selection included).
#include "config/TextReplies.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        config::decodeAnalogOutputs({}, 0);
        return 0;
    }
    const int currentTotalizer = static_cast<int>(data[0] % 11) - 1; // -1 .. 9
    const std::string_view received = fuzzcheck::asText(data + 1, size - 1);
    const config::AnalogOutputs reply = config::decodeAnalogOutputs(received, currentTotalizer);
    if (reply.totalizerOutput) {
        check(*reply.totalizerOutput >= 0 && *reply.totalizerOutput <= 9, "QX2: DL digit out of 0..9");
    }
    if (reply.lastRowsState == config::LastRows::Closed) {
        for (const auto& row : reply.lastRows) {
            check(!row, "QX2: last rows read while the totalizer closes them");
        }
    }
    for (int output = 0; output < 8; ++output) {
        const auto& row = reply.row(output);
        if (row) {
            check(row->variable >= 0 && row->variable <= 9, "QX2: variable digit out of 0..9");
            check(row->upperText.size() <= 5 && row->lowerText.size() <= 5, "QX2: range text over 5");
        }
    }
    return 0;
}
