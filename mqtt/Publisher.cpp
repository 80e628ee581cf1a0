// A converter's broker connection: libmosquitto driven from our own poll loop, so that the thread that
// polls the converter only ever takes a lock for a queue push, and every library call (connecting,
// name lookup, TLS, writes) happens here.
#include "mqtt/Publisher.h"

#include <mosquitto.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "mqtt/SampleQueue.h"
#include "serial/PosixPort.h"

namespace mqtt {

namespace {

using Clock = std::chrono::steady_clock;

// Messages handed to the library and not yet acknowledged: a few polls' worth. What the library holds
// it resends by itself after a reconnection; everything else waits in our bounded queue.
constexpr int kWindow = 64;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string clientId(const std::string& converter) {
    char host[64] = {};
    ::gethostname(host, sizeof host - 1);
    std::string id = "vx538-" + std::string(host) + "-" + std::to_string(::getpid()) + "-" + converter;
    id.resize(std::min<std::size_t>(id.size(), 128));
    return id;
}

// A client set up for `options`: protocol, TLS, credentials. Empty with `error` set when the library
// refuses a setting (a CA file it cannot read).
mosquitto* newClient(const BrokerOptions& options, const std::string& id, void* self, std::string& error) {
    initLibrary();
    mosquitto* mosq = mosquitto_new(id.c_str(), true, self);
    if (!mosq) {
        error = "cannot create an MQTT client";
        return nullptr;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, kWindow + 8);
    int rc = MOSQ_ERR_SUCCESS;
    if (options.url.tls) {
        rc = options.caFile.empty()
                 ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                 : mosquitto_tls_set(mosq, options.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "TLS cannot be set up with " + (options.caFile.empty() ? "/etc/ssl/certs" : options.caFile) +
                    ": " + mosquitto_strerror(rc);
        }
    }
    if (rc == MOSQ_ERR_SUCCESS && !options.user.empty()) {
        rc = mosquitto_username_pw_set(mosq, options.user.c_str(),
                                       options.password.empty() ? nullptr : options.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("the user name cannot be used: ") + mosquitto_strerror(rc);
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(mosq);
        return nullptr;
    }
    return mosq;
}

// Why a connection ended or was refused, in words.
std::string reasonOf(int rc, bool connack) {
    if (connack) {
        return std::string("the broker refused the connection: ") + mosquitto_connack_string(rc);
    }
    if (rc == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return mosquitto_strerror(rc);
}

} // namespace

class Publisher::Impl {
public:
    Impl(const BrokerOptions& options, ConverterDescription converter, Log log)
        : options_(options), name_(converter.name),
          converter_(std::make_shared<const ConverterDescription>(std::move(converter))), log_(std::move(log)),
          queue_(options.queueCapacity), statusTopic_(StatusTopic(options.prefix, name_)) {
        wake_.create();
        std::string error;
        mosq_ = newClient(options_, clientId(name_), this, error);
        if (!mosq_) {
            say(error);
            return;
        }
        mosquitto_will_set(mosq_, statusTopic_.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1, true);
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            static_cast<Impl*>(self)->connected(rc);
        });
        mosquitto_disconnect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            static_cast<Impl*>(self)->disconnected(rc);
        });
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
            static_cast<Impl*>(self)->acknowledged(mid);
        });
        thread_ = std::thread([this] { run(); });
    }

    ~Impl() {
        finish(std::chrono::milliseconds(0));
        if (mosq_) {
            mosquitto_destroy(mosq_);
        }
    }

    void post(const SampleEntry& entry) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push(entry);
        }
        wake_.signal();
    }

    void describe(ConverterDescription converter) {
        converter.name = name_;
        auto described = std::make_shared<const ConverterDescription>(std::move(converter));
        const std::lock_guard lock(mutex_);
        converter_ = std::move(described);
    }

    void finish(std::chrono::milliseconds grace) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            stopping_ = true;
            grace_ = grace;
        }
        wake_.signal();
        if (thread_.joinable()) {
            thread_.join();
        } else {
            const std::lock_guard lock(mutex_);
            undelivered_ = queue_.size(); // no client could be made: nothing ever went out
        }
    }

    Counts counts() const {
        const std::lock_guard lock(mutex_);
        return {delivered_, queue_.droppedTotal(), queue_.size(), state_ == State::Connected, connections_,
                undelivered_};
    }

private:
    enum class State { Idle, Connecting, Connected };

    // Written on the thread only, under the lock because counts() reads it.
    void setState(State state) {
        const std::lock_guard lock(mutex_);
        state_ = state;
        connections_ += state == State::Connected ? 1 : 0;
    }

    void say(const std::string& line) {
        if (log_) {
            log_(name_ + ": " + line);
        }
    }

    // ---- on the publisher's thread ----

    void run() {
        std::optional<Clock::time_point> deadline;
        for (;;) {
            std::chrono::milliseconds grace{};
            {
                const std::lock_guard lock(mutex_);
                grace = grace_;
                if (stopping_ && !deadline) {
                    deadline = Clock::now() + grace;
                }
            }
            if (deadline && (state_ != State::Connected || idle() || Clock::now() >= *deadline)) {
                break;
            }
            if (state_ == State::Idle && Clock::now() >= nextAttempt_) {
                attempt();
            }
            if (state_ == State::Connected) {
                noteDrops();
                pump();
            } else {
                announceFull();
            }
            auto wait = std::chrono::milliseconds(1000);
            if (state_ == State::Idle) {
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt_ - Clock::now()));
            }
            if (deadline) {
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()));
            }
            turn(std::max(wait, std::chrono::milliseconds(0)));
        }
        shutDown();
    }

    bool idle() {
        const std::lock_guard lock(mutex_);
        return queue_.size() == 0 && inflight_ == 0;
    }

    void attempt() {
        const int rc = everTried_ ? mosquitto_reconnect_async(mosq_)
                                  : mosquitto_connect_async(mosq_, options_.url.host.c_str(), options_.url.port,
                                                            options_.keepaliveSeconds);
        everTried_ = true;
        if (rc == MOSQ_ERR_SUCCESS) {
            setState(State::Connecting);
            return;
        }
        failed(reasonOf(rc, false));
    }

    void failed(const std::string& reason) {
        setState(State::Idle);
        ++failures_;
        nextAttempt_ = Clock::now() + ReconnectDelay(failures_);
        if (reason != lastReason_) {
            say("the broker " + BrokerUrlText(options_.url) + " is not reachable (" + reason +
                "); trying again at most 30 s apart, the polls kept meanwhile");
            lastReason_ = reason;
        }
        if (!awaySince_) {
            awaySince_ = Clock::now();
        }
    }

    // One wait on the wake event and the broker's socket, then whatever the library has to do.
    void turn(std::chrono::milliseconds wait) {
        const int socket = mosq_ ? mosquitto_socket(mosq_) : -1;
        pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {socket, POLLIN, 0}};
        if (socket >= 0 && mosquitto_want_write(mosq_)) {
            fds[1].events |= POLLOUT;
        }
        ::poll(fds, socket >= 0 ? 2 : 1, static_cast<int>(wait.count()));
        if (fds[0].revents & POLLIN) {
            wake_.drain();
        }
        if (socket >= 0) {
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                mosquitto_loop_read(mosq_, 1);
            }
            if ((fds[1].revents & POLLOUT) && mosquitto_socket(mosq_) >= 0) {
                mosquitto_loop_write(mosq_, 1);
            }
            mosquitto_loop_misc(mosq_);
        }
        if (state_ != State::Idle && mosquitto_socket(mosq_) < 0) {
            disconnected(MOSQ_ERR_CONN_LOST); // closed without the callback telling
        }
    }

    void connected(int rc) {
        if (rc != 0) {
            refusal_ = rc; // the library closes the socket next and says so through disconnected()
            return;
        }
        setState(State::Connected);
        failures_ = 0;
        lastReason_.clear();
        send({statusTopic_, std::string(kOnline), true});
        if (awaySince_) {
            const auto away = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - *awaySince_).count();
            std::size_t queued = 0;
            {
                const std::lock_guard lock(mutex_);
                queued = queue_.size();
            }
            say("the broker " + BrokerUrlText(options_.url) + " is back after " + std::to_string(away) + " s; " +
                std::to_string(queued) + " polls queued meanwhile go out now");
            awaySince_.reset();
        }
        announcedFull_ = false;
    }

    void disconnected(int rc) {
        if (state_ == State::Idle) {
            return;
        }
        const bool wasConnected = state_ == State::Connected;
        setState(State::Idle);
        if (stoppingClean_) {
            return;
        }
        if (wasConnected) {
            failures_ = 0;
            awaySince_ = Clock::now();
            say("lost the broker " + BrokerUrlText(options_.url) + " (" + reasonOf(rc, false) +
                "); the polls are kept until it is back");
            lastReason_.clear();
        }
        const int refusal = refusal_;
        refusal_ = 0;
        failed(refusal ? reasonOf(refusal, true) : reasonOf(rc, false));
    }

    void acknowledged(int) {
        const std::lock_guard lock(mutex_);
        if (inflight_ > 0) {
            --inflight_;
        }
        ++delivered_;
    }

    // Hands a message to the library. A QoS 1 message it answers "no connection" for is still queued
    // there and goes out after the reconnection (handing it again would send it twice); any other
    // refusal is the message's own (too long, not UTF-8) and would come again, so it is logged and left.
    void send(const Outgoing& message) {
        const int rc = mosquitto_publish(mosq_, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                         message.payload.data(), 1, message.retain);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
            say("a message to " + message.topic + " cannot be published: " + mosquitto_strerror(rc));
            return;
        }
        const std::lock_guard lock(mutex_);
        ++inflight_;
    }

    // While the broker is away: says once that the queue is full and the oldest polls now go.
    void announceFull() {
        bool full = false;
        {
            const std::lock_guard lock(mutex_);
            full = queue_.droppedTotal() > 0 && queue_.size() >= queue_.capacity();
        }
        if (full && !announcedFull_) {
            say("the queue of " + std::to_string(queue_.capacity()) +
                " polls is full: the oldest are dropped until the broker is back (--mqtt-queue)");
            announcedFull_ = true;
        }
    }

    // On the broker's return: how many polls the full queue dropped, in the log and in a status message.
    void noteDrops() {
        SampleQueue::Dropped dropped;
        {
            const std::lock_guard lock(mutex_);
            dropped = queue_.takeDropped();
        }
        if (dropped.count == 0) {
            return;
        }
        say(std::to_string(dropped.count) + " polls from " + UtcTimeText(dropped.firstMs) + " to " +
            UtcTimeText(dropped.lastMs) + " were dropped: the queue of " + std::to_string(queue_.capacity()) +
            " polls was full while the broker was away (--mqtt-queue)");
        send({DroppedTopic(options_.prefix, name_),
              DroppedPayload(dropped.count, dropped.firstMs, dropped.lastMs, wallMs()), false});
    }

    // While connected: queued polls become messages, handed over in order while the window has room.
    void pump() {
        for (;;) {
            std::optional<SampleEntry> next;
            std::shared_ptr<const ConverterDescription> converter;
            {
                const std::lock_guard lock(mutex_);
                if (inflight_ + profile::kMappedVariables > kWindow) {
                    return;
                }
                next = queue_.pop();
                converter = converter_;
            }
            if (!next) {
                return;
            }
            for (const Outgoing& message : SampleMessages(options_.prefix, *converter, *next, options_.retain)) {
                send(message);
            }
        }
    }

    void shutDown() {
        if (!mosq_) {
            return;
        }
        if (state_ == State::Connected) {
            stoppingClean_ = true;
            // The broker keeps "offline" as the status; a clean disconnection does not fire the will.
            send({statusTopic_, std::string(kOffline), true});
            const auto limit = Clock::now() + std::chrono::seconds(2);
            while (state_ == State::Connected && inflight() > 0 && Clock::now() < limit) {
                turn(std::chrono::milliseconds(100));
            }
            mosquitto_disconnect(mosq_);
            const auto closeLimit = Clock::now() + std::chrono::seconds(1);
            while (mosquitto_socket(mosq_) >= 0 && Clock::now() < closeLimit) {
                turn(std::chrono::milliseconds(50));
            }
        }
        std::size_t left = 0;
        {
            // A poll is eight messages: those handed over and not acknowledged count as the polls they
            // may belong to.
            const std::lock_guard lock(mutex_);
            const auto unconfirmed = static_cast<std::size_t>(inflight_);
            left = queue_.size() + (unconfirmed + profile::kMappedVariables - 1) / profile::kMappedVariables;
            undelivered_ = left;
        }
        if (left > 0) {
            say(std::to_string(left) + " polls were not delivered: the broker " + BrokerUrlText(options_.url) +
                (state_ == State::Connected || stoppingClean_ ? " did not take them in time" : " was away"));
        }
    }

    int inflight() {
        const std::lock_guard lock(mutex_);
        return inflight_;
    }

    const BrokerOptions options_;
    const std::string name_;
    std::shared_ptr<const ConverterDescription> converter_; // under the lock: describe() replaces it
    const Log log_;
    serial::EventFd wake_;
    mosquitto* mosq_ = nullptr;
    std::thread thread_;

    mutable std::mutex mutex_; // guards what post(), counts() and finish() share with the thread
    SampleQueue queue_;
    bool stopping_ = false;
    std::chrono::milliseconds grace_{0};
    int inflight_ = 0;
    uint64_t delivered_ = 0;
    std::size_t undelivered_ = 0;
    State state_ = State::Idle;
    int connections_ = 0;

    // The thread's own.
    const std::string statusTopic_;
    bool everTried_ = false;
    int failures_ = 0;
    int refusal_ = 0;
    Clock::time_point nextAttempt_ = Clock::now();
    std::optional<Clock::time_point> awaySince_;
    std::string lastReason_;
    bool announcedFull_ = false;
    bool stoppingClean_ = false;
};

Publisher::Publisher(const BrokerOptions& options, ConverterDescription converter, Log log)
    : impl_(std::make_unique<Impl>(options, std::move(converter), std::move(log))) {}

Publisher::~Publisher() = default;

void Publisher::post(const SampleEntry& entry) {
    impl_->post(entry);
}

void Publisher::describe(ConverterDescription converter) {
    impl_->describe(std::move(converter));
}

void Publisher::finish(std::chrono::milliseconds grace) {
    impl_->finish(grace);
}

Publisher::Counts Publisher::counts() const {
    return impl_->counts();
}

std::string PublishOnce(const BrokerOptions& options, const Outgoing& message, std::chrono::milliseconds limit) {
    struct State {
        int connack = -1;
        bool acked = false;
        bool closed = false;
        int closeReason = 0;
    } state;
    std::string error;
    mosquitto* mosq = newClient(options, clientId("once"), &state, error);
    if (!mosq) {
        return error;
    }
    mosquitto_connect_callback_set(mosq, [](mosquitto*, void* s, int rc) { static_cast<State*>(s)->connack = rc; });
    mosquitto_publish_callback_set(mosq, [](mosquitto*, void* s, int) { static_cast<State*>(s)->acked = true; });
    mosquitto_disconnect_callback_set(mosq, [](mosquitto*, void* s, int rc) {
        static_cast<State*>(s)->closed = true;
        static_cast<State*>(s)->closeReason = rc;
    });
    const auto deadline = Clock::now() + limit;
    int rc = mosquitto_connect_async(mosq, options.url.host.c_str(), options.url.port, options.keepaliveSeconds);
    bool published = false;
    while (rc == MOSQ_ERR_SUCCESS && !state.acked && !state.closed && Clock::now() < deadline) {
        if (state.connack == 0 && !published) {
            rc = mosquitto_publish(mosq, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                   message.payload.data(), 1, message.retain);
            published = true;
            continue;
        }
        rc = mosquitto_loop(mosq, 100, 1);
    }
    if (state.acked) {
        mosquitto_disconnect(mosq);
        mosquitto_loop(mosq, 100, 1);
    } else if (state.connack > 0) {
        error = reasonOf(state.connack, true);
    } else if (rc != MOSQ_ERR_SUCCESS) {
        error = reasonOf(rc, false);
    } else if (state.closed) {
        error = "the connection closed: " + reasonOf(state.closeReason, false);
    } else {
        error = "no acknowledgement within " + std::to_string(limit.count() / 1000) + " s";
    }
    mosquitto_destroy(mosq);
    return error.empty() ? error : "the broker " + BrokerUrlText(options.url) + " did not take the message: " + error;
}

} // namespace mqtt
