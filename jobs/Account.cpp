// The account's words.
#include "jobs/Account.h"

namespace jobs {

namespace {

std::string commandList(const std::vector<Account::Command>& commands) {
    std::string out;
    for (const Account::Command& c : commands) {
        out += (out.empty() ? "" : ", ") + c.title + " (" + c.key + ")";
    }
    return out;
}

} // namespace

bool Account::partlyConfigured() const {
    return !acknowledged.empty() && (inFlight || !refused.empty() || !notSent.empty());
}

std::vector<std::string> Account::lines() const {
    std::vector<std::string> out;
    if (planned() == acknowledged.size() && next.empty()) {
        return out;
    }
    out.push_back(planned() == 0 ? std::string("no set command sent")
                                 : std::to_string(acknowledged.size()) + " of " + std::to_string(planned()) +
                                       " set commands sent and acknowledged");
    if (!refused.empty()) {
        out.push_back("  refused: " + commandList(refused));
    }
    if (inFlight) {
        out.push_back("  sent without answer (the converter may have taken it): " + commandList({*inFlight}));
    }
    if (!mayHold.empty()) {
        out.push_back("  " + mayHold);
    }
    if (!notSent.empty()) {
        out.push_back("  not sent: " + commandList(notSent));
    }
    if (partlyConfigured()) {
        out.push_back("the converter is partly configured");
    } else if (inFlight) {
        // Nothing acknowledged, but the one in flight may have been taken.
        out.push_back("the converter may be partly configured");
    }
    if (!next.empty()) {
        out.push_back("next: " + next);
    }
    return out;
}

} // namespace jobs
