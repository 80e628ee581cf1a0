// A command's result and its two forms.
#include "cli/Result.h"

#include <algorithm>

#include "tools/Utf8Text.h"

namespace cli {

Json Utf8Json(Json value) {
    if (value.is_string()) {
        return tools::Utf8Text(value.get_ref<const std::string&>());
    }
    if (value.is_array()) {
        for (Json& item : value) {
            item = Utf8Json(std::move(item));
        }
        return value;
    }
    if (value.is_object()) {
        Json out = Json::object();
        for (auto& [key, item] : value.items()) {
            out[tools::Utf8Text(key)] = Utf8Json(std::move(item));
        }
        return out;
    }
    return value;
}

std::string JsonLine(const Json& value) {
    return Utf8Json(value).dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Result::line(std::string text) {
    rows_.push_back({{}, false, {}, {}, {}, std::move(text)});
}

void Result::field(std::string_view key, std::string_view label, std::string text, Json json,
                   std::string_view separator) {
    rows_.push_back({std::string(key), false, std::move(json), std::string(label), std::string(separator),
                     std::move(text)});
}

void Result::data(std::string_view key, Json json) {
    rows_.push_back({std::string(key), false, std::move(json), {}, {}, {}});
}

void Result::note(std::string text) {
    notes_.push_back(std::move(text));
}

void Result::append(std::string_view key, Json json, std::string text) {
    rows_.push_back({std::string(key), true, std::move(json), {}, {}, std::move(text)});
}

namespace {

Json keyList(const std::vector<Account::Command>& commands) {
    Json out = Json::array();
    for (const Account::Command& c : commands) {
        out.push_back(c.key);
    }
    return out;
}

} // namespace

std::string Result::text() const {
    std::string out;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (row.label.empty()) {
            if (!row.text.empty()) {
                out += row.text + "\n";
            }
            continue;
        }
        // The run of labelled rows this one belongs to (rows for scripts only do not end it), for the
        // width of their labels.
        const auto inRun = [&](const Row& other) {
            return other.text.empty() || (!other.label.empty() && other.separator == row.separator);
        };
        std::size_t first = i;
        while (first > 0 && inRun(rows_[first - 1])) {
            --first;
        }
        std::size_t width = 0;
        for (std::size_t j = first; j < rows_.size() && inRun(rows_[j]); ++j) {
            width = std::max(width, rows_[j].label.size());
        }
        out += row.label + std::string(width - row.label.size(), ' ') + row.separator + row.text + "\n";
    }
    if (account) {
        for (const std::string& line : account->lines()) {
            out += line + "\n";
        }
    }
    return out;
}

void Result::document(Json json) {
    document_ = std::move(json);
}

Json Result::json() const {
    if (document_) {
        return Utf8Json(*document_);
    }
    Json out = Json::object();
    for (const Row& row : rows_) {
        if (row.key.empty()) {
            continue;
        }
        if (!row.append) {
            out[row.key] = row.json;
            continue;
        }
        Json& list = out[row.key];
        if (!list.is_array()) {
            list = Json::array();
        }
        list.push_back(row.json);
    }
    if (account) {
        out["acknowledged"] = keyList(account->acknowledged);
        out["refused"] = keyList(account->refused);
        out["in_flight"] = account->inFlight ? Json(account->inFlight->key) : Json();
        out["not_sent"] = keyList(account->notSent);
        if (!account->mayHold.empty()) {
            out["may_hold"] = account->mayHold;
        }
        out["next"] = account->next;
    }
    return Utf8Json(std::move(out));
}

bool Result::hasJson() const {
    return document_ ||
           std::any_of(rows_.begin(), rows_.end(), [](const Row& row) { return !row.key.empty(); });
}

} // namespace cli
