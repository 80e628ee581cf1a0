// The instrument scan, address by address.
#include "jobs/Scan.h"

#include <algorithm>

#include "hart/HartFrames.h"
#include "tools/Bytes.h"

namespace jobs {

namespace {

// "address 15", "addresses 6 to 15".
std::string addresses(int first, int last) {
    return first == last ? "address " + std::to_string(first)
                         : "addresses " + std::to_string(first) + " to " + std::to_string(last);
}

} // namespace

int ScanResult::found() const {
    return static_cast<int>(std::count_if(answers.begin(), answers.end(),
                                          [](const ScanAnswer& a) { return a.identity.has_value(); }));
}

std::string ScanResult::summary() const {
    const int n = found();
    if (n > 0) {
        return std::to_string(n) + (n == 1 ? " instrument found" : " instruments found");
    }
    const std::string range = "polling " + addresses(0, options.last);
    if (!answers.empty()) {
        std::string text = "no instrument answered with a good reply at " + range + ":";
        for (const ScanAnswer& a : answers) {
            text += " address " + std::to_string(a.address) + " answered, " + a.text + ";";
        }
        text.pop_back();
        return text;
    }
    return "no instrument answered at " + range + " (the converter passes HART only in transparent mode)";
}

Request ScanJob::RequestAt(const ScanOptions& options, int address) {
    Request request;
    request.frame =
        std::string(tools::asText(hart::IdentityQueryFrameAt(options.preambles, address, options.master)));
    request.pending = traffic::pending::HartManual;
    request.query = true;
    request.showHex = true;
    request.what = "HART command 0 at polling address " + std::to_string(address);
    return request;
}

Script::Body ScanJob::run() {
    const ScanOptions& o = result_.options;
    for (int address = 0; address <= o.last; ++address) {
        const Request request = RequestAt(o, address);
        const Outcome outcome = co_await ask(request);
        switch (outcome.kind) {
        case Outcome::Kind::Silence:
            break; // nobody at this address
        case Outcome::Kind::LineLost:
        case Outcome::Kind::NotSent:
        case Outcome::Kind::Interrupted: {
            const int first = outcome.sent ? address + 1 : address;
            result_.stop =
                StopOf(request, outcome,
                       first <= o.last ? std::vector{addresses(first, o.last)} : std::vector<std::string>{});
            co_return;
        }
        case Outcome::Kind::Whole: {
            const auto frame = tools::bytesOf(outcome.frame());
            if (auto identity = hart::DecodeIdentityReply(frame, std::min<std::size_t>(frame.size(), 255))) {
                result_.answers.push_back({address, outcome.kind, std::move(identity), {}});
                break;
            }
            result_.answers.push_back({address, Outcome::Kind::Unexpected, std::nullopt,
                                       "no identity in it: " + outcome.reading.meaning});
            break;
        }
        case Outcome::Kind::Refused:
        case Outcome::Kind::Cut:
        case Outcome::Kind::Damaged:
        case Outcome::Kind::Unexpected:
            result_.answers.push_back(
                {address, outcome.kind, std::nullopt,
                 std::string(OutcomeText(outcome.kind)) + ": " + outcome.reading.meaning});
            break;
        }
        result_.asked = address + 1;
        if (o.firstOnly && result_.found() > 0) {
            co_return;
        }
    }
}

} // namespace jobs
