// The parameter table's reading of every query's reply over any received text: every value it sets
// is the canonical text of its parameter.
#include "profile/Configuration.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view received = fuzzcheck::asText(data, size);
    for (const profile::Query query : profile::kQueries) {
        profile::Configuration values;
        profile::DecodeReply(query, received, values);
        for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
            const profile::Parameter& p = profile::Parameters()[i];
            if (const auto& value = values.value(i)) {
                fuzzcheck::check(p.query == query, "profile: a value set from another query's reply");
                fuzzcheck::check(profile::CanonicalValue(p, *value) == *value, "profile: a value not canonical");
            }
        }
    }
    return 0;
}
