// A job of more than one request (read the mapping, check, instrument scan, reply fields, register map,
// a live poll, Read All, Write All and restore, Compare, loop check), decided once for every front end.
// A job only decides: next() names the frame to send, take() hears what came of it, and once next() has
// nothing more the job's result (its own type, with verdicts and the words both front ends print) is
// ready. No I/O, no clock, no Qt: vx538 steps a job in a loop over its line, the window through its
// exchange's queue, and tests through a table of outcomes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "traffic/Interpreter.h"

namespace jobs {

// A request a job wants on the line.
struct Request {
    std::string frame;   // the bytes, as written
    int32_t pending = 0; // the pending command code its reply is read under (traffic::pending)
    bool query = false;  // may be sent again after silence; a set command never is
    bool showHex = false; // the window's send field shows it as hex pairs
    std::string what;    // for people: "the system parameters query", "HART command 0 at address 5"
};

// What came of a request, as both front ends tell it.
struct Outcome {
    enum class Kind {
        Whole,       // the reply it waits for, whole, its check passing (or a set command acknowledged)
        Refused,     // ":ERR#", or a MODBUS exception
        Cut,         // a reply a pause cut short, or one without a field its reader needs
        Damaged,     // a HART check byte or a MODBUS CRC wrong
        Unexpected,  // something that is not its reply (another command's, an echo only, noise)
        Silence,     // nothing within the time the front end waits
        LineLost,    // the port went away (unplugged, connection dropped)
        NotSent,     // the request never went out (port closed, refused before writing)
        Interrupted, // stopped from outside (Ctrl+C, the window's Cancel)
    };
    Kind kind = Kind::Silence;
    std::string block;       // what arrived (empty on silence)
    traffic::Reading reading; // the interpreter's reading of `block` against the request
    std::string reason;      // for NotSent, LineLost, Interrupted: why, in the front end's words

    // The reply frame the interpreter placed in `block`, without the noise around it (empty when none).
    std::string_view frame() const;
    bool whole() const { return kind == Kind::Whole; }
};

// The kind of outcome a received block is, by the interpreter's verdict.
Outcome::Kind KindOf(const traffic::Reading& reading);
// An outcome for a received block read against its request.
Outcome ReceivedOutcome(std::string block, traffic::Reading reading);
// A few words for people: "no reply", "cut short", "CRC or check byte wrong", "refused", ...
std::string_view OutcomeText(Outcome::Kind kind);

class Job {
public:
    virtual ~Job() = default;
    // The request to send now, or nothing once the job is over (its result is then complete).
    virtual std::optional<Request> next() = 0;
    // What came of the request next() gave last.
    virtual void take(const Outcome& outcome) = 0;
    // The person or the program stops the job: next() gives nothing more and the result says what
    // was not reached. A job that must put something back (a working mode) may still ask for it.
    virtual void cancel() = 0;
};

} // namespace jobs
