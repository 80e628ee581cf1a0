// Reading the converter's configuration, and comparing it with a file's.
#include "jobs/Read.h"

#include <algorithm>

#include "config/TextCommands.h"
#include "profile/Parameters.h"

namespace jobs {

using profile::Parameters;
using profile::Query;

std::vector<Query> QueriesFor(const std::vector<std::size_t>& parameters) {
    std::vector<Query> out;
    for (const Query q : profile::kQueries) {
        const bool needed = std::any_of(parameters.begin(), parameters.end(),
                                        [&](std::size_t p) { return Parameters()[p].query == q; });
        if (needed) {
            out.push_back(q);
        }
    }
    return out;
}

std::vector<std::size_t> AllParameters(bool restorableOnly) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < profile::ParameterCount(); ++p) {
        if (!restorableOnly || Parameters()[p].restorable) {
            out.push_back(p);
        }
    }
    return out;
}

std::vector<std::size_t> PresentIn(const profile::Configuration& values) {
    std::vector<std::size_t> out;
    for (const std::size_t p : AllParameters(true)) {
        if (values.has(p)) {
            out.push_back(p);
        }
    }
    return out;
}

std::vector<profile::Problem> ProblemsFor(const std::vector<profile::Problem>& problems,
                                          const std::vector<std::size_t>& parameters) {
    std::vector<profile::Problem> out;
    for (const profile::Problem& problem : problems) {
        const bool concerns = std::any_of(parameters.begin(), parameters.end(), [&](std::size_t p) {
            return problem.parameter ? *problem.parameter == p : Parameters()[p].query == problem.query;
        });
        if (concerns && std::find(out.begin(), out.end(), problem) == out.end()) {
            out.push_back(problem);
        }
    }
    return out;
}

std::vector<std::string> DifferenceLines(const std::vector<profile::Difference>& differences) {
    std::size_t width = 9;
    for (const auto& d : differences) {
        width = std::max(width, Parameters()[d.parameter].name.size());
    }
    std::vector<std::string> lines;
    for (const auto& d : differences) {
        const std::string& name = Parameters()[d.parameter].name;
        lines.push_back(name + std::string(width - name.size(), ' ') + "  file " +
                        d.expected.value_or(kNoFileValue) + ", converter " + d.actual.value_or(kNotRead));
    }
    return lines;
}

Request QueryRequest(Query query) {
    const std::string key(profile::QueryKey(query));
    Request request;
    request.frame = profile::QueryFrame(query);
    request.pending = traffic::QueryPending(key);
    request.query = true;
    request.what = key + " (" + std::string(profile::QueryTitle(query)) + ")";
    return request;
}

Request CommunicationRequest() {
    Request request;
    request.frame = config::communicationQueryFrame();
    request.pending = traffic::pending::SystemParameters;
    request.query = true;
    request.what = "the communication query";
    return request;
}

Script::Body ReadAllJob::run() {
    std::vector<Request> requests;
    if (options_.communication) {
        requests.push_back(CommunicationRequest());
    }
    for (const Query q : options_.queries) {
        requests.push_back(QueryRequest(q));
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Outcome outcome = co_await ask(requests[i]);
        if (!outcome.whole()) {
            std::vector<std::string> notReached;
            for (std::size_t j = i + 1; j < requests.size(); ++j) {
                notReached.push_back(requests[j].what);
            }
            result_.stop = StopOf(requests[i], outcome, std::move(notReached));
            const bool query = !options_.communication || i > 0;
            if (query && !outcome.block.empty()) {
                // What its decoder would miss in it, said in the decoder's words; nothing is kept.
                profile::Configuration unused;
                const Query q = options_.queries[i - (options_.communication ? 1 : 0)];
                for (const profile::Problem& problem : profile::DecodeReply(q, outcome.block, unused)) {
                    result_.stop->text += "; " + profile::ProblemText(problem);
                }
            }
            co_return;
        }
        if (options_.communication && i == 0) {
            result_.device = outcome.block;
            continue;
        }
        const Query q = options_.queries[i - (options_.communication ? 1 : 0)];
        const auto problems = profile::DecodeReply(q, outcome.block, result_.values);
        result_.problems.insert(result_.problems.end(), problems.begin(), problems.end());
        result_.replies.emplace_back(std::string(profile::QueryKey(q)), outcome.block);
    }
}

Script::Body CompareJob::run() {
    result_.compared = PresentIn(expected_);
    ReadAllJob read({QueriesFor(result_.compared)});
    co_await drive(read);
    result_.read = read.result();
    if (result_.read.stop) {
        co_return;
    }
    result_.problems = ProblemsFor(result_.read.problems, result_.compared);
    if (result_.problems.empty()) {
        result_.differences = profile::Compare(expected_, result_.read.values);
    }
}

} // namespace jobs
