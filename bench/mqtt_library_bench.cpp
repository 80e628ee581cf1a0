// The two MQTT client libraries Debian ships, side by side against a local mosquitto: CPU time per
// published QoS 1 message over plain TCP and over TLS, and what each does when the broker goes away and
// comes back (time to reconnect, messages published meanwhile that still arrive, and in which order).
// The figures chose the library vx538 publishes with; this program prints them and never fails.
#include <MQTTAsync.h>
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "tests/support/MosquittoProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::MosquittoProcess;
using testsupport::MosquittoSubscriber;

constexpr int kMessages = 20000;
constexpr int kWindow = 64; // messages awaiting their PUBACK at once, for both libraries
const std::string kTopic = "bench/boiler/variable/3";
const std::string kPayload = R"({"value":24.512345,"unit":"degC","source":"command 1 data 12-15, SV",)"
                             R"("register":40007,"time":"2024-05-01T12:00:00.123Z","quality":"good"})";

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What both clients count: connections made, messages acknowledged, a wait for either.
struct Counters {
    std::mutex mutex;
    std::condition_variable changed;
    int connects = 0;
    int acked = 0;
    bool connected = false;

    void connect(bool up) {
        const std::lock_guard lock(mutex);
        connected = up;
        connects += up ? 1 : 0;
        changed.notify_all();
    }
    void ack() {
        const std::lock_guard lock(mutex);
        ++acked;
        changed.notify_all();
    }
    template <typename Condition> bool waitFor(Condition condition, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return condition(*this); });
    }
};

// A client of either library: connect, publish at QoS 1, the library's own reconnection on.
class Client {
public:
    virtual ~Client() = default;
    virtual bool publish(const std::string& payload) = 0; // false when the library refused it
    Counters counters;
};

class MosquittoClient : public Client {
public:
    MosquittoClient(const MosquittoProcess& broker, bool tls) {
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_max_inflight_messages_set(mosq_, kWindow);
        mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
        if (tls) {
            mosquitto_tls_set(mosq_, broker.caFile().c_str(), nullptr, nullptr, nullptr, nullptr);
        }
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            static_cast<MosquittoClient*>(self)->counters.connect(rc == 0);
        });
        mosquitto_disconnect_callback_set(
            mosq_, [](mosquitto*, void* self, int) { static_cast<MosquittoClient*>(self)->counters.connect(false); });
        mosquitto_publish_callback_set(
            mosq_, [](mosquitto*, void* self, int) { static_cast<MosquittoClient*>(self)->counters.ack(); });
        mosquitto_connect_async(mosq_, "127.0.0.1", broker.port(), 20);
        mosquitto_loop_start(mosq_);
    }
    ~MosquittoClient() override {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    bool publish(const std::string& payload) override {
        return mosquitto_publish(mosq_, nullptr, kTopic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                 false) == MOSQ_ERR_SUCCESS;
    }

private:
    mosquitto* mosq_ = nullptr;
};

class PahoClient : public Client {
public:
    PahoClient(const MosquittoProcess& broker, bool tls) {
        const std::string uri = std::string(tls ? "ssl" : "tcp") + "://127.0.0.1:" + std::to_string(broker.port());
        MQTTAsync_createOptions create = MQTTAsync_createOptions_initializer;
        create.sendWhileDisconnected = 1;
        create.maxBufferedMessages = 100000;
        MQTTAsync_createWithOptions(&client_, uri.c_str(), ("bench-paho-" + std::to_string(::getpid())).c_str(),
                                    MQTTCLIENT_PERSISTENCE_NONE, nullptr, &create);
        MQTTAsync_setCallbacks(
            client_, this, [](void* self, char*) { static_cast<PahoClient*>(self)->counters.connect(false); },
            [](void*, char* topic, int, MQTTAsync_message* message) {
                MQTTAsync_freeMessage(&message);
                MQTTAsync_free(topic);
                return 1;
            },
            nullptr);
        MQTTAsync_setConnected(client_, this,
                               [](void* self, char*) { static_cast<PahoClient*>(self)->counters.connect(true); });
        MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
        options.keepAliveInterval = 20;
        options.cleansession = 1;
        options.maxInflight = kWindow;
        options.automaticReconnect = 1;
        options.minRetryInterval = 1;
        options.maxRetryInterval = 30;
        MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
        const std::string ca = broker.caFile();
        if (tls) {
            ssl.trustStore = ca.c_str();
            options.ssl = &ssl;
        }
        MQTTAsync_connect(client_, &options);
    }
    ~PahoClient() override {
        MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
        MQTTAsync_disconnect(client_, &options);
        std::this_thread::sleep_for(100ms);
        MQTTAsync_destroy(&client_);
    }
    bool publish(const std::string& payload) override {
        MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
        response.context = this;
        response.onSuccess = [](void* self, MQTTAsync_successData*) { static_cast<PahoClient*>(self)->counters.ack(); };
        return MQTTAsync_send(client_, kTopic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, 0,
                              &response) == MQTTASYNC_SUCCESS;
    }

private:
    MQTTAsync client_ = nullptr;
};

template <typename C> std::unique_ptr<Client> make(const MosquittoProcess& broker, bool tls) {
    return std::make_unique<C>(broker, tls);
}

// CPU per message and the rate, publishing with at most kWindow unacknowledged.
void throughput(const char* name, std::unique_ptr<Client> (*maker)(const MosquittoProcess&, bool), bool tls) {
    MosquittoProcess broker(MosquittoProcess::Options{.tls = tls});
    auto client = maker(broker, tls);
    if (!client->counters.waitFor([](Counters& c) { return c.connected; }, 10s)) {
        std::printf("%-12s %-5s  did not connect\n", name, tls ? "TLS" : "TCP");
        return;
    }
    const double cpu = cpuSeconds();
    const auto start = Clock::now();
    int refused = 0;
    for (int sent = 0; sent < kMessages; ++sent) {
        client->counters.waitFor([&](Counters& c) { return sent - c.acked < kWindow; }, 10s);
        refused += client->publish(kPayload) ? 0 : 1;
    }
    const bool all = client->counters.waitFor([&](Counters& c) { return c.acked >= kMessages - refused; }, 60s);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double used = cpuSeconds() - cpu;
    std::printf("%-12s %-5s  %6.1f us CPU/message  %8.0f messages/s  %s\n", name, tls ? "TLS" : "TCP",
                used / kMessages * 1e6, kMessages / wall, all && refused == 0 ? "all acknowledged" : "LOST SOME");
}

// The broker stopped for `outage` while a message goes out every 100 ms, then started again.
void reconnect(const char* name, std::unique_ptr<Client> (*maker)(const MosquittoProcess&, bool),
               std::chrono::seconds outage) {
    MosquittoProcess broker(MosquittoProcess::Options{.persistence = true});
    const std::string file = broker.folder() + "/received.txt";
    auto subscriber = std::make_unique<MosquittoSubscriber>(broker, std::vector<std::string>{kTopic}, file,
                                                            std::string("bench-reader-") + name);
    subscriber->ready();
    auto client = maker(broker, false);
    client->counters.waitFor([](Counters& c) { return c.connected; }, 10s);
    broker.stop();
    client->counters.waitFor([](Counters& c) { return !c.connected; }, 10s);
    int refused = 0;
    int sent = 0;
    const auto down = Clock::now();
    while (Clock::now() - down < outage) {
        refused += client->publish(std::to_string(sent++)) ? 0 : 1;
        std::this_thread::sleep_for(100ms);
    }
    broker.start();
    const auto up = Clock::now();
    const bool back = client->counters.waitFor([](Counters& c) { return c.connected; }, 60s);
    const double after = std::chrono::duration<double>(Clock::now() - up).count();
    subscriber->ready(); // the reader's own reconnection, then what it was kept
    std::this_thread::sleep_for(2s);
    int received = 0;
    int inOrder = 0;
    int last = -1;
    for (const std::string& line : subscriber->lines()) {
        const int n = std::stoi(line.substr(line.find(' ') + 1));
        ++received;
        inOrder += n > last ? 1 : 0;
        last = std::max(last, n);
    }
    std::printf("%-12s broker away %2lld s: reconnected %s %5.1f s after it returned; of %d published meanwhile "
                "%d refused, %d arrived, %d in order\n",
                name, static_cast<long long>(outage.count()), back ? "" : "NOT", after, sent, refused, received,
                inOrder);
}

} // namespace

int main(int argc, char** argv) {
    if (!MosquittoProcess::available()) {
        std::printf("mosquitto is not installed (scripts/install-deps.sh installs it)\n");
        return 0;
    }
    const int outage = argc > 1 ? std::atoi(argv[1]) : 20;
    mosquitto_lib_init();
    std::printf("%d QoS 1 messages of %zu bytes, at most %d unacknowledged, to a local mosquitto\n", kMessages,
                kPayload.size(), kWindow);
    for (const bool tls : {false, true}) {
        throughput("libmosquitto", make<MosquittoClient>, tls);
        throughput("paho", make<PahoClient>, tls);
    }
    reconnect("libmosquitto", make<MosquittoClient>, std::chrono::seconds(outage));
    reconnect("paho", make<PahoClient>, std::chrono::seconds(outage));
    mosquitto_lib_cleanup();
    return 0;
}
