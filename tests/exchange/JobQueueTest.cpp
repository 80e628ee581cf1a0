// The queue of job requests driven by scripts of the exchange's events: who sends when, what each
// owner hears, a button overtaking a job's request, the line settling after a damaged reply.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "exchange/JobQueue.h"

namespace {

using exchange::JobQueue;

traffic::Reading readingOf(traffic::Verdict verdict) {
    traffic::Reading reading;
    reading.verdict = verdict;
    return reading;
}

// Runs the script's words in order and logs what the queue did: "send 1:A" (owner 1's request A went
// out), "1:A <outcome>" (owner 1 heard how request A ended).
std::string run(const std::string& script) {
    JobQueue queue;
    std::vector<std::string> log;
    std::istringstream words(script);
    const auto collect = [&] {
        for (const auto& [owner, outcome] : queue.takeOutcomes()) {
            std::string text = std::to_string(owner) + ":" + std::string(jobs::OutcomeText(outcome.kind));
            if (!outcome.reason.empty()) {
                text += " (" + outcome.reason + ")";
            }
            log.push_back(text);
        }
    };
    for (std::string word; words >> word;) {
        if (word.starts_with("add")) { // add<owner><name>: add1A
            jobs::Request request;
            request.what = word.substr(4);
            if (!queue.add(static_cast<exchange::Owner>(word[3] - '0'), request)) {
                log.push_back("refused " + word.substr(3));
            }
        } else if (word == "free" || word == "busy") {
            if (const auto turn = queue.turn(word == "free")) {
                log.push_back("send " + std::to_string(turn->owner) + ":" + turn->request.what);
            }
        } else if (word.starts_with("drop")) {
            queue.drop(static_cast<exchange::Owner>(word[4] - '0'));
        } else if (word == "written") {
            queue.written();
        } else if (word == "unwritten") {
            queue.notSent("port did not take it");
        } else if (word == "button") {
            queue.overtaken();
        } else if (word == "good") {
            queue.received("QQQ#QX1:ADR:001#", readingOf(traffic::Verdict::Good));
        } else if (word == "cut") {
            queue.received("QQQ#QX1:AD", readingOf(traffic::Verdict::Cut));
        } else if (word == "damaged") {
            queue.received("\xFF\x06", readingOf(traffic::Verdict::ChecksumWrong));
        } else if (word == "refused") {
            queue.received("QQS#MD:ERR#", readingOf(traffic::Verdict::Refused));
        } else if (word == "silence") {
            queue.silence();
        } else if (word == "lost") {
            queue.lineLost("the port was closed");
        } else if (word == "settled") {
            queue.settled();
        } else {
            ADD_FAILURE() << "unknown word " << word;
        }
        collect();
    }
    std::string text;
    for (const std::string& line : log) {
        text += (text.empty() ? "" : ", ") + line;
    }
    return text;
}

TEST(JobQueue, SendsOneRequestAtATimeAndTellsItsOwnerWhatCameOfIt) {
    struct Row {
        const char* what;
        const char* script;
        const char* log;
    };
    const Row rows[] = {
        {"a reply", "add1A free written good", "send 1:A, 1:good"},
        {"waits while the exchange is busy", "add1A busy busy free written good", "send 1:A, 1:good"},
        {"one in flight at a time, then in the order asked",
         "add1A add2B free free written good free written silence", "send 1:A, 1:good, send 2:B, 2:no reply"},
        {"one request per owner", "add1A add1B free", "refused 1B, send 1:A"},
        {"a refusal is whole: the next goes at once", "add1A add2B free written refused free",
         "send 1:A, 1:refused, send 2:B"},
        {"a cut reply settles the line before the next", "add1A add2B free written cut free free settled free",
         "send 1:A, 1:cut short, send 2:B"},
        {"a damaged reply too", "add1A add2B free written damaged free settled free",
         "send 1:A, 1:CRC or check byte wrong, send 2:B"},
        {"a button overtakes: the same request again once free",
         "add1A free written button good free written good", "send 1:A, send 1:A, 1:good"},
        {"overtaken, it goes before later requests", "add1A free written add2B button free",
         "send 1:A, send 1:A"},
        {"a button before the frame went out changes nothing", "add1A free button written good",
         "send 1:A, 1:good"},
        {"not written", "add1A free unwritten", "send 1:A, 1:not sent (port did not take it)"},
        {"a lost line ends the one in flight and those in line", "add1A add2B free written lost free",
         "send 1:A, 1:line lost (the port was closed), 2:line lost (the port was closed)"},
        {"dropped in line: never sent", "add1A add2B drop1 free written good", "send 2:B, 2:good"},
        {"dropped in flight: its outcome goes to no one, the next waits for its end",
         "add1A add2B free written drop1 free good free", "send 1:A, send 2:B"},
        {"dropped in flight and overtaken: not sent again", "add1A free written drop1 button free", "send 1:A"},
        {"dropped before it went out: the next may go", "add1A add2B free drop1 free", "send 1:A, send 2:B"},
        {"after drop the owner may ask again", "add1A free written drop1 add1C good free", "send 1:A, send 1:C"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(run(row.script), row.log) << row.what;
    }
}

} // namespace
