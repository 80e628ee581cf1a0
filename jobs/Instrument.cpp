// The instrument's identity, a read meter command's reply by offset, and the register map.
#include "jobs/Instrument.h"

#include <algorithm>

#include "hart/HartFrames.h"
#include "tools/Bytes.h"

namespace jobs {

namespace {

bool endsTheJob(const Outcome& outcome) {
    return outcome.kind == Outcome::Kind::LineLost || outcome.kind == Outcome::Kind::NotSent ||
           outcome.kind == Outcome::Kind::Interrupted;
}

Request hartRequest(const std::vector<uint8_t>& frame, int32_t pending, std::string what) {
    Request request;
    request.frame = std::string(tools::asText(frame));
    request.pending = pending;
    request.query = true;
    request.showHex = true;
    request.what = std::move(what);
    return request;
}

// A whole reply that does not hold what was asked: the job cannot go on with it.
Stop emptyReply(const Request& request, const Outcome& outcome, const std::string& holdsNo) {
    Stop stop = StopOf(request, outcome);
    stop.text = "the reply to " + request.what + " holds no " + holdsNo + ": " + outcome.reading.meaning;
    return stop;
}

} // namespace

Script::Body IdentityJob::run() {
    const Request identityRequest =
        hartRequest(hart::IdentityQueryFrame(options_.preambles, options_.address, options_.master),
                    traffic::pending::HartIdentity, "HART command 0 (identity)");
    const Outcome identity = co_await ask(identityRequest);
    if (!identity.whole()) {
        result_.stop = StopOf(identityRequest, identity,
                              options_.variables ? std::vector<std::string>{"HART command 3"}
                                                 : std::vector<std::string>{});
        co_return;
    }
    const auto frame = tools::bytesOf(identity.frame());
    result_.identity = hart::DecodeIdentityReply(frame, std::min<std::size_t>(frame.size(), 255));
    result_.meaning = identity.reading.meaning;
    if (!result_.identity) {
        result_.stop = emptyReply(identityRequest, identity, "identity");
        co_return;
    }
    if (!options_.variables) {
        co_return;
    }
    // Command 3 goes to the instrument's unique address, as the window addresses it after command 0.
    hart::HartIdentity addressed;
    hart::StoreIdentity(*result_.identity, addressed);
    addressed.pollingAddress = static_cast<uint8_t>(options_.address);
    const Request variablesRequest =
        hartRequest(hart::VariablesQueryFrame(options_.preambles, options_.master, addressed),
                    traffic::pending::HartVariables, "HART command 3 (variables)");
    const Outcome variables = co_await ask(variablesRequest);
    if (!variables.whole()) {
        result_.stop = StopOf(variablesRequest, variables);
        co_return;
    }
    const auto bytes = tools::bytesOf(variables.frame());
    result_.variables = hart::DecodeVariablesReply(bytes, std::min<std::size_t>(bytes.size(), 255));
    result_.meaning = variables.reading.meaning;
    if (!result_.variables->variables[0]) {
        result_.variables.reset();
        result_.stop = emptyReply(variablesRequest, variables, "variables");
    }
}

Script::Body ReplyFieldsJob::run() {
    ReadMappingJob read;
    co_await drive(read);
    if (!read.took(result_.mapping, result_.stop)) {
        co_return;
    }
    const profile::Mapping& mapping = *result_.mapping.mapping;
    const int c = options_.command;
    const profile::MeterCommand& meter = mapping.commands[static_cast<std::size_t>(c - 1)];
    const std::string name = "read meter command " + std::to_string(c);
    if (meter.body.empty()) {
        Stop stop;
        stop.kind = Outcome::Kind::Whole;
        stop.request = QueryRequest(profile::Query::QX3);
        stop.text = name + " is empty in the converter";
        result_.stop = std::move(stop);
        co_return;
    }
    if (!mapping.polls(c)) {
        result_.notes.push_back("the converter does not poll " + name + ": " +
                                (mapping.polling ? "it is off" : "HART polling is off"));
    }
    const Request request = HartBodyRequest(meter.body, options_.preambles, name);
    const Outcome outcome = co_await ask(request);
    if (!outcome.whole()) {
        result_.stop = StopOf(request, outcome);
        co_return;
    }
    result_.reply = profile::ReadHartReply(tools::bytesOf(outcome.frame()));
    result_.fields = profile::ListFields(result_.reply->command, result_.reply->data);
    if (!result_.reply->succeeded()) {
        result_.notes.push_back(
            "the instrument answered with a response code the converter takes no values from");
    }
}

std::string MapResult::instrumentWords() const {
    if (instrument) {
        return {};
    }
    if (!instrumentProblem) {
        return "not asked";
    }
    switch (instrumentProblem->kind) {
    case Outcome::Kind::Silence:
        return "did not answer";
    case Outcome::Kind::Whole:
        return "answered without an identity";
    case Outcome::Kind::Refused:
    case Outcome::Kind::Cut:
    case Outcome::Kind::Damaged:
    case Outcome::Kind::Unexpected:
        // It answered: a damaged or cut reply is no silence.
        return "answered, but " + std::string(OutcomeText(instrumentProblem->kind));
    case Outcome::Kind::LineLost:
    case Outcome::Kind::NotSent:
    case Outcome::Kind::Interrupted:
        break;
    }
    return "not reached: " + std::string(OutcomeText(instrumentProblem->kind));
}

Script::Body RegisterMapJob::run() {
    ReadMappingJob read;
    co_await drive(read);
    if (!read.took(result_.mapping, result_.stop)) {
        co_return;
    }
    const profile::Mapping& mapping = *result_.mapping.mapping;
    // The units come from the instrument where it answers; without it the map still stands.
    std::vector<std::pair<int, Request>> asks; // 0 for the identity, else the read meter command
    if (const auto body = profile::IdentityBody(mapping); !body.empty()) {
        asks.emplace_back(0, HartBodyRequest(body, preambles_, "HART command 0 (identity)"));
    }
    for (int c = 1; c <= 2; ++c) {
        if (mapping.polls(c)) {
            asks.emplace_back(c, HartBodyRequest(mapping.commands[static_cast<std::size_t>(c - 1)].body,
                                                 preambles_, "read meter command " + std::to_string(c)));
        }
    }
    for (const auto& [what, request] : asks) {
        const Outcome outcome = co_await ask(request);
        if (!outcome.whole()) {
            result_.instrumentProblem = StopOf(request, outcome);
            if (endsTheJob(outcome)) {
                result_.stop = result_.instrumentProblem;
                co_return;
            }
            break; // an instrument that did not answer this will not answer the next either
        }
        const profile::HartReply reply = profile::ReadHartReply(tools::bytesOf(outcome.frame()));
        if (what == 0) {
            result_.instrument = profile::IdentityOfReply(reply);
            if (!result_.instrument) {
                result_.instrumentProblem = emptyReply(request, outcome, "identity");
                break;
            }
        } else {
            result_.replies[static_cast<std::size_t>(what - 1)] = reply;
        }
    }
    result_.rows = profile::RegisterMap(mapping, result_.replies);
}

} // namespace jobs
