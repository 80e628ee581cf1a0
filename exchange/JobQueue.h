// The window's queue of job requests: each waits its turn behind the exchange (a button's request, a
// reply awaited), goes out alone, and what came of it goes back to the job that asked. A button's
// request never waits: one that goes out while a job's request waits for its reply overtakes it, and
// that request is sent again once the exchange is free. After a block that was not the whole reply,
// the line is left to settle before the next request goes, so the rest of a cut reply is charged to
// no one. Plain C++: the window feeds it the exchange's events and sends what it says.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jobs/Job.h"

namespace exchange {

// Who asked: one job (one window) has at most one request in the queue at a time.
using Owner = uint64_t;

class JobQueue {
public:
    struct Turn {
        Owner owner = 0;
        jobs::Request request;
    };

    // The owner's next request joins the end of the line. False, and nothing changes, when the owner
    // has one already.
    bool add(Owner owner, jobs::Request request);
    // The owner gave up (its job cancelled, its window closed): a queued request is dropped; one in
    // flight is left to end on the line, its outcome going to no one.
    void drop(Owner owner);
    bool has(Owner owner) const;
    bool empty() const { return line_.empty() && !flight_; }

    // The request to send now, given whether the window's exchange is free: the first in line, unless
    // one is in flight or the line settles. From here it is in flight.
    std::optional<Turn> turn(bool exchangeFree);
    bool inFlight() const { return flight_.has_value(); }
    // The request in flight went on the line and waits for its reply.
    bool waiting() const { return flight_ && flight_->written; }
    // ... and it is the owner's, who still waits for it.
    bool onLine(Owner owner) const { return waiting() && flight_->owner == owner && !flight_->dropped; }

    // What came of the request in flight. Each does nothing when none is in flight (or, but for
    // written and notSent, when it has not gone out yet).
    void written();
    void notSent(std::string why);
    // A button's frame went out while the request waited for its reply: it goes back to the head of
    // the line and is sent again, whole, once the exchange is free.
    void overtaken();
    // A block was handled as the reply to it, with the interpreter's reading against it.
    void received(std::string block, traffic::Reading reading);
    void silence();
    // Every request, in flight and in line, ends with the line.
    void lineLost(std::string why);

    // A block that was not the whole reply leaves the line settling: the window waits a reply's time
    // after the last block before the next request. Blocks arriving meanwhile restart that wait and
    // belong to no request.
    bool settling() const { return settling_; }
    void settled() { settling_ = false; }

    // Outcomes ready for their owners, oldest first; taken once.
    std::vector<std::pair<Owner, jobs::Outcome>> takeOutcomes() { return std::exchange(outcomes_, {}); }

private:
    struct Flight {
        Owner owner = 0;
        jobs::Request request;
        bool written = false;
        bool dropped = false; // its owner gave up; the outcome goes to no one
    };

    void finish(jobs::Outcome outcome);

    std::deque<Turn> line_;
    std::optional<Flight> flight_;
    bool settling_ = false;
    std::vector<std::pair<Owner, jobs::Outcome>> outcomes_;
};

} // namespace exchange
