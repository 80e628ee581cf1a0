// A job written as one straight sequence: a coroutine that asks for each request and reads its
// outcome where it asked (`Outcome o = co_await ask(request);`), so a job with a branch, a loop and a
// clean-up (check: switch the mode, read, put the mode back even after a fault) reads top to bottom
// instead of as a hand-made state machine. The front ends only see Job's next(), take() and cancel().
#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

#include "jobs/Job.h"

namespace jobs {

class Script : public Job {
public:
    Script() = default;
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;
    ~Script() override;

    std::optional<Request> next() final;
    void take(const Outcome& outcome) final;
    // From now on every request but one that restores gets Interrupted without going out.
    void cancel() final;
    bool cancelled() const { return cancelled_; }
    // The sequence ran to its end: the result is complete.
    bool over() const;

protected:
    // The coroutine's handle, owned.
    class Body {
    public:
        struct promise_type {
            Body get_return_object() {
                return Body(std::coroutine_handle<promise_type>::from_promise(*this));
            }
            std::suspend_always initial_suspend() noexcept { return {}; }
            std::suspend_always final_suspend() noexcept { return {}; }
            void return_void() {}
            void unhandled_exception() { error = std::current_exception(); }
            std::exception_ptr error;
        };
        Body() = default;
        explicit Body(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
        Body(Body&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
        Body& operator=(Body&& other) noexcept;
        ~Body();
        std::coroutine_handle<promise_type> handle() const { return handle_; }

    private:
        std::coroutine_handle<promise_type> handle_;
    };

    // The sequence; started by the first next().
    virtual Body run() = 0;

    class Asked {
    public:
        Asked(Script& script, Request request) : script_(script), request_(std::move(request)) {}
        bool await_ready();
        void await_suspend(std::coroutine_handle<>) noexcept;
        Outcome await_resume();

    private:
        Script& script_;
        Request request_;
    };
    // co_await ask(request): the request goes out through the front end and its outcome comes back.
    Asked ask(Request request) { return Asked(*this, std::move(request)); }

    class Driven {
    public:
        Driven(Script& script, Job& job) : script_(script), job_(job) {}
        bool await_ready();
        void await_suspend(std::coroutine_handle<>) noexcept;
        void await_resume();

    private:
        Script& script_;
        Job& job_;
    };
    // co_await drive(job): another job runs to its end inside this one, its requests going out as this
    // one's (cancelled with it); its result is then complete.
    Driven drive(Job& job) { return Driven(*this, job); }

public:
    // The converter's RS485 port changed and the line follows it: the next request this job asks
    // carries the new settings (Request::line).
    void followLine(Request::LineSettings settings) { lineChange_ = std::move(settings); }
    // A change no request of this job carried yet (it ended first): the job around it passes it on.
    const std::optional<Request::LineSettings>& unsentLine() const { return lineChange_; }

private:
    void resume();
    Request withLineChange(Request request);

    Body body_;
    bool started_ = false;
    bool cancelled_ = false;
    std::optional<Request> asked_; // waiting for its outcome
    std::optional<Outcome> answer_;
    Job* sub_ = nullptr; // the job co_await drive() runs
    // A block after a cut reply may be only its rest: the query that gets it is asked once more, so
    // the rest is never charged to the request after the cut one.
    bool lastWasCut_ = false;
    bool askedAgain_ = false;
    std::optional<Request::LineSettings> lineChange_;
};

} // namespace jobs
