// Any bytes made JSON text: the result is always valid UTF-8 (nlohmann's strict dump takes it), text
// that is valid UTF-8 already comes back as it stands, and nothing is escaped without saying so.
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
    return 0;
}
