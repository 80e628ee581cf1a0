// vx538 over network ports: a backup through Debian's ser2net (RFC 2217 and raw TCP) against the same
// backup on the simulator's pseudo-terminal, the simulator's line running at 9600 baud with a 20 ms
// turnaround; and 16 converters behind one ser2net at once against one. Prints figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::Ser2netProcess;
using testsupport::SimProcess;

constexpr int kRuns = 5;

std::vector<std::string> simOptions() {
    return {"--baud", "9600", "--delay", "20"};
}

// The median of kRuns backups, in ms; `failed` when any run did not exit 0.
double medianBackup(const std::vector<std::string>& ports, const std::string& output, bool& failed) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        std::vector<std::string> arguments;
        for (const std::string& port : ports) {
            arguments.insert(arguments.end(), {"-p", port});
        }
        arguments.insert(arguments.end(), {"backup", "-o", output});
        const auto start = Clock::now();
        failed = failed || testsupport::RunProgram(VX538_PATH, arguments, std::chrono::minutes(5)).status != 0;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

void line(const char* what, double ms, double reference, bool failed) {
    std::printf("%-46s %8.0f ms   %.2f x%s\n", what, ms, ms / reference, failed ? "   (vx538 failed)" : "");
}

} // namespace

int main() {
    if (!Ser2netProcess::available()) {
        std::printf("ser2net is not installed (scripts/install-deps.sh installs it)\n");
        return 0;
    }
    const fs::path dir = fs::temp_directory_path() / ("vx538-network-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "backup-{port}.json").string();

    std::printf("vx538 backup, median of %d, vx538-sim at 9600 baud with a 20 ms turnaround; ratios against the "
                "pseudo-terminal\n\n",
                kRuns);
    {
        SimProcess sim(VX538_SIM_PATH, simOptions());
        bool failed = false;
        const double direct = medianBackup({sim.path()}, file, failed);
        line("on the pseudo-terminal", direct, direct, failed);
        // One ser2net at a time on the terminal: a device server has one client per port.
        for (const auto& [what, device] : std::vector<std::pair<const char*, Ser2netProcess::Device>>{
                 {"rfc2217:// through ser2net (chardelay off)", {sim.path(), true, false}},
                 {"rfc2217:// through ser2net (its chardelay on)", {sim.path(), true, true}},
                 {"socket:// through ser2net (chardelay off)", {sim.path(), false, false}}}) {
            Ser2netProcess server({device});
            bool viaFailed = false;
            line(what, medianBackup({server.url()}, file, viaFailed), direct, viaFailed);
        }
    }
    std::printf("\n");

    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<Ser2netProcess::Device> devices;
    for (int i = 0; i < 16; ++i) {
        sims.push_back(std::make_unique<SimProcess>(VX538_SIM_PATH, simOptions()));
        devices.push_back({sims.back()->path(), true, false});
    }
    Ser2netProcess server(devices);
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        urls.push_back(server.url(i));
    }
    bool failed = false;
    const double one = medianBackup({urls.front()}, file, failed);
    line("1 converter behind ser2net", one, one, failed);
    const double sixteen = medianBackup(urls, file, failed);
    line("16 converters behind one ser2net, at once", sixteen, one, failed);
    fs::remove_all(dir);
    return 0;
}
