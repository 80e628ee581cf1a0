// The ports of a run.
#include "cli/Ports.h"

#include <filesystem>
#include <sstream>

#include "cli/Files.h"
#include "serial/PortUrl.h"
#include "serial/PosixPort.h"

namespace cli {

namespace {

std::vector<std::string> readPortsFile(const std::string& path) {
    std::istringstream text(ReadInputFile(path));
    std::vector<std::string> ports;
    int number = 0;
    for (std::string line; std::getline(text, line);) {
        ++number;
        if (line.find('\0') != std::string::npos) {
            throw Failure(code::BadFile, path + ": line " + std::to_string(number) +
                                             " holds a NUL byte, which no port name can hold");
        }
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        const auto begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos) {
            continue;
        }
        ports.push_back(line.substr(begin, line.find_last_not_of(" \t\r") - begin + 1));
    }
    return ports;
}

} // namespace

std::string DeviceOf(const std::string& port) {
    if (serial::isNetworkPortName(port)) {
        return port; // a URL, not a file: no path to follow
    }
    std::error_code error;
    const auto device = std::filesystem::weakly_canonical(serial::portPathFor(port), error);
    return error ? serial::portPathFor(port) : device.string();
}

void ResolvePorts(Globals& globals) {
    if (!globals.portsFrom.empty()) {
        const auto more = readPortsFile(globals.portsFrom);
        globals.ports.insert(globals.ports.end(), more.begin(), more.end());
    }
    if (globals.ports.empty()) {
        throw Failure(code::Usage,
                      "no port: give --port NAME ('vx538 ports' lists the serial devices present)");
    }
    for (std::size_t i = 0; i < globals.ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (DeviceOf(globals.ports[i]) == DeviceOf(globals.ports[j])) {
                throw Failure(code::Usage, "ports " + globals.ports[j] + " and " + globals.ports[i] +
                                               " are the same device " + DeviceOf(globals.ports[i]));
            }
        }
    }
}

LineOptions LineOptionsOf(const Globals& globals, const std::string& port) {
    LineOptions options;
    options.port = port;
    options.baud = globals.baud;
    options.parity = ParityNamed(globals.parity).value_or(serial::TParity::None);
    options.timeout = Millis(globals.timeoutMs);
    options.gap = globals.gapGiven ? Millis(globals.gapMs) : DefaultGap(port);
    options.retries = globals.retries;
    return options;
}

void OpenLog(TrafficLog& log, const Globals& globals) {
    if (globals.log.empty()) {
        return;
    }
    if (const std::string failure = log.open(globals.log); !failure.empty()) {
        throw Failure(code::BadFile, "cannot open the log file " + globals.log + ": " + failure);
    }
}

std::string PortFileName(std::string pattern, const std::string& port) {
    const std::string name = port.substr(port.find_last_of('/') + 1);
    for (std::size_t at; (at = pattern.find("{port}")) != std::string::npos;) {
        pattern.replace(at, 6, name);
    }
    return pattern;
}

} // namespace cli
