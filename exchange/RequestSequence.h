// The course of a run of requests that the window sends one after another (Read All, the set commands
// of Write All): which step comes next, when a step is over, and how the run ended. Plain C++: the
// window sends each step through the exchange and reports what the exchange did; this class only
// decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

struct SequenceStep {
    std::string title; // for people: "system parameters", "analog output DOUTA0"
    // The pending command the step's request records. A query's step is over once its reply was
    // decoded under this code; a set command's (pending::SetCommand) once its reply was handled.
    int32_t pendingCommand = 0;
};

class RequestSequence {
public:
    enum class End {
        None,        // still running
        Finished,    // every step over
        Cancelled,   // the user stopped it
        TimedOut,    // a step got no reply (only when the run stops on a timeout)
        NotSent,     // a step's request was refused or not written
        BadReply,    // a step's reply was not the whole answer it waits for (cut, refused, damaged...)
        Interrupted, // another request went out while a step waited for its reply
        PortClosed,  // the port was closed or lost
    };

    // `stopOnTimeout`: a query that gets no reply ends the run (Read All); otherwise the run goes on
    // with the next step (each set command of Write All after the previous one's reply or timeout).
    RequestSequence(std::vector<SequenceStep> steps, bool stopOnTimeout);

    const std::vector<SequenceStep>& steps() const { return steps_; }
    // The step under way, or the one that ended the run; steps().size() once finished.
    std::size_t current() const { return current_; }
    // Steps that are over (answered, or timed out where the run goes on): all before the current one.
    std::size_t completed() const { return current_; }
    End end() const { return end_; }
    bool over() const { return end_ != End::None; }
    // The timeout's message, the refusal's, or what was wrong with the reply, that ended the run;
    // empty otherwise.
    const std::string& endMessage() const { return endMessage_; }
    // Whether the step under way when the run ended had gone out and was waiting for its reply (the
    // converter may have taken it).
    bool endedInFlight() const { return endedInFlight_; }
    const std::vector<std::size_t>& timedOutSteps() const { return timedOut_; }

    bool readyToSend() const { return phase_ == Phase::Ready; }

    // The window is about to send the current step: what the exchange reports until sendFinished()
    // belongs to it.
    void sending();
    // The step's send returned. If the exchange reported neither a frame written nor a refusal,
    // nothing went out (a disabled button, a handler that stopped): the run ends as NotSent.
    void sendFinished();

    // Events of the exchange. Each returns true when the run moved on: the next step is ready to
    // send, or the run is over.
    bool frameSent(bool written);
    bool requestRefused(std::string_view message);
    // The receive handler finished a block that arrived under `pendingBefore`.
    bool blockHandled(int32_t pendingBefore);
    // ... and the block, the reply the step waits for by its code, is not the whole answer: `cause`
    // says what it is. Ends the run (BadReply).
    bool replyRejected(int32_t pendingBefore, std::string_view cause);
    // The parse timer's decoder ran under `pendingCommand`.
    bool replyDecoded(int32_t pendingCommand);
    // The reply timer ran out and its message was shown.
    bool timeoutHandled(std::string_view message);
    bool portClosed();
    bool cancel();

private:
    enum class Phase { Ready, Sending, Waiting, Over };

    // The current step was sent and waits for its reply under `pendingCommand`.
    bool waitingFor(int32_t pendingCommand) const;
    bool stepOver();
    bool stop(End end, std::string_view message = {});

    std::vector<SequenceStep> steps_;
    bool stopOnTimeout_;
    Phase phase_ = Phase::Ready;
    std::size_t current_ = 0;
    bool endedInFlight_ = false;
    End end_ = End::None;
    std::string endMessage_;
    std::vector<std::size_t> timedOut_;
};

} // namespace exchange
