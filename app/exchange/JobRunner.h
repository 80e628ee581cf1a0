// Steps one job of jobs/ through the window's job queue: next() gives the request, the queue sends it
// in its turn, take() hears what came of it, until next() has nothing more and the job's result is
// complete. The window that owns the runner shows that result; it never decides anything itself.
#pragma once

#include <functional>
#include <memory>

#include <QObject>

#include "app/exchange/JobExchange.h"
#include "jobs/Job.h"

namespace app {

class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(JobExchange& exchange, QObject* parent = nullptr);
    ~JobRunner() override;

    // Steps `job` from its first request; `over` runs once it has no more (also when it had none).
    // A job still running is cancelled and forgotten first. The runner owns the job until the next
    // start; its result stays readable through the pointer the caller kept.
    void start(std::unique_ptr<jobs::Job> job, std::function<void()> over);
    // The job is told to stop: a request still in line is withdrawn (heard as interrupted), one on the
    // line ends first; whatever the job still asks after that (putting a mode back) goes out, and
    // `over` runs when it has no more. Once told, the job is not told again: a second cancel never
    // withdraws what it puts back.
    void cancel();
    bool running() const { return running_; }

    // Each request as it joins the queue, for a window's progress text.
    std::function<void(const jobs::Request&)> onRequest;
    // A loop reading (or the meter's leads moved) is no request on the converter's line: the window
    // gets it here, and gives what came of it (a reading, or why there is none) to give(). Unset, the
    // job hears there is no way to read the loop current.
    std::function<void(const jobs::Request&)> onReading;
    void give(const jobs::Outcome& outcome);
    // A loop reading is asked and not yet given.
    bool readingWanted() const { return running_ && reading_; }

private:
    void step();
    void heard(const jobs::Outcome& outcome);

    JobExchange& exchange_;
    exchange::Owner owner_;
    std::unique_ptr<jobs::Job> job_;
    std::function<void()> over_;
    bool running_ = false;
    bool asked_ = false;        // a request of the job is in the queue or on the line
    bool cancelWanted_ = false; // cancel once the request on the line has ended
    bool told_ = false;         // the job was told to stop: what it asks now puts things back
    bool reading_ = false;      // the job waits for a loop reading given by the window
};

} // namespace app
