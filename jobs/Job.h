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
#include <vector>

#include "traffic/Interpreter.h"

namespace jobs {

// A request a job wants on the line.
struct Request {
    std::string frame;   // the bytes, as written
    int32_t pending = 0; // the pending command code its reply is read under (traffic::pending)
    bool query = false;  // may be sent again after silence; a set command never is
    bool showHex = false; // the window's send field shows it as hex pairs
    std::string what;    // for people: "the system parameters query", "HART command 0 at address 5"
    // It puts back what the job changed (a working mode): it still goes out after cancel(), over a
    // line opened again for it when the front end's own wait was what the person stopped.
    bool restores = false;
    // The converter's RS485 port now runs at other settings: the line follows them from this request on
    // (nothing: the line stays as it is). A front end that cannot follow sends as it is.
    struct LineSettings {
        uint32_t baud = 9600;
        std::string parity = "none"; // "none", "odd", "even", as rs485.parity names them
        bool operator==(const LineSettings&) const = default;
    };
    std::optional<LineSettings> line;
    // Not for the converter's line: the loop current of an analog output, read where the front end
    // takes readings (a bench meter on its own line, sent `frame`; a file; the person). Its outcome is
    // Whole with the reading in mA as decimal text in `block`, Silence when none came, Unexpected with
    // `reason` when what came is no reading, Interrupted when the person stopped.
    struct LoopReading {
        int output = 0;     // 0 for DOUTA0
        double pointMa = 0; // the point driven
        std::string testValue;
        double expectedMa = 0;
    };
    std::optional<LoopReading> loopReading;
    // Not for the converter's line either: before the first point of each output, when a loop check
    // reads more than one, the meter's leads go to that output's loop. A front end that reads no
    // meter answers Whole at once; one that does asks the person, Interrupted when they stop.
    std::optional<int> meterLeads;

    bool hart() const;   // HART through the converter: silence may mean transparent mode is off
    bool modbus() const; // the MODBUS read of the converter's registers
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
    // For LineLost and Interrupted: whether the request had gone onto the line (the converter may have
    // taken it). Every other kind but NotSent went out.
    bool sent = true;

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
// A frame or reply for people: text frames as they stand, any other bytes (HART, MODBUS, noise) as
// hex pairs.
std::string FrameText(std::string_view frame);

// Outcomes a front end makes without a block.
Outcome Silence();
Outcome LineLost(std::string reason, bool sent);
Outcome NotSent(std::string reason);
Outcome Interrupted(std::string reason = "interrupted", bool sent = false);

// Why a job ended before it was done: the request it was at, what came of it, and what it did not
// reach. Every job's result carries one when it stopped.
struct Stop {
    Outcome::Kind kind = Outcome::Kind::Silence;
    Request request;
    std::string text;                    // "no reply to HART command 0 at address 5 (...)"
    std::vector<std::string> notReached; // "registers 40003-40018", "addresses 6 to 15"
    std::string received;                // what arrived when something did, as FrameText gives it

    // text, then "; not reached: a, b" when something was not.
    std::string sentence() const;
};
// The stop of `request` by `outcome`, in the words both front ends print: the request named, what
// came of it, the interpreter's meaning of what arrived when something did.
Stop StopOf(const Request& request, const Outcome& outcome, std::vector<std::string> notReached = {});

class Job {
public:
    virtual ~Job() = default;
    // The request to send now, or nothing once the job is over (its result is then complete). Asked
    // again before take(), it gives the same request (the front end may send it again).
    virtual std::optional<Request> next() = 0;
    // What came of the request next() gave last.
    virtual void take(const Outcome& outcome) = 0;
    // The person or the program stops the job: next() gives nothing more and the result says what
    // was not reached. A job that must put something back (a working mode) may still ask for it.
    virtual void cancel() = 0;
};

} // namespace jobs
