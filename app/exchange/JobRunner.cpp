// A job stepped through the window's job queue.
#include "app/exchange/JobRunner.h"

#include <utility>

#include "jobs/LoopCheck.h"

namespace app {

JobRunner::JobRunner(JobExchange& exchange, QObject* parent)
    : QObject(parent), exchange_(exchange),
      owner_(exchange.join([this](const jobs::Outcome& outcome) { heard(outcome); })) {}

JobRunner::~JobRunner() {
    exchange_.leave(owner_);
}

void JobRunner::start(std::unique_ptr<jobs::Job> job, std::function<void()> over) {
    if (running_) {
        // The old job's request on the line, if any, ends unheard: a new owner takes its place.
        exchange_.leave(owner_);
        owner_ = exchange_.join([this](const jobs::Outcome& outcome) { heard(outcome); });
    }
    job_ = std::move(job);
    over_ = std::move(over);
    running_ = true;
    asked_ = false;
    cancelWanted_ = false;
    told_ = false;
    reading_ = false;
    step();
}

void JobRunner::cancel() {
    if (!running_ || cancelWanted_ || told_) {
        return;
    }
    if (reading_) {
        // Nothing of it is on the line: the job hears at once that no reading came.
        reading_ = false;
        job_->take(jobs::Interrupted("cancelled", false));
    } else if (asked_ && !exchange_.queued(owner_)) {
        // On the line, or its outcome on the way: it ends first, so the job hears what came of it
        // before it is told to stop.
        cancelWanted_ = true;
        return;
    } else if (asked_) {
        exchange_.withdraw(owner_);
        asked_ = false;
        job_->take(jobs::Interrupted("cancelled", false));
    }
    told_ = true;
    job_->cancel();
    step();
}

void JobRunner::step() {
    if (!running_) {
        return;
    }
    std::optional<jobs::Request> request = job_->next();
    if (!request) {
        running_ = false;
        if (const auto over = std::exchange(over_, {})) {
            over();
        }
        return;
    }
    if (onRequest) {
        onRequest(*request);
    }
    if (request->loopReading || request->meterLeads) {
        if (!onReading) {
            job_->take(jobs::NoReading("no way to read the loop current"));
            step();
            return;
        }
        reading_ = true;
        onReading(*request);
        return;
    }
    asked_ = true;
    exchange_.send(owner_, *request);
}

void JobRunner::give(const jobs::Outcome& outcome) {
    if (!running_ || !reading_) {
        return;
    }
    reading_ = false;
    job_->take(outcome);
    step();
}

void JobRunner::heard(const jobs::Outcome& outcome) {
    if (!running_ || !asked_) {
        return;
    }
    asked_ = false;
    job_->take(outcome);
    if (std::exchange(cancelWanted_, false)) {
        told_ = true;
        job_->cancel();
    }
    step();
}

} // namespace app
