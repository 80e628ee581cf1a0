// A run of requests, one after another.
#include "app/RequestSequence.h"

#include "app/Exchange.h"

namespace app {

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
        reported_ = false;
    }
}

void RequestSequence::sendFinished() {
    if (phase_ == Phase::Sending && !reported_) {
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
    reported_ = true;
    if (!written) {
        return stop(End::NotSent);
    }
    phase_ = Phase::Waiting;
    return false;
}

bool RequestSequence::requestRefused(std::string_view message) {
    if (phase_ == Phase::Over) {
        return false;
    }
    if (phase_ != Phase::Sending) {
        // A request the user tried to send in the meantime: it changed nothing on the line.
        return false;
    }
    reported_ = true;
    return stop(End::NotSent, message);
}

bool RequestSequence::blockHandled(int32_t pendingBefore) {
    if (phase_ != Phase::Waiting || steps_[current_].pendingCommand != pending::SetCommand ||
        pendingBefore != pending::SetCommand) {
        return false;
    }
    return stepOver();
}

bool RequestSequence::replyRejected(int32_t pendingBefore, std::string_view cause) {
    if (phase_ != Phase::Waiting || steps_[current_].pendingCommand != pendingBefore) {
        return false;
    }
    return stop(End::BadReply, cause);
}

bool RequestSequence::replyDecoded(int32_t pendingCommand) {
    if (phase_ != Phase::Waiting) {
        return false;
    }
    const int32_t expected = steps_[current_].pendingCommand;
    if (expected == pending::SetCommand || pendingCommand != expected) {
        return false;
    }
    return stepOver();
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
    return phase_ == Phase::Over ? false : stop(End::PortClosed);
}

bool RequestSequence::cancel() {
    return phase_ == Phase::Over ? false : stop(End::Cancelled);
}

bool RequestSequence::stepOver() {
    ++completed_;
    ++current_;
    if (current_ == steps_.size()) {
        phase_ = Phase::Over;
        end_ = End::Finished;
    } else {
        phase_ = Phase::Ready;
    }
    return true;
}

bool RequestSequence::stop(End end, std::string_view message) {
    endedInFlight_ = phase_ == Phase::Waiting;
    phase_ = Phase::Over;
    end_ = end;
    endMessage_ = std::string(message);
    return true;
}

} // namespace app
