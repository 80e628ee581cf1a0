// One port's run of a vx538 command: its line and the requests it makes (each read against the
// traffic interpreter and logged).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/Line.h"
#include "inspection/ChangeWatch.h"
#include "traffic/Interpreter.h"
#include "traffic/LineFile.h"
#include "traffic/Recorder.h"

namespace cli {

// Ends a port's command with an exit code and what to tell the user.
class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& message, bool requestWritten = false)
        : std::runtime_error(message), code_(exitCode), requestWritten_(requestWritten) {}
    int code() const { return code_; }
    // A request ended without its answer after it went onto the line: the converter may have taken it.
    bool requestWritten() const { return requestWritten_; }

private:
    int code_;
    bool requestWritten_;
};

// The --log file, shared by the workers of every port: lines in the window's log format, each
// naming its port.
class TrafficLog {
public:
    // Opens --log's file, none when `path` is empty; Failure(BadFile) when it cannot be.
    void open(const std::string& path);
    bool isOpen() const { return file_.isOpen() || !failure_.empty(); }
    void write(const traffic::Event& event, std::string_view port);
    // "cannot write FILE: reason" once a line did not go in; empty while every line did.
    std::string failure() const;

private:
    mutable std::mutex mutex_;
    traffic::LineFile file_;
    std::string path_;
    std::string failure_;
};

// A request's reply as the command sees it.
struct Answer {
    Reply reply;
    traffic::Reading reading; // the interpreter's meaning and verdict of the received bytes
};

class Session {
public:
    // `changes`: the change log every set command on this port is logged to (none: not logged).
    Session(LineOptions options, const serial::EventFd& stop, TrafficLog* log,
            const TransportMaker& transport = nullptr, inspection::ChangeLog* changes = nullptr);

    Line& line() { return line_; }
    const std::string& port() const { return line_.options().port; }

    // Opens the port; Failure(PortUnusable) with the reason otherwise.
    void open();

    // Writes the frame under the window's pending command code, reads the reply: to its end as the
    // interpreter reads it against the request, or to the gap without a pending command (a raw frame).
    // Failure(NoReply) when nothing came (queries are resent --retries times first), Failure(Interrupted)
    // on Ctrl+C, Failure(BadFile) before anything is sent once the --log file took no more lines (a
    // run must not go on unrecorded when a record was asked for).
    Answer request(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what);
    // The same without the failures: the reply as it ended (reply.end says how), read against the
    // request when bytes came.
    // `despiteLog`: it goes out even once the traffic log cannot be written (a request that puts back
    // what a job changed); otherwise that failure is raised before anything is sent.
    Answer exchange(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what,
                    bool despiteLog = false);
    // Why nothing came: "within 1000 ms (sent 2 times)"; and why the line went: "the line to /dev/ttyUSB0
    // was lost (adapter unplugged?)", or a network port's words.
    std::string silenceWords(const Answer& answer) const;
    std::string lostWords() const;

    // A session on the same port, with the same log and transport, that listens to `stop` instead:
    // to put something back after Ctrl+C stopped this one's waits. Not opened.
    std::unique_ptr<Session> detached(const serial::EventFd& stop) const;

    // The line went away during a request (the Failure said so): it will not come back by itself.
    bool lineLost() const { return lineLost_; }

    // Where a network server set the line otherwise than asked ("the server set 9600 baud where
    // 19200 was asked"), as far as its confirmations have come in.
    const std::vector<std::string>& lineDifferences() const { return lineDifferences_; }

    // Before its first set command the session asks the communication query and the system parameters,
    // where they were not read yet, so the change log names the converter's version and slave address.
    // For the commands that set things; a raw frame goes out alone.
    void identifyBeforeSets() { identify_ = changes_ && changes_->enabled(); }
    inspection::ChangeLog* changeLog() const { return changes_; }
    // The set commands seen on this port, whatever came of them (in the file when the log is on).
    std::vector<inspection::Change> changesLogged() const {
        return watch_ ? watch_->logged() : std::vector<inspection::Change>{};
    }

private:
    void collectLineDifferences();
    void identify();

    LineOptions options_;
    TransportMaker transport_;
    const serial::EventFd& stop_;
    Line line_;
    TrafficLog* log_;
    traffic::Recorder recorder_{1};
    bool lineLost_ = false;
    std::string lastRequest_;
    std::vector<std::string> lineDifferences_;
    inspection::ChangeLog* changes_;
    std::optional<inspection::ChangeWatch> watch_;
    bool identify_ = false;
};

} // namespace cli
