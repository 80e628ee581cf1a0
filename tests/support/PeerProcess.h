// A network peer as a child process of a test (one of the Python servers in this folder, or socat):
// started with its arguments, the TCP port it listens on read from its first line of output (or
// given, and waited for until something listens there), stopped by its own pid when the object goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class PeerProcess {
public:
    // Starts `program`; its first line of output is its port. Throws when none comes in time.
    PeerProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Starts `program`, which will listen on 127.0.0.1:`port`; throws when nothing does in time.
    PeerProcess(const std::string& program, const std::vector<std::string>& arguments, uint16_t port);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    uint16_t port() const { return port_; }
    // "SCHEME://127.0.0.1:PORT"
    std::string url(const std::string& scheme) const;
    int pid() const { return pid_; }
    void stop();

private:
    int pid_ = -1;
    uint16_t port_ = 0;
};

// A listener on 127.0.0.1 whose accept queue is full: a connection attempt to it gets no answer at
// all (the kernel drops the SYN and the client would retry for minutes), unlike one that is merely
// never accepted, which the kernel completes.
class FullListener {
public:
    FullListener(); // throws when the queue cannot be seen to be full
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    std::vector<int> fillers_;
    uint16_t port_ = 0;
};

// How many sockets of this machine are waiting for an answer to their SYN to 127.0.0.1:port.
int ConnectingTo(uint16_t port);

// Debian's python3 with its packages (python3-serial), whatever an environment puts first in PATH.
std::string DebianPython();
// Whether Debian's python3 can import a module ("serial.rfc2217").
bool HasPythonModule(const std::string& module);
// Where the test helpers of this folder are, for PeerProcess.
std::string SupportFile(const std::string& name);

} // namespace testsupport
