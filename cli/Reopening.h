// A port opened again on a thread of its own. A watch that publishes runs as a service: a device
// server away or an adapter unplugged must neither end it nor hold up the other ports' polls while the
// port is tried again, so the opening (a connection that may take seconds to fail, the mapping read
// from a converter that may not answer) happens beside the rounds of polls.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "cli/Steps.h"
#include "mqtt/Messages.h"
#include "profile/Mapping.h"

namespace cli {

class PortReopening {
public:
    struct Opened {
        std::unique_ptr<Session> session;
        profile::Mapping mapping;
        mqtt::ConverterDescription description;
    };
    // Opens the port and reads what polling it needs; a Failure says why it could not.
    using Open = std::function<Opened()>;

    explicit PortReopening(Open open);
    ~PortReopening(); // waits for the attempt (Ctrl+C ends its waits)
    PortReopening(const PortReopening&) = delete;
    PortReopening& operator=(const PortReopening&) = delete;

    bool done() const { return done_.load(std::memory_order_acquire); }
    // Once done(): what was opened, or nothing, and then failure() says why.
    std::optional<Opened> take();
    const std::string& failure() const { return failure_; }

private:
    std::optional<Opened> opened_;
    std::string failure_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace cli
