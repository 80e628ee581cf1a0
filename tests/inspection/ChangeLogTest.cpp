// The change log: the lines an exchange leaves (one table, the simulated converter answering), lines
// read back, appends from several processes at once that never interleave, and a log that cannot be
// written said once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "inspection/ChangeWatch.h"
#include "sim/Converter.h"
#include "tools/Bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using inspection::Change;

struct TempFolder {
    fs::path path;
    TempFolder() {
        char name[] = "/tmp/vx538-changes-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, ignored);
        fs::remove_all(path, ignored);
    }
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One step: a frame to the converter, answered by the model, or by `reply` when given ("" silence).
struct Step {
    std::string frame;
    std::optional<std::string> reply = std::nullopt;
};

// Each line as "command parameter old -> new status".
std::vector<std::string> linesOf(const std::vector<Change>& changes) {
    std::vector<std::string> lines;
    for (const Change& c : changes) {
        lines.push_back(c.command + " " + c.parameter + " " + c.oldValue + " -> " + c.newValue + " " +
                        std::string(inspection::StatusText(c.status)));
    }
    return lines;
}

TEST(ChangeLog, EachSetLeavesItsLinesByWhatCameOfIt) {
    const Step qx1{"QQQ#QX1#"}, qx2{"QQQ#QX2#"}, qv{"QQQ#QV#"};
    struct Row {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> lines;
    } rows[] = {
        {"nothing read before", {{"QQS#MD:1#"}}, {"MD mode not read -> single-meter acknowledged"}},
        {"the old value as read", {qx1, {"QQS#MD:2#"}}, {"MD mode transparent -> test-output acknowledged"}},
        {"a refused set is no change", {qx1, {"QQS#JTM:000#"}}, {"JTM modbus.interval 10 -> 000 refused"}},
        {"an unanswered set", {qx1, {"QQS#JTM:020#", ""}}, {"JTM modbus.interval 10 -> 20 unanswered"}},
        {"an answer that is another command's",
         {{"QQS#MD:1#", "QQS#ADR:OK#"}},
         {"MD mode not read -> single-meter unanswered"}},
        {"the next request before an answer",
         {{"QQS#MD:1#", "QQ"}, qx1},
         {"MD mode not read -> single-meter unanswered"}},
        {"an output row: only what it changes",
         {qx2, {"QQS#DA1:1,42480000,00000000#"}},
         {"DA1 ao0.20ma 100 -> 50 acknowledged"}},
        {"the same values again: every value it carries",
         {qx2, {"QQS#BA1:30#"}, qx1, {"QQS#BA1:30#"}},
         {"BA1 rs485.baud not read -> 9600 acknowledged", "BA1 rs485.parity not read -> none acknowledged",
          "BA1 rs485.baud 9600 -> 9600 acknowledged", "BA1 rs485.parity none -> none acknowledged"}},
        {"an acknowledged value is the next one's old value",
         {{"QQS#MD:1#"}, {"QQS#MD:2#"}},
         {"MD mode not read -> single-meter acknowledged",
          "MD mode single-meter -> test-output acknowledged"}},
        {"the reset forgets what was read",
         {qx1, {"QQS#RESET#"}, {"QQS#MD:1#"}},
         {"RESET all not read -> factory values acknowledged",
          "MD mode not read -> single-meter acknowledged"}},
        {"output tests are not changes", {{"QQQ#AV0O:50.0#"}, {"QQQ#LEIO:000000001#"}}, {}},
        {"the factory record",
         {{"TAVRIK#PCBSN:00000123,102#"}},
         {"PCBSN pcbsn not read -> 00000123 acknowledged", "PCBSN inspector not read -> 102 acknowledged"}},
        {"a read meter command ends without #",
         {{"QQS#CAMD01:1<04,\x82\x26\x03\x00"s}},
         {"CAMD01 read1.enabled not read -> on acknowledged",
          "CAMD01 read1.command not read -> 82 26 03 00 acknowledged"}},
        {"a query's reply cut short teaches nothing",
         {{"QQQ#QX1#", "QQQ#QX1:ADR:001,BA1"}, {"QQS#MD:1#"}},
         {"MD mode not read -> single-meter acknowledged"}},
        {"versions and addresses are not changes", {qv, qx1}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempFolder folder;
        inspection::ChangeLog log((folder.path / "changes.jsonl").string(), "vx538", nullptr);
        inspection::ChangeWatch watch(log, "/dev/ttyUSB0", [] { return int64_t{1'765'000'000'000}; });
        sim::Converter converter;
        for (const Step& step : row.steps) {
            watch.sent(step.frame);
            const std::string reply = step.reply.value_or(converter.handleText(step.frame));
            if (reply.empty()) {
                watch.unanswered("no reply within 1000 ms");
                continue;
            }
            // The model answers a query for a test value with its own head; the interpreter reads the
            // reply against the request as both front ends do.
            const traffic::Reading reading = traffic::Read(
                tools::bytesOf(reply), traffic::Direction::Received,
                step.frame == "QQQ#QV#"            ? traffic::pending::SystemParameters
                : step.frame.starts_with("QQQ#QX") ? traffic::QueryPending(step.frame.substr(4, 3))
                                                   : traffic::pending::SetCommand,
                tools::bytesOf(step.frame));
            watch.received(reply, reading);
        }
        EXPECT_EQ(linesOf(watch.logged()), row.lines);
        // The file holds the same, line for line, and nothing between them.
        const std::string file = fileText(folder.path / "changes.jsonl");
        EXPECT_EQ(file.find("\n\n"), std::string::npos) << file;
        const auto read = inspection::ReadChangeLog(file);
        EXPECT_EQ(read.unreadable, 0u);
        EXPECT_EQ(read.changes, watch.logged());
    }
}

TEST(ChangeLog, LinesReadBackAsWritten) {
    Change c;
    c.timeMs = 1'765'000'000'123;
    c.user = "anna";
    c.host = "bench-3";
    c.port = "/dev/serial/by-id/usb-\xff\x01";
    c.slave = "1";
    c.converter = "VX538-T-B";
    c.command = "DA4";
    c.parameter = "ao3.20ma";
    c.oldValue = "100";
    c.newValue = "50";
    c.status = Change::Status::Refused;
    c.frontEnd = "window";
    c.reason = "QQS#DA4:ERR#";
    const std::string line = inspection::ChangeLine(c);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find("\"time\":\"2025-12-06T05:46:40.123Z\""), std::string::npos) << line;
    const auto back = inspection::ReadChangeLine(line);
    ASSERT_TRUE(back);
    Change expected = c;
    expected.port = "/dev/serial/by-id/usb-\\xFF\x01"; // bytes that are not UTF-8 escaped
    EXPECT_EQ(back->port, expected.port);
    EXPECT_EQ(back->timeMs, c.timeMs);
    EXPECT_EQ(back->status, c.status);
    EXPECT_EQ(back->reason, c.reason);

    for (const char* bad : {"", "{}", "[1]",
                            "{\"time\":\"2026-02-31T00:00:00.000Z\",\"port\":\"p\",\"parameter\":\"x\","
                            "\"new\":\"1\",\"status\":\"acknowledged\"}",
                            "{\"time\":\"2026-02-01T00:00:00.000Z\",\"port\":\"p\",\"parameter\":\"x\","
                            "\"new\":\"1\",\"status\":\"maybe\"}"}) {
        EXPECT_FALSE(inspection::ReadChangeLine(bad)) << bad;
    }
    const auto log = inspection::ReadChangeLog(line + "{\"cut\n\n" + line);
    EXPECT_EQ(log.changes.size(), 2u);
    EXPECT_EQ(log.unreadable, 1u);
}

TEST(ChangeLog, SinceAndFilters) {
    const int64_t now = 1'765'000'000'000;
    EXPECT_EQ(inspection::ReadSince("2h", now), now - 7'200'000);
    EXPECT_EQ(inspection::ReadSince("2025-12-06T05:46:40Z", now), now);
    EXPECT_EQ(inspection::ReadSince("2025-12-06 05:46Z", now), now - 40'000);
    EXPECT_TRUE(inspection::ReadSince("2025-12-06", now));
    for (const char* bad : {"", "h", "2x", "2025-13-01", "2025-12-06T25:00", "yesterday", "2025-12-06Tx",
                            "2025-12-06T05:46:40Zx", "2025-12-06T05:46:40z"}) {
        EXPECT_FALSE(inspection::ReadSince(bad, now)) << bad;
    }
    Change c;
    c.port = "p1";
    c.parameter = "mode";
    c.timeMs = now;
    EXPECT_TRUE(inspection::Matches(c, {"p1", now, "mode"}));
    EXPECT_FALSE(inspection::Matches(c, {"p2", {}, {}}));
    EXPECT_FALSE(inspection::Matches(c, {{}, now + 1, {}}));
    EXPECT_FALSE(inspection::Matches(c, {{}, {}, "rs485.baud"}));
    c.parameter = "all"; // a reset changed every parameter
    EXPECT_TRUE(inspection::Matches(c, {{}, {}, "rs485.baud"}));
}

TEST(ChangeLog, ProcessesAppendingAtOnceNeverInterleave) {
    TempFolder folder;
    const std::string path = (folder.path / "state" / "vx538" / "changes.jsonl").string();
    constexpr int kProcesses = 4, kWrites = 200;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            inspection::ChangeLog log(path, "vx538", nullptr);
            std::vector<Change> changes(3);
            for (int i = 0; i < kWrites; ++i) {
                for (Change& c : changes) {
                    c.port = "process-" + std::to_string(p);
                    c.parameter = "ao3.20ma";
                    c.newValue = std::string(300 + i, 'x'); // lines of many sizes
                }
                if (!log.write(changes)) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto read = inspection::ReadChangeLog(fileText(path));
    EXPECT_EQ(read.unreadable, 0u);
    EXPECT_EQ(read.changes.size(), static_cast<std::size_t>(kProcesses * kWrites * 3));
    struct stat folderStatus {};
    ASSERT_EQ(::stat((folder.path / "state").c_str(), &folderStatus), 0);
    EXPECT_EQ(folderStatus.st_mode & 0777, 0700u);
}

TEST(ChangeLog, ALogThatCannotBeWrittenIsSaidOnce) {
    struct Row {
        const char* what;
        std::function<fs::path(const fs::path&)> setUp; // makes the folder and returns the log's path
    } rows[] = {
        {"a read-only folder",
         [](const fs::path& folder) {
             fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
             return folder / "changes.jsonl";
         }},
        {"a folder where the file should be",
         [](const fs::path& folder) {
             fs::create_directory(folder / "changes.jsonl");
             return folder / "changes.jsonl";
         }},
        {"a file where a folder should be",
         [](const fs::path& folder) {
             std::ofstream(folder / "state") << "";
             return folder / "state" / "vx538" / "changes.jsonl";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (std::string(row.what) == "a read-only folder" && ::geteuid() == 0) {
            continue; // root writes into it all the same
        }
        TempFolder folder;
        std::vector<std::string> warnings;
        inspection::ChangeLog log(row.setUp(folder.path).string(), "vx538",
                                  [&](const std::string& w) { warnings.push_back(w); });
        Change c;
        c.parameter = "mode";
        EXPECT_FALSE(log.write({c}));
        EXPECT_FALSE(log.write({c}));
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("cannot be written"), std::string::npos) << warnings[0];
    }

    Change c;
    c.parameter = "mode";
    // A line cut short before (a full disk) gets its end first, so the next one stands alone.
    TempFolder other;
    const fs::path file = other.path / "changes.jsonl";
    std::ofstream(file) << "{\"time\":\"2026";
    inspection::ChangeLog second(file.string(), "vx538", nullptr);
    c.port = "p";
    c.newValue = "single-meter";
    EXPECT_TRUE(second.write({c}));
    const auto read = inspection::ReadChangeLog(fileText(file));
    EXPECT_EQ(read.changes.size(), 1u);
    EXPECT_EQ(read.unreadable, 1u);
}

} // namespace
