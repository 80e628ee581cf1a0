// Values of the parameter table: read from replies through the rows' fields, compared.
#include "profile/Configuration.h"

#include <algorithm>

#include "config/ValueEncodings.h"
#include "profile/Replies.h"
#include "tools/Conversions.h"

namespace profile {

namespace {

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The canonical value of a field as its row reads it, or the problem with it.
struct Reading {
    std::optional<std::string> value; // nothing and no problem: the reply lacks the field
    std::optional<std::string> problem;
};

Reading asTyped(const Parameter& p, const std::string& reported) {
    try {
        return {CanonicalValue(p, reported), {}};
    } catch (const BadValue&) {
        return {{},
                "the converter reports '" + reported + "', which is " +
                    (p.kind == Kind::Integer ? "outside " + ValuesText(p) : "not " + ValuesText(p))};
    }
}

Reading read(const Parameter& p, const Field& f) {
    if (f.failure) {
        return {{}, f.failure};
    }
    switch (p.form) {
    case Form::Text:
        return f.text ? asTyped(p, *f.text) : Reading{};
    case Form::Digits:
        if (!f.text) {
            return {};
        }
        if (f.text->size() != static_cast<std::size_t>(p.width) || !allDigits(*f.text)) {
            return {{},
                    "the converter reports '" + *f.text + "', which is not " + std::to_string(p.width) +
                        " digits"};
        }
        return asTyped(p, *f.text);
    case Form::Number:
        return f.number ? asTyped(p, std::to_string(*f.number)) : Reading{};
    case Form::Index:
        if (!f.number) {
            return {};
        }
        if (*f.number < 0 || static_cast<std::size_t>(*f.number) >= p.choices.size()) {
            return {{},
                    "the converter reports item " + std::to_string(*f.number) + ", which is not one of " +
                        ValuesText(p)};
        }
        return {std::string(p.choices[static_cast<std::size_t>(*f.number)].name), {}};
    case Form::Single: {
        if (!f.text) {
            return {};
        }
        const std::string& hex = *f.text;
        if (hex.size() != 8 ||
            !std::all_of(hex.begin(), hex.end(), [](char c) { return tools::UpperHexDigit(c) >= 0; })) {
            return {{}, "the converter reports '" + hex + "', which is not 8 upper-case hex digits"};
        }
        const std::string canonical = tools::ShortestSingleText(config::floatFromHex(hex));
        if (canonical.empty()) {
            return {{}, "the converter reports " + hex + ", which is not a finite number"};
        }
        return {canonical, {}};
    }
    case Form::CountedBytes: {
        if (!f.text || !f.count) {
            return {};
        }
        if (*f.count == 0 && f.text->empty()) {
            return asTyped(p, *f.text);
        }
        // n pairs with a blank between each two: a reply cut short has fewer.
        const Reading typed = asTyped(p, *f.text);
        if (typed.value && static_cast<int>((typed.value->size() + 1) / 3) == *f.count) {
            return typed;
        }
        return {{}, "the converter reports " + std::to_string(*f.count) + " bytes as '" + *f.text + "'"};
    }
    }
    return {};
}

} // namespace

// ---- Configuration ----

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

// ---- decoding ----

std::string ProblemText(const Problem& problem) {
    return problem.parameter ? std::string(Parameters()[*problem.parameter].name) + ": " + problem.text
                             : std::string(QueryKey(problem.query)) + " reply: " + problem.text;
}

std::vector<Problem> DecodeReply(Query query, std::string_view received, Configuration& into) {
    const std::string key(QueryKey(query));
    if (!config::containsMarker(received, key)) {
        return {{query, {}, "no block marker " + key}};
    }
    const DecodedReply reply = DecodeQueryReply(query, received);
    std::vector<Problem> problems;
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        const Parameter& p = Parameters()[i];
        if (p.query != query) {
            continue;
        }
        const Reading r = read(p, p.field(reply, p.number));
        if (r.value) {
            into.set(i, *r.value);
        } else if (r.problem) {
            problems.push_back({query, i, *r.problem});
        } else {
            missing.push_back(i);
        }
    }
    if (reply.error) {
        problems.push_back({query, {}, *reply.error});
    }
    for (const std::size_t i : missing) {
        problems.push_back({query, i, "not in the " + key + " reply"});
    }
    return problems;
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
