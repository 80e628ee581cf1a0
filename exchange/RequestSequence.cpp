// A run of requests, one after another.
#include "exchange/RequestSequence.h"

#include "exchange/Rules.h"

namespace exchange {

RequestSequence::RequestSequence(std::vector<SequenceStep> steps, bool stopOnTimeout)
    : steps_(std::move(steps)), stopOnTimeout_(stopOnTimeout) {
    if (steps_.empty()) {
        phase_ = Phase::Over;
        end_ = End::Finished;
    }
}

void RequestSequence::sending() {
    if (phase_ == Phase::Ready) {
        phase_ = Phase::Sending;
    }
}

void RequestSequence::sendFinished() {
    // Still sending: the exchange reported neither a frame nor a refusal.
    if (phase_ == Phase::Sending) {
        stop(End::NotSent);
    }
}

bool RequestSequence::frameSent(bool written) {
    if (phase_ == Phase::Over) {
        return false;
    }
    if (phase_ != Phase::Sending) {
        // Only the run sends while it runs; anything else takes the exchange away from its step.
        return stop(End::Interrupted);
    }
    if (!written) {
        return stop(End::NotSent);
    }
    phase_ = Phase::Waiting;
    return false;
}

bool RequestSequence::requestRefused(std::string_view message) {
    // Outside the step's send, a request the user tried to send in the meantime (or after the end): it
    // changed nothing on the line.
    return phase_ == Phase::Sending && stop(End::NotSent, message);
}

bool RequestSequence::waitingFor(int32_t pendingCommand) const {
    return phase_ == Phase::Waiting && steps_[current_].pendingCommand == pendingCommand;
}

bool RequestSequence::blockHandled(int32_t pendingBefore) {
    return pendingBefore == pending::SetCommand && waitingFor(pending::SetCommand) && stepOver();
}

bool RequestSequence::replyRejected(int32_t pendingBefore, std::string_view cause) {
    return waitingFor(pendingBefore) && stop(End::BadReply, cause);
}

bool RequestSequence::replyDecoded(int32_t pendingCommand) {
    return pendingCommand != pending::SetCommand && waitingFor(pendingCommand) && stepOver();
}

bool RequestSequence::timeoutHandled(std::string_view message) {
    if (phase_ != Phase::Waiting) {
        return false;
    }
    if (stopOnTimeout_) {
        return stop(End::TimedOut, message);
    }
    timedOut_.push_back(current_);
    return stepOver();
}

bool RequestSequence::portClosed() {
    return phase_ != Phase::Over && stop(End::PortClosed);
}

bool RequestSequence::cancel() {
    return phase_ != Phase::Over && stop(End::Cancelled);
}

bool RequestSequence::stepOver() {
    ++current_;
    phase_ = current_ == steps_.size() ? Phase::Over : Phase::Ready;
    end_ = current_ == steps_.size() ? End::Finished : End::None;
    return true;
}

bool RequestSequence::stop(End end, std::string_view message) {
    endedInFlight_ = phase_ == Phase::Waiting;
    phase_ = Phase::Over;
    end_ = end;
    endMessage_ = std::string(message);
    return true;
}

} // namespace exchange
