// One converter's connection to the MQTT broker (libmosquitto), on a thread of its own: polls are
// handed over without ever waiting on the broker, kept in a bounded queue while it is away and
// delivered in order at QoS 1 when it is back. The converter's status topic says "online" on every
// connection and "offline" by the broker's last will when the process dies or loses the broker, and
// by a message of its own when the watch ends.
//
// Threads: post(), counts() and finish() may be called from any thread; the log function is called
// on the publisher's thread and must be safe for that.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mqtt/Addressing.h"
#include "mqtt/Messages.h"

namespace mqtt {

struct BrokerOptions {
    BrokerUrl url;
    std::string user;     // none: anonymous
    std::string password; // only with a user
    std::string caFile;   // TLS: the CA that signed the broker's certificate; none: the system's CAs
    std::string prefix = "vx538";
    bool retain = false;           // the variables' messages retained
    std::size_t queueCapacity = 600; // polls per converter while the broker is away
    int keepaliveSeconds = 30;
};

using Log = std::function<void(const std::string& line)>;

class Publisher {
public:
    // Starts connecting at once; never throws for a broker that is away (it keeps trying).
    Publisher(const BrokerOptions& options, ConverterDescription converter, Log log);
    ~Publisher(); // finish(0) when finish was not called
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Queues one poll for publishing; returns at once whatever the broker does.
    void post(const SampleEntry& entry);

    // The converter described anew (its mapping read again after its line came back); its name, which
    // heads its topics, stays.
    void describe(ConverterDescription converter);

    // Delivers what is queued while the broker takes it, for at most `grace`, then says "offline" and
    // disconnects cleanly; logs what could not be delivered. Returns once the connection is closed.
    void finish(std::chrono::milliseconds grace);

    struct Counts {
        uint64_t delivered = 0; // messages the broker acknowledged
        uint64_t dropped = 0;   // polls dropped from a full queue
        std::size_t queued = 0; // polls waiting
        bool connected = false;
        int connections = 0;    // connections made so far
        // After finish(): the polls whose delivery the broker did not confirm (queued, or handed over
        // without an acknowledgement).
        std::size_t undelivered = 0;
    };
    Counts counts() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Connects, publishes one message at QoS 1 and waits for the broker's acknowledgement, then
// disconnects: for results published once (a check's table). Empty when it was delivered, else why not.
std::string PublishOnce(const BrokerOptions& options, const Outgoing& message, std::chrono::milliseconds limit);

} // namespace mqtt
