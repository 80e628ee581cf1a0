// vx538's outputs under bad paths, as a user's shell sets them up: standard output full, closed or
// left by its reader, a CSV file that is full, a FIFO nobody reads, an output that is an input, two
// ports whose files would be one, '-'; and inputs without a bound (an endless stream on standard input
// or through a FIFO). Each ends with its exit code and a message naming the file and the reason, sends
// nothing when it can be known before, and leaves every input as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "tests/cli/Vx538Test.h"

namespace {

using namespace vx538test;
using namespace std::chrono_literals;

using Out = testsupport::ProgramStreams::Output;
using testsupport::ProgramStreams;

// vx538 with standard output as `out` says and standard input from `input` (-1: /dev/null). Bounded by
// a generous limit only so that a hang fails the test instead of the suite.
ProgramResult runVx538(const std::vector<std::string>& arguments, Out out, int input = -1, int given = -1) {
    return testsupport::RunProgram(VX538_PATH, arguments, ProgramStreams{out, given, input}, 60s);
}

class OutputPaths : public Vx538 {
protected:
    // The simulator's log holds a line per frame in and out: what was sent to the converter.
    SimProcess& loggedSim(const std::string& log, std::vector<std::string> more = {}) {
        more.insert(more.end(), {"--log", path(log)});
        return sim(more);
    }
    std::size_t framesIn(const std::string& log) const {
        const std::string text = read(path(log));
        std::size_t count = 0;
        for (std::size_t at = 0; (at = text.find(" ms  in ", at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }
};

// Every way an output fails, on every command that writes it: exit 8, the file's name (or "standard
// output") and the reason; refused before anything is sent where that can be known; the ports file,
// the configuration file and any older CSV file untouched.
TEST_F(OutputPaths, AnOutputThatFailsEndsTheCommandWithExit8TheNameAndTheReason) {
    SimProcess& converter = loggedSim("sim.log");
    const std::string ports = path("ports.txt");
    const std::string portsText = "# the line\n" + converter.path() + "\n";
    write(ports, portsText);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const std::string backup = path("converter.json");
    ASSERT_EQ(vx538({"-p", converter.path(), "backup", "-o", backup}).status, 0);
    const std::string backupText = read(backup);

    struct Row {
        std::string name;
        std::vector<std::string> arguments; // after --ports-from
        Out out;
        std::vector<std::string> message; // each in standard error, in this order (a long name's
                                          // middle may be cut, its length said after it)
        bool nothingSent;                 // refused before the first frame
    };
    const std::string full = "No space left on device";
    const std::vector<Row> rows = {
        {"map >/dev/full", {"map", "--csv"}, Out::Full, {"cannot write standard output: " + full}, false},
        {"map >&-", {"map"}, Out::Closed, {"cannot write standard output: it is closed"}, true},
        {"check >/dev/full", {"check"}, Out::Full, {"cannot write standard output: " + full}, false},
        {"check >&-", {"check"}, Out::Closed, {"cannot write standard output: it is closed"}, true},
        {"hart fields >/dev/full",
         {"hart", "fields"},
         Out::Full,
         {"cannot write standard output: " + full},
         false},
        {"hart fields >&-",
         {"hart", "fields"},
         Out::Closed,
         {"cannot write standard output: it is closed"},
         true},
        {"watch >/dev/full",
         {"watch", "--count", "3", "--interval", "50"},
         Out::Full,
         {"cannot write standard output: " + full},
         false},
        {"watch >&-",
         {"watch", "--count", "3"},
         Out::Closed,
         {"cannot write standard output: it is closed"},
         true},
        {"watch | head -1",
         {"watch", "--interval", "20"},
         Out::FirstLineOnly,
         {"cannot write standard output: Broken pipe"},
         false},
        {"watch --csv /dev/full",
         {"watch", "--count", "3", "--csv", "/dev/full"},
         Out::Pipe,
         {"cannot write /dev/full: " + full},
         true},
        {"watch --csv FIFO nobody reads",
         {"watch", "--count", "3", "--csv", path("fifo")},
         Out::Pipe,
         {"cannot write ", "/fifo", ": no program reads from it (waited 5 s: does a program read from it?)"},
         true},
        {"watch --csv the ports file",
         {"watch", "--count", "3", "--csv", ports},
         Out::Pipe,
         {"cannot write --csv ", "/ports.txt", ": it is --ports-from ", "/ports.txt"},
         true},
        {"map --log /dev/full",
         {"--log", "/dev/full", "map"},
         Out::Pipe,
         {"cannot write the log file /dev/full: " + full},
         true},
        {"verify --log the input",
         {"--log", backup, "verify", "-i", backup},
         Out::Pipe,
         {"cannot write --log ", "/converter.json", ": it is -i ", "/converter.json"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t sentBefore = framesIn("sim.log");
        std::vector<std::string> arguments = {"--ports-from", ports};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const ProgramResult ran = runVx538(arguments, row.out);
        EXPECT_EQ(ran.status, 8) << ran.out << ran.err;
        std::size_t at = 0;
        for (const std::string& part : row.message) {
            at = ran.err.find(part, at);
            if (at == std::string::npos) {
                ADD_FAILURE() << part << " not in " << ran.err;
                break;
            }
        }
        if (row.nothingSent) {
            EXPECT_EQ(framesIn("sim.log"), sentBefore) << "a frame went out before the refusal";
        }
        EXPECT_EQ(read(ports), portsText);
        EXPECT_EQ(read(backup), backupText);
    }
    // Standard output appended to the file a command reads is refused before anything is sent.
    const std::size_t sentBefore = framesIn("sim.log");
    const int appended = ::open(backup.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(appended, 0);
    const ProgramResult same =
        runVx538({"-p", converter.path(), "verify", "-i", backup}, Out::Given, -1, appended);
    ::close(appended);
    EXPECT_EQ(same.status, 8) << same.err;
    EXPECT_EQ(framesIn("sim.log"), sentBefore);
    EXPECT_NE(same.err.find("cannot write standard output: it is -i "), std::string::npos) << same.err;
    EXPECT_EQ(read(backup), backupText);
}

// Where the outputs are healthy, each holds what it should: data outputs hold data alone (the bytes
// of a damaged reply go to standard error), '-' is standard output, each port writes its own file.
TEST_F(OutputPaths, DataOutputsHoldDataAndEveryPortItsOwnFile) {
    SimProcess& damaged = sim({"--corrupt"});
    for (const std::string format : {"--csv", "--markdown"}) {
        const ProgramResult map = runVx538({"-p", damaged.path(), "map", format}, Out::Pipe);
        ASSERT_EQ(map.status, 0) << map.out << map.err;
        // The first line of the data is its header: the CSV's column names, the Markdown's title lines.
        EXPECT_TRUE(map.out.starts_with(format == "--csv" ? "registers," : "MODBUS slave address"))
            << map.out;
        EXPECT_EQ(map.out.find("received"), std::string::npos) << map.out;
        EXPECT_EQ(map.out.find("meaning"), std::string::npos) << map.out;
        EXPECT_NE(map.err.find("received FF FF"), std::string::npos) << map.err;
    }

    // '-' is standard output, carrying the CSV alone.
    SimProcess& one = sim();
    const ProgramResult stream =
        runVx538({"-p", one.path(), "watch", "--count", "3", "--interval", "20", "--csv", "-"}, Out::Pipe);
    ASSERT_EQ(stream.status, 0) << stream.err;
    EXPECT_FALSE(fs::exists(path("-")));
    std::istringstream lines(stream.out);
    std::string line;
    std::vector<std::string> csv;
    while (std::getline(lines, line)) {
        csv.push_back(line);
    }
    ASSERT_EQ(csv.size(), 4u) << stream.out;
    EXPECT_EQ(csv[0], "time,v1,v2,v3,v4,v5,v6,v7,v8");
    for (std::size_t i = 1; i < csv.size(); ++i) {
        EXPECT_EQ(std::count(csv[i].begin(), csv[i].end(), ','), 8) << csv[i];
    }
    EXPECT_NE(stream.err.find("3 samples, 0 missed"), std::string::npos) << stream.err;

    // Two ports whose paths end alike write two files; two whose safe names are one are refused before
    // anything is sent.
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    sim({"--link", path("a/s"), "--log", path("first.log")});
    sim({"--link", path("b/s")});
    sim({"--link", path("a-s")});
    const std::string pattern = path("w-{port}.csv");
    const ProgramResult both = runVx538(
        {"-p", path("a/s"), "-p", path("b/s"), "watch", "--count", "2", "--interval", "20", "--csv", pattern},
        Out::Pipe);
    ASSERT_EQ(both.status, 0) << both.err;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().filename().string().starts_with("w-")) {
            files.push_back(entry.path().filename().string());
            const std::string text = read(entry.path().string());
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << entry.path() << ": " << text;
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].ends_with("-a-s.csv") && files[1].ends_with("-b-s.csv"))
        << files[0] << " " << files[1];

    const std::string sentBefore = read(path("first.log"));
    const ProgramResult clash = runVx538(
        {"-p", path("a/s"), "-p", path("a-s"), "watch", "--count", "2", "--csv", pattern}, Out::Pipe);
    EXPECT_EQ(clash.status, 2) << clash.err;
    EXPECT_NE(clash.err.find("would both write"), std::string::npos) << clash.err;
    EXPECT_EQ(read(path("first.log")), sentBefore) << "a frame went out before the refusal";
}

// A FIFO nobody reads is waited for, and Ctrl+C ends that wait at once: exit 130, nothing sent.
TEST_F(OutputPaths, CtrlCEndsTheWaitForAFifosReader) {
    SimProcess& converter = loggedSim("sim.log");
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int errPipe[2];
    ASSERT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
    const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int pid =
        testsupport::Spawn(VX538_PATH, {"-p", converter.path(), "watch", "--csv", fifo}, out, errPipe[1]);
    ::close(out);
    ::close(errPipe[1]);
    // Once it catches SIGINT (its handler is in place), Ctrl+C is what it makes of it.
    const auto catchesInterrupt = [pid] {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("SigCgt:")) {
                return (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGINT - 1))) != 0;
            }
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!catchesInterrupt() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ::kill(pid, SIGINT);
    std::string err;
    char buffer[1024];
    for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) {
        err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << err;
    EXPECT_NE(err.find("interrupted while waiting for a program to read from it"), std::string::npos) << err;
    EXPECT_EQ(framesIn("sim.log"), 0u);
}

// An endless stream on standard input, through a pipe and through a FIFO, is refused at the 1 MB bound
// with exit 8: read no further than that, in little memory, and nothing sent.
TEST_F(OutputPaths, AnEndlessInputStreamIsRefusedAtItsBound) {
    const auto previous = std::signal(SIGPIPE, SIG_IGN); // the feeder learns of the reader's end by EPIPE
    SimProcess& converter = loggedSim("sim.log");
    const auto feed = [](int fd, std::atomic<long long>& fed) {
        const std::string zeros(65536, '\0');
        for (ssize_t n; (n = ::write(fd, zeros.data(), zeros.size())) > 0;) {
            fed += n;
        }
        ::close(fd);
    };
    struct Source {
        const char* name;
        bool fifo;
    };
    for (const Source source : {Source{"pipe", false}, Source{"FIFO", true}}) {
        SCOPED_TRACE(source.name);
        std::atomic<long long> fed{0};
        ProgramResult ran;
        if (!source.fifo) {
            int zeros[2];
            ASSERT_EQ(::pipe2(zeros, O_CLOEXEC), 0);
            std::thread feeder(feed, zeros[1], std::ref(fed));
            ran = runVx538({"-p", converter.path(), "restore", "-i", "-"}, Out::Pipe, zeros[0]);
            ::close(zeros[0]);
            feeder.join();
        } else {
            const std::string fifo = path("endless");
            ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
            std::thread feeder([&] {
                // The writer's side opens once vx538 has opened the FIFO for reading.
                int fd = -1;
                for (int tries = 0; tries < 6000 && fd < 0; ++tries) {
                    fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd < 0) {
                        std::this_thread::sleep_for(5ms);
                    }
                }
                if (fd >= 0) {
                    ::fcntl(fd, F_SETFL, 0);
                    feed(fd, fed);
                }
            });
            ran = runVx538({"-p", converter.path(), "restore", "-i", fifo}, Out::Pipe);
            feeder.join();
        }
        EXPECT_EQ(ran.status, 8) << ran.err;
        EXPECT_NE(ran.err.find("holds more than 1 MB"), std::string::npos) << ran.err;
        EXPECT_LT(ran.maxResidentKb, 64 * 1024);
        EXPECT_LT(fed.load(), 16LL * 1024 * 1024) << "read on far past its bound";
        EXPECT_EQ(framesIn("sim.log"), 0u);
    }
    std::signal(SIGPIPE, previous);
}

} // namespace
