// One poll of the variables' registers.
#include "jobs/LivePoll.h"

#include "tools/Bytes.h"

namespace jobs {

Request RegistersRequest(int slaveAddress) {
    Request request;
    request.frame = std::string(tools::asText(profile::VariablesRequest(slaveAddress)));
    request.pending = traffic::pending::ModbusTest;
    request.query = true;
    request.showHex = true;
    request.what = "the MODBUS read of 40003-40018 at slave " + std::to_string(slaveAddress);
    return request;
}

bool PollResult::ended() const {
    return missed && (missed->kind == Outcome::Kind::LineLost || missed->kind == Outcome::Kind::NotSent ||
                      missed->kind == Outcome::Kind::Interrupted);
}

Script::Body LivePollJob::run() {
    const Request request = RegistersRequest(mapping_.slaveAddress);
    const Outcome outcome = co_await ask(request);
    const auto registers = outcome.whole() ? profile::RegistersOfReply(tools::bytesOf(outcome.frame()),
                                                                       tools::bytesOf(request.frame))
                                           : std::nullopt;
    if (registers) {
        result_.sample = profile::SampleOfRegisters(*registers, mapping_);
    } else {
        result_.missed = StopOf(request, outcome);
    }
}

} // namespace jobs
