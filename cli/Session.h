// One port's run of a vx538 command: its line and the requests it makes (each read against the
// traffic interpreter and logged).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cli/ExitCodes.h"
#include "cli/Line.h"
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
    bool isOpen() const { return file_.isOpen(); }
    void write(const traffic::Event& event, std::string_view port);

private:
    std::mutex mutex_;
    traffic::LineFile file_;
};

// A request's reply as the command sees it.
struct Answer {
    Reply reply;
    traffic::Reading reading; // the interpreter's meaning and verdict of the received bytes
};

class Session {
public:
    Session(LineOptions options, const serial::EventFd& stop, TrafficLog* log,
            const TransportMaker& transport = nullptr);

    Line& line() { return line_; }
    const std::string& port() const { return line_.options().port; }

    // Opens the port; Failure(PortUnusable) with the reason otherwise.
    void open();

    // Writes the frame under the window's pending command code, reads the reply: to its end as the
    // interpreter reads it against the request, or to the gap without a pending command (a raw frame).
    // Failure(NoReply) when nothing came (queries are resent --retries times first), Failure(Interrupted)
    // on Ctrl+C.
    Answer request(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what);
    // The same without the failures: the reply as it ended (reply.end says how), read against the
    // request when bytes came.
    Answer exchange(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what);
    // Why nothing came: "within 1000 ms (sent 2 times)"; and why the line went: "the line to /dev/ttyUSB0
    // was lost (adapter unplugged?)", or a network port's words.
    std::string silenceWords(const Answer& answer) const;
    std::string lostWords() const;

    // A session on the same port, with the same log and transport, that listens to `stop` instead:
    // to put something back after Ctrl+C stopped this one's waits. Not opened.
    std::unique_ptr<Session> detached(const serial::EventFd& stop) const;

    // The line went away during a request (the Failure said so): it will not come back by itself.
    bool lineLost() const { return lineLost_; }

private:
    LineOptions options_;
    TransportMaker transport_;
    Line line_;
    TrafficLog* log_;
    traffic::Recorder recorder_{1};
    bool lineLost_ = false;
    std::string lastRequest_;
};

} // namespace cli
