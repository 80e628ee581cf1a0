// The commissioning jobs fed any bytes as their replies: each job ends, within a bound of requests,
// and never takes a value or row from a reply that was not whole and good.
#include <algorithm>

#include "jobs/Check.h"
#include "jobs/Instrument.h"
#include "jobs/Scan.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/Bytes.h"

namespace {

// Each request's reply is the next block of the input: a length byte, then that many bytes (0: silence);
// the input's end is a lost line.
class Replies {
public:
    explicit Replies(std::string_view input) : rest_(input) {}
    jobs::Outcome next(const jobs::Request& request) {
        if (rest_.empty()) {
            return jobs::LineLost("the input ended", true);
        }
        const std::size_t length = static_cast<uint8_t>(rest_[0]);
        const std::string block(rest_.substr(1, length));
        rest_ = rest_.substr(std::min(rest_.size(), 1 + length));
        if (block.empty()) {
            return jobs::Silence();
        }
        return jobs::ReceivedOutcome(block, traffic::Read(tools::bytesOf(block), traffic::Direction::Received,
                                                          request.pending, tools::bytesOf(request.frame)));
    }

private:
    std::string_view rest_;
};

void run(jobs::Job& job, std::string_view input) {
    Replies replies(input);
    int requests = 0;
    while (const auto request = job.next()) {
        fuzzcheck::check(++requests < 200, "jobs: a job that does not end");
        job.take(replies.next(*request));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input = fuzzcheck::asText(data, size);
    jobs::CheckJob check({.switchMode = true});
    run(check, input);
    const jobs::CheckResult& c = check.result();
    fuzzcheck::check(c.rows.empty() || c.end == jobs::CheckResult::End::Checked,
                     "check: rows of a check not done");
    fuzzcheck::check(!c.switched || !c.notes.empty(), "check: switched and the mode's fate unsaid");

    jobs::ScanJob scan({.last = 15});
    run(scan, input);
    for (const jobs::ScanAnswer& a : scan.result().answers) {
        fuzzcheck::check(a.identity.has_value() == (a.kind == jobs::Outcome::Kind::Whole),
                         "scan: an identity from a reply that was not whole");
    }

    jobs::RegisterMapJob map("5");
    run(map, input);
    fuzzcheck::check(map.result().rows.empty() || map.result().mapping.mapping,
                     "map: rows without a mapping");
    return 0;
}
