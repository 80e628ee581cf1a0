// The stepping of a job written as a coroutine.
#include "jobs/Script.h"

namespace jobs {

Script::Body& Script::Body::operator=(Body&& other) noexcept {
    if (this != &other) {
        if (handle_) {
            handle_.destroy();
        }
        handle_ = std::exchange(other.handle_, {});
    }
    return *this;
}

Script::Body::~Body() {
    if (handle_) {
        handle_.destroy();
    }
}

Script::~Script() = default;

bool Script::over() const {
    return started_ && (!body_.handle() || body_.handle().done());
}

void Script::cancel() {
    cancelled_ = true;
    if (sub_) {
        sub_->cancel();
    }
}

void Script::resume() {
    const auto handle = body_.handle();
    if (!handle || handle.done()) {
        return;
    }
    handle.resume();
    if (handle.promise().error) {
        std::rethrow_exception(std::exchange(handle.promise().error, nullptr));
    }
}

std::optional<Request> Script::next() {
    if (!started_) {
        started_ = true;
        body_ = run();
        resume();
    }
    for (;;) {
        if (asked_) {
            if (!cancelled_ || asked_->restores) {
                return asked_; // still waiting for its outcome
            }
            // Cancelled while it was out: the front end drops its reply, the sequence hears it stopped.
            take(Interrupted("cancelled", true));
            continue;
        }
        if (sub_) {
            if (std::optional<Request> request = sub_->next()) {
                asked_ = withLineChange(std::move(*request));
                continue;
            }
            sub_ = nullptr; // it is over: the sequence goes on after its co_await
        } else if (!answer_) {
            return std::nullopt; // the sequence ended
        }
        resume();
    }
}

void Script::take(const Outcome& outcome) {
    if (!asked_) {
        return; // nothing was asked: an outcome for no request changes nothing
    }
    if (sub_) {
        asked_.reset();
        sub_->take(outcome); // the job it runs keeps its own account of cut replies
        return;
    }
    if (lastWasCut_ && !askedAgain_ && asked_->query && outcome.kind == Outcome::Kind::Unexpected) {
        askedAgain_ = true;
        lastWasCut_ = false;
        return; // next() gives the same request again
    }
    askedAgain_ = false;
    lastWasCut_ = outcome.kind == Outcome::Kind::Cut;
    answer_ = outcome;
    asked_.reset();
}

Request Script::withLineChange(Request request) {
    if (lineChange_) {
        request.line = std::exchange(lineChange_, std::nullopt);
    }
    return request;
}

bool Script::Asked::await_ready() {
    if (script_.cancelled_ && !request_.restores) {
        script_.answer_ = Interrupted("cancelled", false);
        return true; // never goes out
    }
    return false;
}

void Script::Asked::await_suspend(std::coroutine_handle<>) noexcept {
    script_.asked_ = script_.withLineChange(std::move(request_));
}

Outcome Script::Asked::await_resume() {
    Outcome outcome = std::move(*script_.answer_);
    script_.answer_.reset();
    return outcome;
}

bool Script::Driven::await_ready() {
    if (script_.cancelled_) {
        job_.cancel();
    }
    script_.sub_ = &job_;
    return false;
}

void Script::Driven::await_suspend(std::coroutine_handle<>) noexcept {}

void Script::Driven::await_resume() {
    // A change of line the job made and no request of it carried: the next request here carries it.
    if (const auto* script = dynamic_cast<const Script*>(&job_); script && script->unsentLine()) {
        script_.followLine(*script->unsentLine());
    }
}

} // namespace jobs
