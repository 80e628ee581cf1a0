// vx538: the command-line companion of the configuration tool. Reads, sets, backs up, restores and
// verifies VX538-T-B converters, one or many at once (one worker per port), for scripts and for the
// production line.
#include <csignal>
#include <iostream>
#include <unistd.h>

#include "cli/ExitCodes.h"
#include "cli/Main.h"

namespace {

serial::EventFd* stopEvent = nullptr;

extern "C" void onInterrupt(int) {
    // Wakes every worker's wait; their ports close and put their settings back. A second Ctrl+C
    // ends the program at once.
    if (stopEvent) {
        stopEvent->signal();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

} // namespace

int main(int argc, char** argv) {
    try {
        serial::EventFd stop;
        stop.create();
        stopEvent = &stop;
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        const cli::Environment environment{std::cout, std::cerr, stop, ::isatty(STDERR_FILENO) == 1, nullptr};
        const int status = cli::Vx538(std::vector<std::string>(argv + 1, argv + argc), environment);
        stopEvent = nullptr;
        return status;
    } catch (const std::exception& error) {
        std::cerr << "vx538: " << error.what() << "\n";
        return cli::code::Usage;
    }
}
