// A program run to its end as a child process of a test (vx538 against the simulator): its exit
// status and everything it wrote to standard output and standard error.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// Starts `program` with `arguments`, its standard output (and standard error, unless -1) on the given
// descriptors and its standard input on /dev/null. Returns its pid; throws when it cannot start.
int Spawn(const std::string& program, const std::vector<std::string>& arguments, int stdoutFd,
          int stderrFd = -1);

struct ProgramResult {
    int status = -1; // the exit status; -1 when it did not exit normally in time (it is then killed)
    std::string out;
    std::string err;
    long maxResidentKb = 0; // the most memory it (and what it waited for) held at once
};

// Where a program's standard streams lead, as a user's shell may set them up.
struct ProgramStreams {
    enum class Output {
        Pipe,          // collected to its end
        Full,          // /dev/full
        Closed,        // >&-
        FirstLineOnly, // the reader goes after the first line (`| head -1`)
        Given          // `outputFd`
    };
    Output output = Output::Pipe;
    int outputFd = -1;
    int inputFd = -1; // -1: /dev/null
};

// Runs `program` with `arguments`, standard input empty, and waits up to `limit` for it to end.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));
// The same with its streams set up as `streams` says.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramStreams& streams, std::chrono::milliseconds limit);

} // namespace testsupport
