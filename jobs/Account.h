// The account of a run that sends set commands: what the converter acknowledged, refused, may have
// taken unheard, and was never sent; whether that leaves it partly configured, and what to do next.
// Both front ends print it in these words.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace jobs {

struct Account {
    struct Command {
        std::string key;   // "BA1"
        std::string title; // "RS485 port"
    };
    std::vector<Command> acknowledged;
    std::vector<Command> refused;
    std::optional<Command> inFlight; // sent, its answer not heard: the converter may have taken it
    std::vector<Command> notSent;
    // For a line setting in flight: what the converter may now hold and the options that reach it.
    std::string mayHold;
    // One line of what to do next; empty when nothing is left to do.
    std::string next;

    std::size_t planned() const {
        return acknowledged.size() + refused.size() + (inFlight ? 1 : 0) + notSent.size();
    }
    // Some command was taken and another was not, or may not have been.
    bool partlyConfigured() const;
    // The account for people, a line each, when there is something to say (a command not
    // acknowledged, or a next step): "2 of 5 set commands sent and acknowledged", "  refused: ...",
    // "  sent without answer (...)", "  not sent: ...", "the converter is partly configured" (or "may be",
    // when only the one in flight may have been taken), "next: ...".
    std::vector<std::string> lines() const;
};

} // namespace jobs
