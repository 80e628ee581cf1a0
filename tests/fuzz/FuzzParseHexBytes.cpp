// Hex byte text as typed: any text, with the maximum pair count taken from the first byte. What is
// accepted must read back as the same text, and every byte must survive ByteToHex and HexDigitValue.
#include "hart/HartFrames.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/Conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        check(!hart::ParseHexBytes({}, 15).ok(), "hex bytes: empty text accepted");
        return 0;
    }
    const int maximum = static_cast<int>(data[0] % 20) - 2; // -2 .. 17
    const std::string_view text = fuzzcheck::asText(data + 1, size - 1);
    const hart::HexBytes parsed = hart::ParseHexBytes(text, maximum);
    if (parsed.ok()) {
        check(!parsed.bytes.empty() && static_cast<int>(parsed.bytes.size()) <= maximum,
              "hex bytes: count outside 1..maximum");
        std::string shown = tools::BytesToHexText(parsed.bytes);
        shown.pop_back(); // the blank after the last pair
        check(text.substr(0, shown.size()) == shown, "hex bytes: accepted text does not read back");
    } else {
        check(parsed.bytes.empty(), "hex bytes: bytes with a failure");
        check(parsed.failure == hart::kNoPairsOrSeparator || parsed.failure == hart::kBadHexDigit,
              "hex bytes: unknown failure text");
    }
    for (std::size_t i = 0; i < size; ++i) {
        const std::string hex = tools::ByteToHex(data[i]);
        check(hex.size() == 2, "ByteToHex: not two digits");
        const int back = tools::HexDigitValue(hex.substr(0, 1)) * 16 + tools::HexDigitValue(hex.substr(1, 1));
        check(back == data[i], "ByteToHex: does not read back");
    }
    return 0;
}
