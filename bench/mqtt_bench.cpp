// vx538 watch publishing to a local mosquitto: 1, 8 and 32 simulated converters polled every second by
// one vx538. Prints, per plant size, the messages delivered against those expected, vx538's CPU share
// of one core and its resident memory, and the latency from the last byte of a converter's reply (seen
// on the simulator's tap, a listen-only copy of its line) to the message at a subscriber in this
// process. Prints figures only; `mqtt_bench [SECONDS]` measures SECONDS per size (default 30).
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/MosquittoProcess.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"
#include "tools/ModbusCrc.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::MosquittoProcess;
using testsupport::SimProcess;

// A reply's variable 1 and when its last byte crossed the line.
struct Reply {
    Clock::time_point at;
    float value;
};

// Reads every simulator's tap and keeps the MODBUS read replies found in it.
class TapReader {
public:
    explicit TapReader(const std::vector<std::string>& taps) : buffers_(taps.size()), replies_(taps.size()) {
        for (const std::string& tap : taps) {
            fds_.push_back(::open(tap.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        }
        thread_ = std::thread([this] { run(); });
    }
    ~TapReader() {
        stop_ = true;
        thread_.join();
        for (const int fd : fds_) {
            ::close(fd);
        }
    }
    // The latest reply of converter `c` whose variable 1 is `value`, at or before `before`.
    std::optional<Clock::time_point> replyOf(std::size_t c, float value, Clock::time_point before) {
        const std::lock_guard lock(mutex_);
        for (auto it = replies_[c].rbegin(); it != replies_[c].rend(); ++it) {
            if (it->at <= before && it->value == value) {
                return it->at;
            }
        }
        return std::nullopt;
    }

private:
    void run() {
        std::vector<pollfd> fds;
        for (const int fd : fds_) {
            fds.push_back({fd, POLLIN, 0});
        }
        while (!stop_) {
            ::poll(fds.data(), fds.size(), 100);
            const auto now = Clock::now();
            for (std::size_t c = 0; c < fds.size(); ++c) {
                if (!(fds[c].revents & POLLIN)) {
                    continue;
                }
                uint8_t bytes[4096];
                const ssize_t n = ::read(fds[c].fd, bytes, sizeof bytes);
                if (n > 0) {
                    buffers_[c].insert(buffers_[c].end(), bytes, bytes + n);
                    scan(c, now);
                }
            }
        }
    }

    // A read reply of 16 registers: slave 1, function 3, 32 bytes, its CRC right.
    void scan(std::size_t c, Clock::time_point now) {
        std::vector<uint8_t>& b = buffers_[c];
        for (std::size_t i = 0; i + 37 <= b.size(); ++i) {
            if (b[i] != 1 || b[i + 1] != 3 || b[i + 2] != 32) {
                continue;
            }
            const auto crc = tools::ModbusCrc16(std::span<const uint8_t>(b.data() + i, 35));
            if (b[i + 35] != crc.low || b[i + 36] != crc.high) {
                continue;
            }
            const uint32_t bits = uint32_t{b[i + 3]} << 24 | uint32_t{b[i + 4]} << 16 | uint32_t{b[i + 5]} << 8 | b[i + 6];
            {
                const std::lock_guard lock(mutex_);
                replies_[c].push_back({now, std::bit_cast<float>(bits)});
            }
            b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(i + 37));
            i = static_cast<std::size_t>(-1);
        }
        if (b.size() > 4096) {
            b.erase(b.begin(), b.end() - 64);
        }
    }

    std::vector<int> fds_;
    std::vector<std::vector<uint8_t>> buffers_;
    std::mutex mutex_;
    std::vector<std::vector<Reply>> replies_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A subscriber in this process: every message's arrival time.
class Subscriber {
public:
    struct Arrival {
        Clock::time_point at;
        std::string topic;
        std::string payload;
    };
    explicit Subscriber(const MosquittoProcess& broker) {
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int) {
            mosquitto_subscribe(m, nullptr, "bench/#", 1);
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto* s = static_cast<Subscriber*>(self);
            const auto at = Clock::now();
            const std::lock_guard lock(s->mutex_);
            s->arrivals_.push_back({at, message->topic,
                                    std::string(static_cast<const char*>(message->payload),
                                                static_cast<std::size_t>(message->payloadlen))});
        });
        mosquitto_connect(mosq_, "127.0.0.1", broker.port(), 30);
        mosquitto_loop_start(mosq_);
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    std::vector<Arrival> take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(arrivals_, {});
    }

private:
    mosquitto* mosq_ = nullptr;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

// utime + stime of a process in seconds, and its resident memory now and at its peak in MB.
struct Usage {
    double cpu = 0;
    double rssMb = 0;
    double peakMb = 0;
};
Usage usageOf(int pid) {
    Usage u;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> f;
    for (std::string field; fields >> field;) {
        f.push_back(field);
    }
    if (f.size() > 12) {
        u.cpu = static_cast<double>(std::stoll(f[11]) + std::stoll(f[12])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            u.rssMb = std::stod(line.substr(6)) / 1024;
        } else if (line.starts_with("VmHWM:")) {
            u.peakMb = std::stod(line.substr(6)) / 1024;
        }
    }
    return u;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

void measure(std::size_t converters, std::chrono::seconds window, const fs::path& dir) {
    MosquittoProcess broker;
    Subscriber subscriber(broker);
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> taps;
    std::ofstream ports(dir / "ports");
    for (std::size_t c = 0; c < converters; ++c) {
        taps.push_back((dir / ("tap" + std::to_string(c))).string());
        sims.push_back(std::make_unique<SimProcess>(VX538_SIM_PATH, std::vector<std::string>{"--tap", taps.back()}));
        ports << "c" << c << " " << sims.back()->path() << "\n";
    }
    ports.close();
    TapReader tapReader(taps);
    testsupport::BackgroundProgram watch(VX538_PATH,
                                         {"--ports-from", (dir / "ports").string(), "watch", "--interval", "1000",
                                          "--mqtt", broker.url(), "--mqtt-topic", "bench"},
                                         (dir / "vx538").string());
    std::this_thread::sleep_for(5s); // every port opened and its mapping read
    subscriber.take();
    const Usage before = usageOf(watch.pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(window);
    const Usage after = usageOf(watch.pid());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::vector<Subscriber::Arrival> arrivals = subscriber.take();
    watch.signal(SIGINT);
    watch.wait(60s);

    std::vector<double> latencies;
    std::size_t variables = 0;
    for (const Subscriber::Arrival& a : arrivals) {
        if (a.topic.find("/variable/") == std::string::npos) {
            continue;
        }
        ++variables;
        if (!a.topic.ends_with("/variable/1")) {
            continue;
        }
        const std::size_t c = std::stoul(a.topic.substr(a.topic.find("/c") + 2));
        const auto payload = nlohmann::json::parse(a.payload, nullptr, false);
        if (!payload.contains("value") || c >= converters) {
            continue;
        }
        const float value = static_cast<float>(payload["value"].get<double>());
        if (const auto reply = tapReader.replyOf(c, value, a.at)) {
            latencies.push_back(std::chrono::duration<double, std::milli>(a.at - *reply).count());
        }
    }
    const double expected = static_cast<double>(converters) * 8.0;
    std::printf("%5zu  %9.1f  %9.1f  %6.1f %%  %7.2f %%  %6.1f MB  %6.1f MB  %6.1f / %6.1f / %6.1f ms  (%zu)\n",
                converters, expected, static_cast<double>(variables) / seconds,
                100.0 * static_cast<double>(variables) / (expected * seconds), 100.0 * (after.cpu - before.cpu) / seconds,
                after.rssMb, after.peakMb, percentile(latencies, 0.5), percentile(latencies, 0.99),
                percentile(latencies, 1.0), latencies.size());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (!MosquittoProcess::available()) {
        std::printf("mosquitto is not installed (scripts/install-deps.sh installs it)\n");
        return 0;
    }
    const std::chrono::seconds window(argc > 1 ? std::max(5, std::atoi(argv[1])) : 30);
    mosquitto_lib_init();
    const fs::path dir = fs::temp_directory_path() / ("vx538-mqtt-bench-" + std::to_string(::getpid()));
    std::printf("vx538 watch --interval 1000 --mqtt to a local mosquitto, %lld s per plant size\n",
                static_cast<long long>(window.count()));
    std::printf("ports  expected/s  delivered/s  share   vx538 CPU  RSS       peak RSS   latency median / p99 / max "
                "(replies matched)\n");
    for (const std::size_t converters : {1u, 8u, 32u}) {
        fs::create_directories(dir);
        measure(converters, window, dir);
        fs::remove_all(dir);
    }
    mosquitto_lib_cleanup();
    return 0;
}
