// vx538: the command-line companion of the configuration tool. Reads, sets, backs up, restores and
// verifies VX538-T-B converters, one or many at once (one worker per port), for scripts and for the
// production line.
#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include "cli/ExitCodes.h"
#include "cli/Main.h"
#include "cli/Output.h"

namespace {

serial::EventFd* stopEvent = nullptr;
std::atomic<int> interrupts{0};

void say(const char* text) {
    (void)!::write(STDERR_FILENO, text, std::strlen(text));
}

// The first Ctrl+C (or SIGTERM) stops every port's run: its wait ends, its settings go back, its report
// is printed. A second one while that goes on is ignored, so the report is never cut; a third ends the
// program at once, still putting every port's terminal settings back first.
extern "C" void onInterrupt(int) {
    const int count = interrupts.fetch_add(1) + 1;
    if (count == 1) {
        if (stopEvent) {
            stopEvent->signal();
        }
        say("\nvx538: stopping: each port's settings go back, then its report\n");
    } else if (count == 2) {
        say("vx538: still stopping; Ctrl+C once more ends at once\n");
    } else {
        cli::RestoreTerminalsNow();
        ::_exit(cli::code::Interrupted);
    }
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened, so a descriptor the shell closed is never handed to a port or a file.
    const int closed = cli::HoldStandardDescriptors();
    // A reader that goes away (`| head -1`) is a failed write like any other: the ports' runs end as
    // they should (settings back, reports made) and vx538 exits 8 saying so, where SIGPIPE would kill it
    // in the middle of a set command's account.
    std::signal(SIGPIPE, SIG_IGN);
    cli::CheckedOutput standardOutput(STDOUT_FILENO, "standard output");
    if (closed & 2) {
        standardOutput.fail("it is closed");
    }
    std::ostream out(&standardOutput);
    try {
        serial::EventFd stop;
        stop.create();
        stopEvent = &stop;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        const cli::Environment environment{out, std::cerr, stop, ::isatty(STDERR_FILENO) == 1, nullptr};
        const int status = cli::Vx538(std::vector<std::string>(argv + 1, argv + argc), environment);
        stopEvent = nullptr;
        return status;
    } catch (const std::exception& error) {
        std::cerr << "vx538: " << error.what() << "\n";
        return cli::code::Usage;
    }
}
