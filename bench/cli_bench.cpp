// How fast vx538 backs up and restores against a simulator whose line runs at 9600 baud with a 20 ms
// turnaround, against the time the bytes themselves need on such a line; and 16 converters at once
// against one. Prints figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 9600;
constexpr int kTurnaroundMs = 20;
// A start bit, eight data bits and a stop bit.
constexpr double kCharacterMs = 10.0 * 1000.0 / kBaud;

struct Traffic {
    long bytes = 0;
    int requests = 0;
};

// Bytes sent and received, and requests, from a --log file (tab-separated, its columns named by its
// title line, so a column added to the log does not move the ones read here).
Traffic countTraffic(const std::string& log) {
    std::ifstream file(log);
    Traffic traffic;
    std::size_t direction = 0, length = 0;
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> columns;
        std::stringstream fields(line);
        for (std::string column; std::getline(fields, column, '\t');) {
            columns.push_back(column);
        }
        if (direction == length) { // the title line
            for (std::size_t i = 0; i < columns.size(); ++i) {
                direction = columns[i] == "Direction" ? i : direction;
                length = columns[i] == "Length" ? i : length;
            }
            continue;
        }
        if (columns.size() <= std::max(direction, length) ||
            (columns[direction] != "sent" && columns[direction] != "received")) {
            continue;
        }
        traffic.bytes += std::stol(columns[length]);
        traffic.requests += columns[direction] == "sent";
    }
    return traffic;
}

double floorMs(const Traffic& traffic) {
    return traffic.bytes * kCharacterMs + traffic.requests * kTurnaroundMs;
}

double timed(const std::vector<std::string>& arguments, int& status) {
    const auto start = Clock::now();
    status = testsupport::RunProgram(VX538_PATH, arguments, std::chrono::minutes(5)).status;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> simOptions() {
    return {"--baud", std::to_string(kBaud), "--delay", std::to_string(kTurnaroundMs)};
}

void line(const char* what, double ms, double floor, int status) {
    std::printf("%-34s %8.0f ms   floor %6.0f ms   %.2f x floor%s\n", what, ms, floor, ms / floor,
                status == 0 ? "" : "   (vx538 failed)");
}

} // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("vx538-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string backupFile = (dir / "backup.json").string();

    std::printf("vx538 against vx538-sim at %d baud, %d ms turnaround (floor: bytes on the line x %.3f ms + "
                "%d ms per request)\n\n",
                kBaud, kTurnaroundMs, kCharacterMs, kTurnaroundMs);
    {
        testsupport::SimProcess sim(VX538_SIM_PATH, simOptions());
        int status = 0;
        const std::string backupLog = (dir / "backup.log").string();
        const double backup = timed({"-p", sim.path(), "--log", backupLog, "backup", "-o", backupFile}, status);
        const Traffic backupTraffic = countTraffic(backupLog);
        line("backup (6 queries)", backup, floorMs(backupTraffic), status);
        std::printf("%-34s %8d ms   (five queries at 400 + 200 + 300 ms: silence, pause, parse delay)\n",
                    "  the window's floor for the same", 5 * (400 + 200 + 300));

        const std::string restoreLog = (dir / "restore.log").string();
        const double restore = timed({"-p", sim.path(), "--log", restoreLog, "restore", "--all", "-i", backupFile},
                                     status);
        const Traffic restoreTraffic = countTraffic(restoreLog);
        line("restore --all (read, 26 sets, read)", restore, floorMs(restoreTraffic), status);
        std::printf("%-34s %8ld bytes, %d requests\n\n", "  on the line", restoreTraffic.bytes,
                    restoreTraffic.requests);
    }

    std::vector<std::unique_ptr<testsupport::SimProcess>> sims;
    std::vector<std::string> many;
    for (int i = 0; i < 16; ++i) {
        sims.push_back(std::make_unique<testsupport::SimProcess>(VX538_SIM_PATH, simOptions()));
        many.insert(many.end(), {"-p", sims.back()->path()});
    }
    int status = 0;
    const std::string pattern = (dir / "many-{port}.json").string();
    const double one = timed({"-p", sims.front()->path(), "backup", "-o", pattern}, status);
    std::vector<std::string> arguments = many;
    arguments.insert(arguments.end(), {"backup", "-o", pattern});
    const double sixteen = timed(arguments, status);
    std::printf("%-34s %8.0f ms\n", "backup of 1 converter", one);
    std::printf("%-34s %8.0f ms   %.2f x one%s\n", "backup of 16 converters at once", sixteen, sixteen / one,
                status == 0 ? "" : "   (vx538 failed)");
    fs::remove_all(dir);
    return 0;
}
