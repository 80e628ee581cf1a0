// Values of the parameter table, and what is said of them: problems, differences.
#include "profile/Configuration.h"

#include <algorithm>

namespace profile {

Configuration::Configuration() : values_(ParameterCount()) {}

const std::optional<std::string>& Configuration::value(std::string_view name) const {
    return values_.at(ParameterIndex(name));
}

void Configuration::setTyped(std::string_view name, std::string_view typed) {
    const std::size_t index = ParameterIndex(name);
    values_[index] = CanonicalValue(Parameters()[index], typed);
}

void Configuration::merge(const Configuration& other) {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (other.values_[i]) {
            values_[i] = other.values_[i];
        }
    }
}

std::size_t Configuration::count() const {
    return static_cast<std::size_t>(
        std::count_if(values_.begin(), values_.end(), [](const auto& v) { return v; }));
}

std::string ProblemText(const Problem& problem) {
    return problem.parameter ? std::string(Parameters()[*problem.parameter].name) + ": " + problem.text
                             : std::string(QueryKey(problem.query)) + " reply: " + problem.text;
}

std::vector<Difference> Compare(const Configuration& expected, const Configuration& actual) {
    std::vector<Difference> out;
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        if (!Parameters()[i].restorable || !expected.has(i)) {
            continue;
        }
        if (expected.value(i) != actual.value(i)) {
            out.push_back({i, expected.value(i), actual.value(i)});
        }
    }
    return out;
}

} // namespace profile
