// vx538 steps a job synchronously over its session: next() gives the request, the line's answer
// becomes the outcome both front ends mean by it, take() hears it, until the job is over.
#pragma once

#include <functional>

#include "cli/Session.h"
#include "jobs/Job.h"

namespace cli {

// The request written and its reply read, as an outcome: silence, the line lost (or never written),
// Ctrl+C, or the block read against the request. A request that asks the line to follow the
// converter's RS485 port sets the line first.
jobs::Outcome Ask(Session& session, const jobs::Request& request);
// The outcome of an exchange already made.
jobs::Outcome OutcomeOf(const Session& session, const Answer& answer);

// Answers a request that is not for the converter's line (a loop current to read).
using ReadingSource = std::function<jobs::Outcome(const jobs::Request&)>;

// Steps `job` to its end over `session`. A request that puts something back (Request::restores)
// still goes out after Ctrl+C, over the port opened again on a line of its own. A loop reading goes to
// `readings` (without one it is no reading).
void RunJob(Session& session, jobs::Job& job, const ReadingSource& readings = nullptr);

// The exit code of a job that stopped, by what came of the request it stopped at.
int ExitOf(const jobs::Stop& stop);
// Ends the command with that code and the stop's sentence (what was not reached included).
[[noreturn]] void Fail(const jobs::Stop& stop);

} // namespace cli
