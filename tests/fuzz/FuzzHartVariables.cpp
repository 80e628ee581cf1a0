// The HART dynamic variables reply decoder over any received block, with the received text's length
// chosen by the first byte, and the value text of any four bytes.
#include "hart/HartReplies.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        hart::DecodeVariablesReply({}, 0);
        return 0;
    }
    const std::span<const uint8_t> block(data + 1, size - 1);
    const std::size_t textLength =
        data[0] == 0xFF ? block.size() + 7 : std::min<std::size_t>(data[0], block.size());
    const hart::VariablesReply reply = hart::DecodeVariablesReply(block, textLength);
    const int unitCount = static_cast<int>(hart::UnitEntries().size());
    for (const auto& variable : reply.variables) {
        if (variable) {
            check(variable->unitIndex >= 0 && variable->unitIndex < unitCount, "variables: unit index");
            check(variable->valueText.size() <= 9, "variables: value text over 9");
        }
    }
    if (block.size() >= 4) {
        const std::span<const uint8_t, 4> four(block.data(), 4);
        const std::string text = hart::FormatHartValue(four);
        check(!text.empty() && text.size() <= 9, "variables: value text length");
    }
    return 0;
}
