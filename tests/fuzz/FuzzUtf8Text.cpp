// Any bytes made JSON text: the result is always valid UTF-8 (nlohmann's strict dump takes it), text
// that is valid UTF-8 already comes back as it stands, and nothing is escaped without saying so. And
// any bytes echoed in a message: valid UTF-8 without a control character, at most 80 characters
// before the note of the cut, the whole when nothing was cut.
#include <string>

#include <nlohmann/json.hpp>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/Utf8Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view bytes = fuzzcheck::asText(data, size);
    bool escaped = false;
    const std::string text = tools::Utf8Text(bytes, &escaped);
    try {
        (void)nlohmann::json(text).dump();
    } catch (const nlohmann::json::type_error&) {
        fuzzcheck::fail("Utf8Text: not valid UTF-8");
    }
    check(escaped == (text != bytes), "Utf8Text: escaped without saying so, or said so without escaping");
    bool strictlyValid = true;
    try {
        (void)nlohmann::json(std::string(bytes)).dump();
    } catch (const nlohmann::json::type_error&) {
        strictlyValid = false;
    }
    check(strictlyValid == !escaped, "Utf8Text: disagrees with a strict UTF-8 reader");
    check(tools::Utf8Text(text) == text, "Utf8Text: escaped text escaped again");

    bool cut = false;
    const std::string echoed = tools::EchoText(bytes, &cut);
    bool echoEscaped = false;
    (void)tools::Utf8Text(echoed, &echoEscaped);
    check(!echoEscaped, "EchoText: not valid UTF-8");
    std::size_t characters = 0;
    for (std::size_t i = 0; i < echoed.size(); ++i) {
        const auto c = static_cast<unsigned char>(echoed[i]);
        check(c >= 0x20 && c != 0x7F, "EchoText: a control character got through");
        check(!(c == 0xC2 && i + 1 < echoed.size() && static_cast<unsigned char>(echoed[i + 1]) < 0xA0),
              "EchoText: a C1 control got through");
        characters += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    const std::string note = " (" + std::to_string(bytes.size()) + " bytes)";
    check(!cut || echoed.ends_with("..." + note), "EchoText: a cut without its note");
    check(characters <= tools::kEchoedCharacters + (cut ? 3 + note.size() : 0), "EchoText: longer than 80");
    check(cut || bytes.size() <= 4 * tools::kEchoedCharacters, "EchoText: a long value not cut");
    return 0;
}
