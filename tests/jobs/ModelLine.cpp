// The simulated converter's model as the other end of a job's requests, faults scripted by request.
#include "tests/jobs/ModelLine.h"

#include "jobs/LoopCheck.h"

#include <gtest/gtest.h>

#include "tools/Bytes.h"
#include "tools/ModbusCrc.h"

namespace jobstest {

jobs::Outcome OutcomeOf(const jobs::Request& request, const std::string& block) {
    return jobs::ReceivedOutcome(block, traffic::Read(tools::bytesOf(block), traffic::Direction::Received,
                                                      request.pending, tools::bytesOf(request.frame)));
}

ModelLine::ModelLine() = default;

jobs::Outcome ModelLine::answer(const jobs::Request& request) {
    ++count_;
    const auto planned = faults_.find(count_);
    const Fault* fault = planned == faults_.end() ? nullptr : &planned->second;
    if (lost_ || (fault && *fault == Fault::LineLost)) {
        lost_ = true;
        return jobs::LineLost("the line to sim0 was lost (adapter unplugged?)", true);
    }
    if (fault && *fault == Fault::NotSent) {
        return jobs::NotSent("the port is closed");
    }
    now_ += sim::Millis(500);
    if (request.loopReading) {
        // The meter in the output's loop reads what the model drives; a fault here is the meter's.
        if (fault && *fault == Fault::Silent) {
            return jobs::Silence();
        }
        if (fault && *fault == Fault::Garbage) {
            return jobs::NoReading("the meter's reply 'garbage' is no reading");
        }
        return jobs::ReadingOutcome(simulator_.outputCurrent(request.loopReading->output, now_));
    }
    std::string reply;
    for (const sim::Write& w : simulator_.receive(request.frame, now_)) {
        reply += w.bytes;
    }
    for (const sim::Write& w : simulator_.lineQuiet(now_ + sim::Simulator::kQuietLine)) {
        reply += w.bytes;
    }
    std::string block = std::exchange(rest_, {});
    if (fault) {
        switch (*fault) {
        case Fault::Silent:
            reply.clear();
            break;
        case Fault::Split:
            rest_ = reply.substr(reply.size() / 2);
            reply.resize(reply.size() / 2);
            break;
        case Fault::WrongCheck:
            if (!reply.empty()) {
                reply.back() = static_cast<char>(reply.back() ^ 0x5A);
            }
            break;
        case Fault::Refusal:
            if (request.modbus()) {
                reply = std::string{request.frame[0], static_cast<char>(request.frame[1] | 0x80), 4};
                const tools::CrcBytes crc = tools::ModbusCrc16(tools::bytesOf(reply));
                reply += static_cast<char>(crc.low);
                reply += static_cast<char>(crc.high);
            } else {
                const std::size_t head = request.frame.find('#');
                const std::size_t end = request.frame.find_first_of(":#", head + 1);
                reply = request.frame.substr(0, end) + ":ERR#";
            }
            break;
        case Fault::Garbage:
            reply = "\x13\x37garbage";
            break;
        case Fault::LineLost:
        case Fault::NotSent:
            break;
        }
    }
    block += reply;
    if (block.empty()) {
        return jobs::Silence();
    }
    return OutcomeOf(request, block);
}

std::vector<jobs::Request> ModelLine::run(jobs::Job& job, int cancelAfter) {
    std::vector<jobs::Request> sent;
    while (const auto request = job.next()) {
        if (request->meterLeads) {
            leads_.push_back(*request->meterLeads);
            job.take(jobs::ReadingOutcome(0)); // the person moved them
            continue;
        }
        sent.push_back(*request);
        job.take(answer(*request));
        if (cancelAfter > 0 && static_cast<int>(sent.size()) == cancelAfter) {
            job.cancel();
        }
        if (sent.size() > 1000) {
            ADD_FAILURE() << "the job does not end";
            break;
        }
    }
    return sent;
}

} // namespace jobstest
