// Debian's mosquitto broker as a child process of a test or a benchmark: a configuration file of its
// own in a temporary folder, one listener on a free port of 127.0.0.1, optionally TLS (a CA and a
// server certificate made with openssl) and a password file (mosquitto_passwd); stopped by its pid and
// started again on the same port. Beside it, mosquitto_sub as a reader writing to a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class MosquittoProcess {
public:
    struct Options {
        bool tls = false;     // the listener speaks TLS with a server certificate of a CA made here
        std::string user{}; // with a password: anonymous clients are refused
        std::string password{};
        // Sessions and retained messages kept across a restart (a subscriber's QoS 1 queue too).
        bool persistence = false;
    };

    // Throws when mosquitto (or openssl, mosquitto_passwd) cannot be run or does not listen in time.
    explicit MosquittoProcess(Options options);
    MosquittoProcess() : MosquittoProcess(Options{}) {}
    ~MosquittoProcess();
    MosquittoProcess(const MosquittoProcess&) = delete;
    MosquittoProcess& operator=(const MosquittoProcess&) = delete;

    uint16_t port() const { return port_; }
    // "mqtt://127.0.0.1:PORT", or mqtts:// for a TLS listener.
    std::string url() const;
    // The CA certificate that signed the server's (TLS only).
    std::string caFile() const { return folder_ + "/ca.crt"; }
    const std::string& folder() const { return folder_; }
    const Options& options() const { return options_; }
    int pid() const { return pid_; }

    void stop();  // SIGTERM to its own pid, then a bounded wait (SIGKILL after 10 s)
    void start(); // again, on the same port
    bool running() const { return pid_ > 0; }

    // Whether mosquitto and its clients are installed where Debian puts them.
    static bool available();

private:
    Options options_;
    std::string folder_;
    uint16_t port_ = 0;
    int pid_ = -1;
};

// mosquitto_sub reading `topics` at QoS 1 from a broker, each message written as a line "TOPIC PAYLOAD"
// to a file of its own; stopped by its pid when the object goes.
class MosquittoSubscriber {
public:
    // `clientId` non-empty: a persistent session (clean session off), so messages published while the
    // subscriber is reconnecting (after a broker restart) are kept for it.
    MosquittoSubscriber(const MosquittoProcess& broker, const std::vector<std::string>& topics,
                        const std::string& file, const std::string& clientId = {});
    ~MosquittoSubscriber();
    MosquittoSubscriber(const MosquittoSubscriber&) = delete;
    MosquittoSubscriber& operator=(const MosquittoSubscriber&) = delete;

    // The lines written so far, each "TOPIC PAYLOAD".
    std::vector<std::string> lines() const;
    // Waits (bounded) until the broker has taken the subscription: a retained probe message comes back.
    bool ready(std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    std::string file_;
    std::string probe_;
    const MosquittoProcess& broker_;
    int pid_ = -1;
};

// The arguments that reach `broker` with a mosquitto client (host, port, TLS CA, user and password).
std::vector<std::string> MosquittoClientArguments(const MosquittoProcess& broker);

// Publishes one message at QoS 1 with mosquitto_pub; true when it was taken (exit status 0).
bool MosquittoPublish(const MosquittoProcess& broker, const std::string& topic, const std::string& payload,
                      bool retain = false);

// The retained message of `topic` as mosquitto_sub reads it right after subscribing; empty when there
// is none within `limit`.
std::string MosquittoRetained(const MosquittoProcess& broker, const std::string& topic,
                              std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace testsupport
