// The parameter table's reading of every query's reply over any received text: every value it sets
// is the canonical text of its parameter, and every other parameter of the query has a problem that
// names it (unless the reply has no block marker).
#include <algorithm>

#include "profile/Configuration.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view received = fuzzcheck::asText(data, size);
    for (const profile::Query query : profile::kQueries) {
        profile::Configuration values;
        const auto problems = profile::DecodeReply(query, received, values);
        const bool marker = problems.empty() || problems.front().parameter || problems.size() > 1 ||
                            !problems.front().text.starts_with("no block marker");
        for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
            const profile::Parameter& p = profile::Parameters()[i];
            const bool named = std::any_of(problems.begin(), problems.end(),
                                           [&](const profile::Problem& problem) { return problem.parameter == i; });
            if (const auto& value = values.value(i)) {
                fuzzcheck::check(p.query == query, "profile: a value set from another query's reply");
                fuzzcheck::check(profile::CanonicalValue(p, *value) == *value, "profile: a value not canonical");
                fuzzcheck::check(!named, "profile: a value set and a problem named");
            } else if (p.query == query && marker) {
                fuzzcheck::check(named, "profile: a parameter neither read nor named");
            }
        }
    }
    return 0;
}
