// The log of every change made to a converter: one JSON line per parameter a set command carried,
// appended whole (one write on an O_APPEND descriptor under an exclusive flock), so that the window
// and any number of vx538 processes can share one file without ever interleaving their lines.
//
// A line: {"time":"2026-12-10T08:15:02.481Z","user":"anna","host":"bench-3","port":"/dev/ttyUSB0",
//  "slave":"1","converter":"VX538-T-B","command":"DA4","parameter":"ao3.20ma","old":"100","new":"50",
//  "status":"acknowledged","front_end":"vx538"}; "reason" follows for a set that was refused or not
//  answered, which is logged as such and never as a change.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inspection {

// An old value, slave address or converter version this program has not seen on that port.
inline constexpr std::string_view kNotRead = "not read";

struct Change {
    enum class Status { Acknowledged, Refused, Unanswered };
    int64_t timeMs = 0; // since the epoch
    std::string user;
    std::string host;
    std::string port;
    std::string slave{kNotRead};     // the MODBUS slave address as last read on the port
    std::string converter{kNotRead}; // the converter's answer to the communication query
    std::string command;             // the set command's key: "DA4", "MD", "RESET", "PCBSN"
    std::string parameter;           // its table name: "ao3.20ma"; "all" for the reset
    std::string oldValue{kNotRead};  // as last read on the port
    std::string newValue;
    Status status = Status::Acknowledged;
    std::string frontEnd; // "vx538", "window"
    std::string reason;   // refused or unanswered: what came instead of the acknowledgement

    bool operator==(const Change&) const = default;
};

// "acknowledged", "refused", "unanswered".
std::string_view StatusText(Change::Status status);

// The change as one line of JSON, ending in "\n"; any bytes in its texts become valid UTF-8.
std::string ChangeLine(const Change& change);
// A line of the log read back; nothing for a line that is not one.
std::optional<Change> ReadChangeLine(std::string_view line);

struct ChangeLogText {
    std::vector<Change> changes;
    std::size_t unreadable = 0; // lines that are no change (cut by a full disk, edited by hand)
};
ChangeLogText ReadChangeLog(std::string_view text);
// The changes logged on one port (`samePort` tells a logged port name of it) from `sinceMs` on, in the
// log's order: what an inspection paused as found lists as made meanwhile.
std::vector<Change> ChangesSince(const ChangeLogText& log, int64_t sinceMs,
                                 const std::function<bool(const std::string& port)>& samePort);

// "2026-12-10T08:15:02.481Z", and read back (only in that form).
std::string UtcTimeText(int64_t epochMs);
std::optional<int64_t> ReadUtcTime(std::string_view text);
// A time as --since takes it: "2026-12-10", "2026-12-10T08:15" or "2026-12-10 08:15:02" (local time,
// or UTC with a trailing "Z"), or a span before `nowMs`: "90s", "30m", "2h", "7d". Nothing otherwise.
std::optional<int64_t> ReadSince(std::string_view text, int64_t nowMs);

struct ChangeFilter {
    std::string port; // empty: every port
    std::optional<int64_t> sinceMs;
    std::string parameter; // empty: every parameter; a reset matches every parameter
};
bool Matches(const Change& change, const ChangeFilter& filter);

// $XDG_STATE_HOME/vx538/changes.jsonl, with ~/.local/state for an unset or relative XDG_STATE_HOME.
std::string DefaultChangeLogPath();
// The login name of the effective user ($USER when it has no entry), and the host's name.
std::string CurrentUser();
std::string HostName();

// Appends `lines` to `path` in one write, under an exclusive flock, creating the file (0644) and its
// folder (0700) when missing. Returns why it could not, or nothing.
std::optional<std::string> AppendLines(const std::string& path, std::string_view lines);

// The log a program writes: its file (none when disabled), who writes, and the one warning a failed
// write gives. Safe to share between the threads of several ports.
class ChangeLog {
public:
    // `path` empty: nothing is written. `warn` hears once why the log could not be written.
    ChangeLog(std::string path, std::string frontEnd, std::function<void(const std::string&)> warn);

    bool enabled() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    const std::string& frontEnd() const { return frontEnd_; }
    const std::string& user() const { return user_; }
    const std::string& host() const { return host_; }

    // Appends the changes, one line each, in one write; a failure is said once (the first) and
    // otherwise only remembered. Returns whether they are in the file.
    bool write(const std::vector<Change>& changes);
    bool failed() const;

private:
    std::string path_;
    std::string frontEnd_;
    std::string user_;
    std::string host_;
    std::function<void(const std::string&)> warn_;
    mutable std::mutex mutex_;
    bool warned_ = false;
};

} // namespace inspection
