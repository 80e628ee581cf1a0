// What the tests of vx538 monitor share: bounded waits, files read whole, JSON lines, a program run in
// the background and stopped by its pid, one run to its end with its standard output where a row asks
// (a file, /dev/full, closed) and its peak memory, and raw captures written by hand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/support/ProgramRun.h"
#include "tools/ModbusCrc.h"

namespace monitortest {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// Whether `condition` came true within `limit` (checked every few milliseconds).
template <class Condition> bool within(std::chrono::milliseconds limit, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

inline std::string readFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<Json> jsonLines(const std::string& text) {
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

inline int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// A program started in the background, its output in files, stopped by its pid.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& arguments, const fs::path& out,
          const fs::path& err)
        : out_(out), err_(err) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = testsupport::Spawn(program, arguments, outFd, errFd);
        ::close(outFd);
        ::close(errFd);
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int pid() const { return pid_; }
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }
    // SIGINT (Ctrl+C), then its exit status; -1 when it did not exit by itself in time.
    int interrupt() {
        ::kill(pid_, SIGINT);
        return exitStatus();
    }
    // Its exit status once it has ended by itself; -1 when it did not within 10 s.
    int exitStatus() {
        int status = 0;
        const bool exited = within(10s, [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!exited) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    int pid_ = -1;
    fs::path out_, err_;
};

// A folder of its own for each test, removed after it.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vx538-monitor-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }

    fs::path dir_;
};

// Where a run's standard output goes.
enum class Stdout { File, DevFull, Closed, AppendTo };

struct Finished {
    int status = -1; // the exit status; -1 when it did not exit
    std::string out, err;
    long peakKb = 0; // its largest resident size
};

// Runs `program` to its end (the shared runner): standard input empty, standard output as `mode` says
// (`file` for File and AppendTo). The peak resident size is the child's own.
inline Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments, Stdout mode,
                         const fs::path& file) {
    using Output = testsupport::ProgramStreams::Output;
    testsupport::ProgramStreams streams;
    streams.output = mode == Stdout::DevFull ? Output::Full : mode == Stdout::Closed ? Output::Closed : Output::Given;
    if (streams.output == Output::Given) {
        const int flags = mode == Stdout::File ? O_WRONLY | O_CREAT | O_TRUNC : O_WRONLY | O_APPEND;
        streams.outputFd = ::open(file.c_str(), flags | O_CLOEXEC, 0644);
    }
    const testsupport::ProgramResult result =
        testsupport::RunProgram(program, arguments, streams, std::chrono::seconds(120));
    if (streams.outputFd >= 0) {
        ::close(streams.outputFd);
    }
    return {result.status, mode == Stdout::File ? readFile(file) : std::string(), result.err,
            result.maxResidentKb};
}

inline std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
    return frame;
}

// A raw capture as the monitor writes one: the header, then a delivery a line.
struct Delivery {
    int64_t timeUs;
    std::vector<uint8_t> bytes;
};
inline std::string captureText(int64_t startEpochUs, uint32_t baud, const std::vector<Delivery>& deliveries) {
    std::string text = "vx538-raw 1 start " + std::to_string(startEpochUs) + " baud " + std::to_string(baud) +
                       " parity none\n";
    for (const Delivery& d : deliveries) {
        text += std::to_string(d.timeUs);
        for (uint8_t b : d.bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            text += hex;
        }
        text += '\n';
    }
    return text;
}

inline void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

} // namespace monitortest
