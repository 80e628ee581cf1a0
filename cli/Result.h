// What a command found on one port, as one value: rows that the printer writes for people (lines
// of text) or for scripts (the members of one JSON object). A command fills its result and never
// writes either form itself, so every command's output has the same shape and the same guarantees
// (JSON output is always valid UTF-8, whatever bytes a port name or a reply holds).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ExitCodes.h"
#include "jobs/Account.h"

namespace cli {

using Json = nlohmann::ordered_json;

// The set commands a run sends on one port and how each fared, in the words both front ends use.
using Account = jobs::Account;

class Result {
public:
    // A sentence for people only ("matches f.json (74 parameters)"); may hold several lines.
    void line(std::string text);
    // A named value: people read `label`, `separator` and `text` (the labels of consecutive fields
    // with the same separator padded to the widest), scripts get `key`: `json`.
    void field(std::string_view key, std::string_view label, std::string text, Json json,
               std::string_view separator = "  ");
    // For scripts only.
    void data(std::string_view key, Json json);
    // Appended to the list `key` for scripts (the list is made on first use); `text`, when not
    // empty, is its line for people.
    void append(std::string_view key, Json json, std::string text = {});

    // What went wrong on the way (the bytes of a damaged reply, an instrument that did not answer), for
    // people only and apart from the output: standard error gets it, so a CSV, Markdown or JSON output
    // holds data alone.
    void note(std::string text);
    const std::vector<std::string>& notes() const { return notes_; }

    // For scripts, the whole of what they get when it is no object of members (a list).
    void document(Json json);

    // The people form: a line per row, ending in "\n".
    std::string text() const;
    // The script form: the rows' members in order, every text valid UTF-8 (see Utf8Text).
    Json json() const;
    bool hasJson() const;

    int exit = code::Done;
    std::string error;              // why it ended early, for people and as "error"
    std::optional<Account> account; // a run that sends set commands

private:
    struct Row {
        std::string key; // empty: people only
        bool append = false;
        Json json;
        std::string label; // empty: `text` stands alone
        std::string separator;
        std::string text; // empty: scripts only
    };
    std::vector<Row> rows_;
    std::vector<std::string> notes_;
    std::optional<Json> document_;
};

// Every string (and member name) of `value` made valid UTF-8 with tools::Utf8Text.
Json Utf8Json(Json value);

// `value` as one line of JSON for the output, every text valid UTF-8 (Utf8Json; replacing is the last
// guard, so that printing never ends a run).
std::string JsonLine(const Json& value);

} // namespace cli
