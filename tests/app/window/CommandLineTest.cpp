// The vx538-config program's command line: --help names --port, --version prints the version, and
// an unknown option is refused; none of them needs a display.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct ProgramRun {
    std::string output;
    int status = -1;
};

ProgramRun run(const std::string& options) {
    ProgramRun result;
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY '" VX538_CONFIG_PATH "' " + options + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return result;
    }
    std::array<char, 256> buffer;
    while (std::fgets(buffer.data(), buffer.size(), pipe)) {
        result.output += buffer.data();
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

TEST(CommandLine, HelpVersionAndRefusal) {
    const ProgramRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: vx538-config [options]"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("--port <NAME>"), std::string::npos) << help.output;

    const ProgramRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "vx538-config " VX538_VERSION "\n");

    const ProgramRun unknown = run("--no-such-option");
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("no-such-option"), std::string::npos) << unknown.output;

    const ProgramRun missing = run("--port");
    EXPECT_NE(missing.status, 0);
}
