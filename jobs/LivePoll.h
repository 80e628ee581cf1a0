// A live poll: one sample of the eight variables as the PLC reads them, registers 40003-40018 decoded
// in each row's word order. A poll without a whole, good reply is a missed sample, marked with why,
// never a sample of zeros.
#pragma once

#include <optional>

#include "jobs/Script.h"
#include "profile/Samples.h"

namespace jobs {

// The read of registers 40003-40018 at `slaveAddress`.
Request RegistersRequest(int slaveAddress);

struct PollResult {
    std::optional<profile::Sample> sample;
    std::optional<Stop> missed; // why there is no sample
    // The line went (or the poll was stopped): no later poll will be answered either.
    bool ended() const;
};

class LivePollJob : public Script {
public:
    explicit LivePollJob(const profile::Mapping& mapping) : mapping_(mapping) {}
    const PollResult& result() const { return result_; }

private:
    Body run() override;
    profile::Mapping mapping_;
    PollResult result_;
};

} // namespace jobs
