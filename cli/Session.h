// One port's run of a vx538 command: its line, what it prints for people, its JSON object for
// scripts, and the requests it makes (each read against the traffic interpreter and logged).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/Line.h"
#include "profile/Configuration.h"
#include "traffic/Interpreter.h"
#include "traffic/LineFile.h"
#include "traffic/Recorder.h"

namespace cli {

using Json = nlohmann::ordered_json;

// Exit codes, documented in --help and the README.
namespace code {
inline constexpr int Done = 0;
inline constexpr int Differences = 1;  // verify or diff found differences
inline constexpr int Usage = 2;        // bad usage or a bad value
inline constexpr int PortUnusable = 3; // the port cannot be opened
inline constexpr int NoReply = 4;
inline constexpr int Unexpected = 5;  // a reply that is not what the command expects
inline constexpr int HartSilent = 6;  // the HART instrument did not answer
inline constexpr int ModbusFault = 7; // CRC wrong or an exception reply
inline constexpr int BadFile = 8;     // a file that cannot be read or is not a configuration file
inline constexpr int Mixed = 10;      // several ports failed in different ways
inline constexpr int Interrupted = 130;
} // namespace code

// Ends a port's command with an exit code and what to tell the user.
class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& message) : std::runtime_error(message), code_(exitCode) {}
    int code() const { return code_; }

private:
    int code_;
};

// The --log file, shared by the workers of every port: lines in the window's log format, each
// naming its port.
class TrafficLog {
public:
    // The reason it cannot be opened, or an empty text.
    std::string open(const std::string& path);
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
    Session(LineOptions options, const serial::EventFd& stop, TrafficLog* log);

    Line& line() { return line_; }
    const std::string& port() const { return line_.options().port; }

    // Opens the port; Failure(PortUnusable) with the reason otherwise.
    void open();

    // Writes the frame under the window's pending command code, reads the reply. Failure(NoReply) when
    // nothing came (queries are resent --retries times first), Failure(Interrupted) on Ctrl+C.
    Answer request(std::string_view frame, const ReplyShape& shape, int32_t pendingCommand, bool isQuery,
                   std::string_view what);

    // Sends one of the configuration queries and decodes its reply into `values`. Problems with the
    // reply are returned (the caller decides whether they end the command).
    std::vector<std::string> query(profile::Query query, profile::Configuration& values, std::string* raw = nullptr);

    // For people, and for scripts. Lines end in "\n".
    std::string text;
    Json json = Json::object();

private:
    LineOptions options_;
    Line line_;
    TrafficLog* log_;
    traffic::Recorder recorder_{1};
    std::string lastRequest_;
};

// The pending command code the window records for a query's reply.
int32_t PendingFor(profile::Query query);

} // namespace cli
