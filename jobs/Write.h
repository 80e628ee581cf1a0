// Sending set commands with their account: each goes out once the one before was acknowledged, the
// first refused or unanswered ends the run, and the account says what was acknowledged, what went out
// without an answer (the converter may have taken it), what was not sent, whether that leaves the
// converter partly configured and what to do next. Write All and restore put that between a read of
// the converter (to plan what differs) and a read back (to see what took).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/Account.h"
#include "jobs/Read.h"

namespace jobs {

// One set command of a run.
struct SetCommand {
    std::string key;   // "MD", "BA1", "RESET"
    std::string title; // "working mode"
    std::string frame;
    // The RS485 port's settings it gives the converter, when it changes them: the line follows them
    // once it is acknowledged, if the line runs at the converter's RS485 settings.
    std::optional<Request::LineSettings> rs485;
    // What the converter may hold if it took the command unheard, and how to reach it then.
    std::string mayHold;
};

// The set commands of a plan, made from the configuration they leave (the converter's values with
// the target's over them).
std::vector<SetCommand> SetCommandsOf(const std::vector<profile::PlannedFrame>& plan,
                                      const profile::Configuration& merged);

struct SentCommand {
    std::string key;
    std::string frame;
    std::string reply;   // the block that came
    std::string verdict; // the interpreter's
};

struct SendResult {
    Account account;
    std::vector<SentCommand> sent;
    std::vector<std::string> notes; // "the line now runs at 19200 baud, parity even, ..."
    std::optional<Stop> stop;
};

struct SendOptions {
    std::vector<SetCommand> commands;
    // The line the front end runs at, when it is the converter's RS485 port: it follows an
    // acknowledged change of that port. Nothing: the line is not followed.
    std::optional<Request::LineSettings> line;
    std::string again; // the next step when a run stops: "run the same restore again"
};

class SendJob : public Script {
public:
    explicit SendJob(SendOptions options);
    const SendResult& result() const { return result_; }

private:
    Body run() override;
    SendOptions options_;
    SendResult result_;
};

struct WriteOptions {
    profile::Configuration target;
    std::vector<profile::Query> readFirst;     // read to plan what differs and fill what a frame carries
    std::vector<std::size_t> mustRead;         // a problem reading one of these stops it (unless `anyway`)
    std::vector<profile::Query> readBack;      // read after sending, compared with the target
    bool all = false;                          // send every set command, not only those that differ
    bool anyway = false;                       // plan and send even when `mustRead` could not all be read
    bool dryRun = false;                       // plan only
    std::optional<Request::LineSettings> line; // see SendOptions::line
    std::string again;
};

struct WriteResult {
    enum class End {
        Done,        // sent and read back, every value took
        Differs,     // read back, some values did not take
        Unreadable,  // the values needed to plan could not be read: nothing sent
        BadPlan,     // a value no frame can carry: nothing sent
        Planned,     // a dry run: the plan only
        NothingToDo, // the converter already holds the target
        Stopped,     // a request without its answer (see stop)
    };
    End end = End::Done;
    ReadResult before;
    std::vector<profile::Problem> problems; // Unreadable: those of mustRead
    std::string badPlan;                    // BadPlan: why
    std::vector<profile::PlannedFrame> plan;
    SendResult send;
    ReadResult after;
    std::vector<profile::Difference> differences;
    std::optional<Stop> stop; // of whichever read or send stopped it
};

class WriteJob : public Script {
public:
    explicit WriteJob(WriteOptions options) : options_(std::move(options)) {}
    const WriteResult& result() const { return result_; }

private:
    Body run() override;
    // Whether `stop` ends the write, as a stop of its own.
    bool stopped(const std::optional<Stop>& stop);
    WriteOptions options_;
    WriteResult result_;
};

} // namespace jobs
