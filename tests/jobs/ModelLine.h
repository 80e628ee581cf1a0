// A job's requests answered by the simulated converter's model, with a fault scripted at request N:
// no port, no clock. Each outcome is what the interpreter makes of the bytes, as in the front ends;
// a loop reading is the current the model's output drives, as a meter in its loop would read it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "jobs/Job.h"
#include "sim/Simulator.h"

namespace jobstest {

enum class Fault {
    Silent,     // nothing comes
    Split,      // the reply in two blocks: its first half now, its rest before the next reply
    WrongCheck, // the last byte (HART check byte, MODBUS CRC) changed
    Refusal,    // ":ERR#" for a text command, exception 4 for MODBUS
    LineLost,   // the line goes away: this request and every later one
    NotSent,    // the request never goes out
    Garbage,    // a block that is no reply at all
};

class ModelLine {
public:
    ModelLine();
    sim::Simulator& model() { return simulator_; }
    // The fault at request `n` (1 for the first).
    void fault(int n, Fault fault) { faults_[n] = fault; }

    jobs::Outcome answer(const jobs::Request& request);
    // Steps `job` to its end; returns the requests it sent, in order.
    std::vector<jobs::Request> run(jobs::Job& job, int cancelAfter = 0);
    int requests() const { return count_; }
    // The outputs the meter's leads were asked to move to, in order; asking is no request of the line.
    const std::vector<int>& leadsAsked() const { return leads_; }

private:
    sim::Simulator simulator_;
    std::map<int, Fault> faults_;
    std::string rest_; // of a split reply
    int count_ = 0;
    std::vector<int> leads_;
    bool lost_ = false;
    sim::Millis now_{0};
};

// What the interpreter makes of `block` as the reply to `request`.
jobs::Outcome OutcomeOf(const jobs::Request& request, const std::string& block);

} // namespace jobstest
