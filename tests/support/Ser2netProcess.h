// Debian's ser2net as a child process of a test, in front of simulators' pseudo-terminals: a YAML
// configuration written for it (one connection per device, each on a free TCP port of 127.0.0.1
// only), started in the foreground, stopped by its own pid, and started again on the same ports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class Ser2netProcess {
public:
    struct Device {
        std::string path;     // the pseudo-terminal
        bool rfc2217 = true;  // false: raw TCP
        // ser2net's own habit of gathering what the device sends for up to 20 character times
        // before passing it on; off unless asked for (see the configuration written).
        bool gatherCharacters = false;
    };

    // Throws when ser2net cannot be started or does not listen in time.
    explicit Ser2netProcess(std::vector<Device> devices);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    // "rfc2217://127.0.0.1:PORT" or "socket://127.0.0.1:PORT" of the device's connection.
    std::string url(std::size_t device = 0) const;
    uint16_t tcpPort(std::size_t device = 0) const { return ports_.at(device); }

    void stop();
    void start(); // again, on the same ports
    bool running() const { return pid_ > 0; }

    // Whether ser2net is installed where Debian puts it.
    static bool available();

private:
    std::vector<Device> devices_;
    std::vector<uint16_t> ports_;
    std::string folder_; // configuration and pid file
    int pid_ = -1;
};

// A TCP port of 127.0.0.1 that nothing listens on right now.
uint16_t FreeLoopbackPort();

// Whether something listens on 127.0.0.1:port (read from /proc/net/tcp, without connecting).
bool ListensOnLoopback(uint16_t port);

} // namespace testsupport
