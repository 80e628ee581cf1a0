// vx538 and vx538-sim as child processes, under the faults and the hostile input a tester brings:
// output files of every kind, bad input files, a late reply to a line setting, replies cut by pauses,
// Ctrl+C once, twice and three times in the middle of a restore.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/Line.h"
#include "tests/cli/Vx538Test.h"

namespace {

using namespace vx538test;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The terminal settings of a pseudo-terminal's slave, as a program that opens it finds them.
std::string termiosOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ::tcgetattr(fd, &t);
    ::close(fd);
    return std::string(reinterpret_cast<const char*>(&t), sizeof t);
}

class Vx538Faults : public Vx538 {
protected:
    // A backup of a converter, for restores: taken from a fresh simulator.
    std::string backupFile() {
        const std::string file = path("master.json");
        SimProcess& source = sim();
        EXPECT_EQ(vx538({"-p", source.path(), "backup", "-o", file}).status, 0);
        return file;
    }
    // backup -o `target`: its exit status, what it says, and no temporary file left beside it.
    void backupInto(SimProcess& converter, const std::string& target, int status, const char* says) {
        const auto run = vx538({"-p", converter.path(), "backup", "-o", target});
        EXPECT_EQ(run.status, status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.out << run.err;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
        }
    }
};

TEST_F(Vx538Faults, BackupWritesOutputFilesAsUnixToolsDo) {
    SimProcess& converter = sim();
    struct Row {
        const char* what;
        std::function<std::string()> make; // the path -o gets
        int status;
        const char* says;
        std::function<void(const std::string&)> after;
    } rows[] = {
        {"a symbolic link: its target replaced, the link kept",
         [&] {
             write(path("target.json"), "old");
             fs::create_symlink(path("target.json"), path("link.json"));
             return path("link.json");
         },
         0, "written to",
         [&](const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(p));
             EXPECT_NE(read(path("target.json")).find("vx538-configuration"), std::string::npos);
         }},
        {"a 0600 file keeps its mode and its owner",
         [&] {
             write(path("private.json"), "old");
             ::chmod(path("private.json").c_str(), 0600);
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown(path("private.json").c_str(), 4321, 4321), 0);
             }
             return path("private.json");
         },
         0, "written to",
         [&](const std::string& p) {
             EXPECT_EQ(fs::status(p).permissions(), fs::perms::owner_read | fs::perms::owner_write);
             struct stat st {};
             ::stat(p.c_str(), &st);
             EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? 4321u : ::geteuid());
             EXPECT_NE(read(p).find("vx538-configuration"), std::string::npos);
         }},
        {"a hard link: both names see the backup",
         [&] {
             write(path("one.json"), "old");
             fs::create_hard_link(path("one.json"), path("two.json"));
             return path("one.json");
         },
         0, "written to",
         [&](const std::string&) { EXPECT_EQ(read(path("two.json")), read(path("one.json"))); }},
        {"a FIFO that nobody reads",
         [&] {
             ::mkfifo(path("fifo").c_str(), 0600);
             return path("fifo");
         },
         8, "no program reads from it", [](const std::string& p) { EXPECT_TRUE(fs::is_fifo(p)); }},
        {"a directory", [&] { return dir_.string(); }, 8, "is a directory", {}},
        {"a folder that is not there",
         [&] { return path("none/backup.json"); },
         8,
         "No such file or directory",
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string target = row.make();
        backupInto(converter, target, row.status, row.says);
        if (row.after) {
            row.after(target);
        }
    }
}

// Device nodes made for the test in its own folder, never the system's: written as streams, and each
// still a device afterwards.
TEST_F(Vx538Faults, BackupWritesIntoDeviceNodesAndLeavesThemDevices) {
    struct Row {
        const char* name;
        unsigned minor; // of the memory devices (major 1)
        int status;
        const char* says;
    } rows[] = {{"null", 3, 0, "written to"}, {"full", 7, 8, "No space left on device"}};
    for (const Row& row : rows) {
        const std::string node = path(row.name);
        if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, row.minor)) != 0) {
            GTEST_SKIP() << "cannot make a device node (needs CAP_MKNOD): " << std::strerror(errno);
        }
        const int fd = ::open(node.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            GTEST_SKIP() << "the temporary folder's device nodes cannot be opened (nodev?): "
                         << std::strerror(errno);
        }
        ::close(fd);
    }
    SimProcess& converter = sim();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        backupInto(converter, path(row.name), row.status, row.says);
        EXPECT_TRUE(fs::is_character_file(path(row.name)));
    }
}

TEST_F(Vx538Faults, BadInputIsRefusedBeforeAnythingIsSent) {
    const std::string log = path("sim.log");
    SimProcess& converter = sim({"--log", log});
    const std::string good = read(backupFile());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    ::mkfifo(path("fifo").c_str(), 0600);
    write(path("twice.json"),
          replaced("\"modbus.address\": 1,", "\"modbus.address\": 300, \"modbus.address\": 17,"));
    write(path("versions.json"), replaced("\"version\": 1,", "\"version\": 1, \"version\": 2,"));
    write(path("empty.json"), R"({"format": "vx538-configuration", "version": 1, "parameters": {}})");
    write(path("large.json"), std::string(2 * 1024 * 1024, ' '));
    write(path("ports.txt"), std::string("ttyUSB0\nttyU\0SB1\n", 18));
    struct Row {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } rows[] = {
        {{"restore", "-i", "/dev/zero"}, 8, "cannot read /dev/zero: it is a character device"},
        {{"restore", "-i", path("fifo")}, 8, "nothing came for 5 s"},
        {{"restore", "-i", path("twice.json")}, 2, "modbus.address is given twice"},
        {{"verify", "-i", path("versions.json")}, 8, "\"version\" stands twice"},
        {{"verify", "-i", path("empty.json")}, 8, "holds no parameter"},
        {{"restore", "-i", path("large.json")}, 8, "at most 1 MB"},
        {{"restore", "-i", dir_.string()}, 8, "is a directory"},
        {{"restore", "-i", ""}, 8, "cannot read '': No such file or directory"},
        {{"set", "mode=transparent", "mode=single-meter"}, 2, "mode is given twice"},
        {{"set", "mode=" + std::string(100000, 'x')}, 2, "(100000 bytes)"},
        {{"--baud", "0", "ping"}, 2, "not in range 1 to 4000000"},
        {{"--timeout", "1.5", "ping"}, 2, "1.5 is not a whole number"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"-p", converter.path()};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const auto run = vx538(arguments);
        EXPECT_EQ(run.status, row.status)
            << row.arguments[0] << " " << row.arguments.back().substr(0, 80) << "\n"
            << run.err;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err.substr(0, 300);
        EXPECT_LT(run.err.size(), 400u) << "a message echoes at most 80 characters of a value";
    }
    const auto ports = vx538({"--ports-from", path("ports.txt"), "ping"});
    EXPECT_EQ(ports.status, 8);
    EXPECT_NE(ports.err.find("line 2 holds a NUL byte"), std::string::npos) << ports.err;
    EXPECT_EQ(count(read(log), " in "), 0u) << read(log);
}

// The converter takes its new RS485 settings, but says so only after --timeout: the report says where
// the converter may now be and the options that reach it.
TEST_F(Vx538Faults, ALateReplyToTheRs485SettingsSaysHowToReachTheConverter) {
    const std::string control = path("control");
    const std::string log = path("sim.log");
    SimProcess& converter = sim({"--control", control, "--log", log});
    std::ofstream(control) << "delay 600\n" << std::flush;
    ASSERT_TRUE(
        waitFor([&] { return read(log).find("delay 600") != std::string::npos; }, std::chrono::seconds(5)));
    // The query's first reply is late too; its resend is answered by it.
    const auto run = vx538({"-p", converter.path(), "--timeout", "400", "--retries", "1", "set",
                            "rs485.baud=19200", "rs485.parity=even"});
    EXPECT_EQ(run.status, 4) << run.out << run.err;
    EXPECT_NE(run.out.find("sent without answer (the converter may have taken it): RS485 port (BA1)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("reach it there with --baud 19200 --parity even"), std::string::npos) << run.out;
}

// Every reply in two parts half a second apart: each set command waits for its own, never taking
// the end of another command's.
TEST_F(Vx538Faults, ARestoreOfRepliesCutByPausesTakesEachCommandsOwnReply) {
    const std::string file = backupFile();
    SimProcess& converter = sim({"--split", "500"});
    const auto run =
        vx538({"--json", "-p", converter.path(), "restore", "--all", "-i", file}, std::chrono::seconds(60));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto report = nlohmann::json::parse(run.out);
    ASSERT_EQ(report["sent"].size(), 26u);
    for (const auto& sent : report["sent"]) {
        const std::string key = sent["command"];
        EXPECT_NE(sent["reply"].get<std::string>().find("#" + key + ":OK#"), std::string::npos)
            << sent.dump();
    }
}

TEST_F(Vx538Faults, CtrlCMidRestoreOnceTwiceAndThreeTimes) {
    const std::string file = backupFile();
    struct Row {
        int interrupts;
        bool report; // the third ends at once, report or not
    } rows[] = {{1, true}, {2, true}, {3, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.interrupts);
        const std::string log = path("sim-" + std::to_string(row.interrupts) + ".log");
        SimProcess& first = sim({"--delay", "100", "--log", log});
        SimProcess& second = sim({"--delay", "100"});
        const std::string settings = termiosOf(first.path());
        const int out = ::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int pid = testsupport::Spawn(
            VX538_PATH, {"-p", first.path(), "-p", second.path(), "restore", "--all", "-i", file}, out, err);
        ::close(out);
        ::close(err);
        // Three set commands answered, the fourth on the line.
        ASSERT_TRUE(waitFor([&] { return count(read(log), "|QQS#") >= 4; }, std::chrono::seconds(10)));
        for (int i = 0; i < row.interrupts; ++i) {
            ::kill(pid, SIGINT);
        }
        int status = -1;
        ASSERT_TRUE(
            waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(10)));
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
        EXPECT_EQ(WEXITSTATUS(status), 130);
        for (const SimProcess* converter : {&first, &second}) {
            EXPECT_EQ(termiosOf(converter->path()), settings)
                << converter->path() << "'s settings not put back";
        }
        if (row.report) {
            const std::string report = read(path("out"));
            EXPECT_EQ(count(report, "sent without answer (the converter may have taken it): "), 2u) << report;
            EXPECT_EQ(count(report, "next: run the same restore again"), 2u) << report;
            EXPECT_EQ(count(report, "the converter is partly configured"), 2u) << report;
            EXPECT_NE(report.find("not sent: "), std::string::npos) << report;
        }
    }
}

// What the third Ctrl+C does before it ends the program: every open line's terminal settings back as
// they were at its open, while the line is still open.
TEST_F(Vx538Faults, EveryOpenLinesSettingsGoBackAtOnceWhenAsked) {
    SimProcess& converter = sim();
    const std::string before = termiosOf(converter.path());
    serial::EventFd stop;
    stop.create();
    cli::LineOptions options;
    options.port = converter.path();
    options.baud = 19200;
    options.parity = serial::TParity::Even;
    cli::Line line(options, stop);
    ASSERT_FALSE(line.open());
    ASSERT_NE(termiosOf(converter.path()), before);
    cli::RestoreTerminalsNow();
    EXPECT_EQ(termiosOf(converter.path()), before);
    line.close();
}

} // namespace
