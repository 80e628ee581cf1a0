// Readers of /proc/self for the leak, wake-up and idle checks of the serial tests.
#include "tests/support/ProcProbe.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

static std::vector<int> numericEntries(const char* dir) {
    std::vector<int> out;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] >= '0' && e->d_name[0] <= '9') {
                out.push_back(std::stoi(e->d_name));
            }
        }
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int openFdCount() {
    // The directory stream holds one descriptor of its own while it is read.
    return static_cast<int>(numericEntries("/proc/self/fd").size()) - 1;
}

std::vector<int> threadIds() {
    return numericEntries("/proc/self/task");
}

int64_t contextSwitches(int tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    if (!status) {
        return -1;
    }
    int64_t total = 0;
    bool found = false;
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
            total += std::stoll(line.substr(line.find(':') + 1));
            found = true;
        }
    }
    return found ? total : -1;
}

char threadState(int tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text;
    if (!stat || !std::getline(stat, text)) {
        return 0;
    }
    // The command name is in parentheses and may hold blanks; the state follows the last ')'.
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 0;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace testsupport
