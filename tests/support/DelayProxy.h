// A TCP relay on 127.0.0.1 that holds every byte for a fixed time in each direction, as a long
// network link does: tests put it between a tool and a device server to see that timeouts hold.
// One connection at a time; a new one replaces the old.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace testsupport {

class DelayProxy {
public:
    // Relays to 127.0.0.1:target, each byte `delay` later than it came.
    DelayProxy(uint16_t target, std::chrono::milliseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    uint16_t port() const { return port_; }

private:
    void serve();

    uint16_t target_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    int stop_ = -1; // an eventfd: signalled when the relay is to end
    uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace testsupport
