// The queue of job requests and what came of each.
#include "exchange/JobQueue.h"

#include <algorithm>

namespace exchange {

bool JobQueue::add(Owner owner, jobs::Request request) {
    if (has(owner)) {
        return false;
    }
    line_.push_back({owner, std::move(request)});
    return true;
}

void JobQueue::drop(Owner owner) {
    std::erase_if(line_, [owner](const Turn& t) { return t.owner == owner; });
    if (flight_ && flight_->owner == owner) {
        if (flight_->written) {
            flight_->dropped = true;
        } else {
            flight_.reset();
        }
    }
}

bool JobQueue::has(Owner owner) const {
    return (flight_ && flight_->owner == owner && !flight_->dropped) ||
           std::any_of(line_.begin(), line_.end(), [owner](const Turn& t) { return t.owner == owner; });
}

std::optional<JobQueue::Turn> JobQueue::turn(bool exchangeFree) {
    if (!exchangeFree || flight_ || settling_ || line_.empty()) {
        return std::nullopt;
    }
    Turn next = std::move(line_.front());
    line_.pop_front();
    flight_ = Flight{next.owner, next.request};
    return next;
}

void JobQueue::written() {
    if (flight_) {
        flight_->written = true;
    }
}

void JobQueue::notSent(std::string why) {
    if (!flight_ || flight_->written) {
        return;
    }
    jobs::Outcome outcome;
    outcome.kind = jobs::Outcome::Kind::NotSent;
    outcome.reason = std::move(why);
    finish(std::move(outcome));
}

void JobQueue::overtaken() {
    if (!waiting()) {
        return;
    }
    Flight flight = std::move(*flight_);
    flight_.reset();
    if (!flight.dropped) {
        line_.push_front({flight.owner, std::move(flight.request)});
    }
}

void JobQueue::received(std::string block, traffic::Reading reading) {
    if (!waiting()) {
        return;
    }
    jobs::Outcome outcome = jobs::ReceivedOutcome(std::move(block), std::move(reading));
    // The rest of a reply cut by a pause, or what follows noise, may still be on its way.
    settling_ = !outcome.whole() && outcome.kind != jobs::Outcome::Kind::Refused;
    finish(std::move(outcome));
}

void JobQueue::silence() {
    if (!waiting()) {
        return;
    }
    finish(jobs::Outcome{});
}

void JobQueue::lineLost(std::string why) {
    std::vector<Owner> ended;
    if (flight_ && !flight_->dropped) {
        ended.push_back(flight_->owner);
    }
    flight_.reset();
    for (const Turn& t : line_) {
        ended.push_back(t.owner);
    }
    line_.clear();
    settling_ = false;
    for (const Owner owner : ended) {
        jobs::Outcome outcome;
        outcome.kind = jobs::Outcome::Kind::LineLost;
        outcome.reason = why;
        outcomes_.emplace_back(owner, std::move(outcome));
    }
}

void JobQueue::finish(jobs::Outcome outcome) {
    const Flight flight = std::move(*flight_);
    flight_.reset();
    if (!flight.dropped) {
        outcomes_.emplace_back(flight.owner, std::move(outcome));
    }
}

} // namespace exchange
