// The change log's lines, its file (appended whole under a lock) and its reading back.
#include "inspection/ChangeLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tools/Utf8Text.h"

namespace inspection {

namespace {

using Json = nlohmann::ordered_json;

constexpr Change::Status kStatuses[] = {Change::Status::Acknowledged, Change::Status::Refused,
                                        Change::Status::Unanswered};

std::string why(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Closes the descriptor it holds.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Makes the folders of `folder` that are missing, each 0700 as a state folder should be.
std::optional<std::string> makeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') {
            continue;
        }
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return why(("cannot make the folder " + part).c_str());
        }
    }
    return std::nullopt;
}

// Whether the file's last byte is a line break (an empty file counts as ending in one).
bool endsWithLineBreak(int fd, off_t size) {
    char last = '\n';
    return size == 0 || (::pread(fd, &last, 1, size - 1) == 1 && last == '\n');
}

int64_t utcSeconds(std::tm& tm) {
    return static_cast<int64_t>(timegm(&tm));
}

} // namespace

std::string_view StatusText(Change::Status status) {
    switch (status) {
    case Change::Status::Acknowledged:
        return "acknowledged";
    case Change::Status::Refused:
        return "refused";
    case Change::Status::Unanswered:
        break;
    }
    return "unanswered";
}

std::vector<Change> ChangesSince(const ChangeLogText& log, int64_t sinceMs,
                                 const std::function<bool(const std::string&)>& samePort) {
    std::vector<Change> out;
    for (const Change& c : log.changes) {
        if (c.timeMs >= sinceMs && samePort(c.port)) {
            out.push_back(c);
        }
    }
    return out;
}

std::string UtcTimeText(int64_t epochMs) {
    const int64_t seconds = epochMs >= 0 ? epochMs / 1000 : (epochMs - 999) / 1000;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", static_cast<int>(epochMs - seconds * 1000));
    return std::string(text, n) + millis;
}

std::string ChangeLine(const Change& c) {
    const auto text = [](std::string_view s) { return tools::Utf8Text(s); };
    Json line = {
        {"time", UtcTimeText(c.timeMs)}, {"user", text(c.user)},           {"host", text(c.host)},
        {"port", text(c.port)},          {"slave", text(c.slave)},         {"converter", text(c.converter)},
        {"command", text(c.command)},    {"parameter", text(c.parameter)}, {"old", text(c.oldValue)},
        {"new", text(c.newValue)},       {"status", StatusText(c.status)}, {"front_end", text(c.frontEnd)}};
    if (!c.reason.empty()) {
        line["reason"] = text(c.reason);
    }
    return line.dump() + "\n";
}

std::optional<Change> ReadChangeLine(std::string_view line) {
    const Json j = Json::parse(line, nullptr, false);
    if (!j.is_object()) {
        return std::nullopt;
    }
    const auto field = [&](const char* key, std::string& into, bool required) {
        const auto it = j.find(key);
        if (it == j.end()) {
            return !required;
        }
        if (!it->is_string()) {
            return false;
        }
        into = it->get<std::string>();
        return true;
    };
    Change c;
    std::string time, status;
    if (!field("time", time, true) || !field("user", c.user, false) || !field("host", c.host, false) ||
        !field("port", c.port, true) || !field("slave", c.slave, false) ||
        !field("converter", c.converter, false) || !field("command", c.command, false) ||
        !field("parameter", c.parameter, true) || !field("old", c.oldValue, false) ||
        !field("new", c.newValue, true) || !field("status", status, true) ||
        !field("front_end", c.frontEnd, false) || !field("reason", c.reason, false)) {
        return std::nullopt;
    }
    const auto known = std::find_if(std::begin(kStatuses), std::end(kStatuses),
                                    [&](Change::Status s) { return StatusText(s) == status; });
    const std::optional<int64_t> when = ReadUtcTime(time);
    if (known == std::end(kStatuses) || !when) {
        return std::nullopt;
    }
    c.timeMs = *when;
    c.status = *known;
    return c;
}

std::optional<int64_t> ReadUtcTime(std::string_view text) {
    const std::string time(text);
    std::tm tm{};
    int millis = 0;
    char zone = 0;
    if (time.size() != UtcTimeText(0).size() ||
        std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis, &zone) != 8 ||
        zone != 'Z') {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const int64_t ms = utcSeconds(tm) * 1000 + millis;
    // A date that does not exist (2026-02-31) does not write back as itself.
    return UtcTimeText(ms) == time ? std::optional(ms) : std::nullopt;
}

ChangeLogText ReadChangeLog(std::string_view text) {
    ChangeLogText log;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue;
        }
        if (auto change = ReadChangeLine(line)) {
            log.changes.push_back(std::move(*change));
        } else {
            ++log.unreadable;
        }
    }
    return log;
}

std::optional<int64_t> ReadSince(std::string_view text, int64_t nowMs) {
    if (text.size() >= 2 && text.size() <= 10 &&
        std::all_of(text.begin(), text.end() - 1, [](char c) { return c >= '0' && c <= '9'; })) {
        const int64_t count = std::stoll(std::string(text.substr(0, text.size() - 1)));
        const int64_t unit = text.back() == 's'   ? 1000
                             : text.back() == 'm' ? 60'000
                             : text.back() == 'h' ? 3'600'000
                             : text.back() == 'd' ? 86'400'000
                                                  : 0;
        if (unit != 0) {
            return nowMs - count * unit;
        }
    }
    const std::string s(text);
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &consumed) != 3 ||
        consumed != 10) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(10);
    // The time of day as text of its own, outliving the block below: what is left of it (a "Z") is
    // read after it.
    std::string clock;
    if (!rest.empty()) {
        if (rest.front() != 'T' && rest.front() != ' ') {
            return std::nullopt;
        }
        clock = std::string(rest.substr(1));
        int n = 0;
        if (std::sscanf(clock.c_str(), "%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &n) != 2 || n != 5) {
            return std::nullopt;
        }
        std::string_view more = std::string_view(clock).substr(5);
        if (more.starts_with(':')) {
            const std::string seconds(more.substr(1));
            if (std::sscanf(seconds.c_str(), "%2d%n", &tm.tm_sec, &n) != 1 || n != 2) {
                return std::nullopt;
            }
            more.remove_prefix(3);
        }
        rest = more;
    }
    const bool utc = rest == "Z";
    if (!rest.empty() && !utc) {
        return std::nullopt;
    }
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60) {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const int64_t seconds = utc ? utcSeconds(tm) : static_cast<int64_t>(std::mktime(&tm));
    return seconds * 1000;
}

bool Matches(const Change& change, const ChangeFilter& filter) {
    return (filter.port.empty() || change.port == filter.port) &&
           (!filter.sinceMs || change.timeMs >= *filter.sinceMs) &&
           (filter.parameter.empty() || change.parameter == filter.parameter || change.parameter == "all");
}

std::string DefaultChangeLogPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string folder;
    if (state && state[0] == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* entry = ::getpwuid(::geteuid());
            home = entry ? entry->pw_dir : nullptr;
        }
        if (!home) {
            return {};
        }
        folder = std::string(home) + "/.local/state";
    }
    return folder + "/vx538/changes.jsonl";
}

std::string CurrentUser() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->pw_name;
    }
    const char* user = std::getenv("USER");
    return user ? user : std::to_string(::geteuid());
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "unknown";
    }
    return name;
}

std::optional<std::string> AppendLines(const std::string& path, std::string_view lines) {
    if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
        if (auto failure = makeFolders(path.substr(0, slash))) {
            return failure;
        }
    }
    // Not blocking on a FIFO nobody reads; only a regular file keeps lines whole under a lock.
    const Descriptor file{
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644)};
    if (file.fd < 0) {
        return why("cannot open it");
    }
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) {
        return why("cannot look at it");
    }
    if (!S_ISREG(status.st_mode)) {
        return std::string("it is not a regular file");
    }
    while (::flock(file.fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return why("cannot lock it");
        }
    }
    if (::fstat(file.fd, &status) != 0) {
        return why("cannot look at it");
    }
    // A line cut short by an earlier failure (a full disk) gets its end, so this one stands alone.
    std::string text = endsWithLineBreak(file.fd, status.st_size) ? std::string() : std::string("\n");
    text += lines;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(file.fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return why("cannot write it");
        }
        done += static_cast<std::size_t>(n);
    }
    return std::nullopt; // the lock goes with the descriptor
}

ChangeLog::ChangeLog(std::string path, std::string frontEnd, std::function<void(const std::string&)> warn)
    : path_(std::move(path)), frontEnd_(std::move(frontEnd)), user_(CurrentUser()), host_(HostName()),
      warn_(std::move(warn)) {}

bool ChangeLog::write(const std::vector<Change>& changes) {
    if (!enabled() || changes.empty()) {
        return false;
    }
    std::string lines;
    for (const Change& change : changes) {
        lines += ChangeLine(change);
    }
    const std::lock_guard lock(mutex_);
    const std::optional<std::string> failure = AppendLines(path_, lines);
    if (failure && !warned_) {
        warned_ = true;
        if (warn_) {
            warn_("the change log " + path_ + " cannot be written (" + *failure +
                  "); changes are not logged");
        }
    }
    return !failure;
}

bool ChangeLog::failed() const {
    const std::lock_guard lock(mutex_);
    return warned_;
}

} // namespace inspection
