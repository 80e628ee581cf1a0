// Figures of the serial component on a pseudo-terminal, side by side with Qt's QSerialPort in the same
// run: how late a block reaches the main thread after its silence interval, receive throughput and
// CPU per 16 MiB, the whole process's context switches while an open port is idle, and what a
// hang-up costs. The main thread always waits in a blocking event loop, as in the real program.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "bench/Receivers.h"
#include "serial/SerialComm.h"
#include "tests/support/PtyPeer.h"

namespace bench {

namespace {

class TCommReceiver : public Receiver {
public:
    const char* name() const override { return "TComm"; }

    bool open(const std::string& path, uint32_t intervalMs) override {
        comm_.SetCommName(path);
        comm_.SetOutx_XonXoffFlow(false);
        comm_.SetInx_XonXoffFlow(false);
        comm_.SetReadIntervalTimeout(intervalMs);
        comm_.OnReceiveData = [this](serial::TComm*, const uint8_t*, uint16_t length) {
            if (onBlock) {
                onBlock(length);
            }
        };
        comm_.OnRequestHangup = [this](serial::TComm*) {
            if (onFailure) {
                onFailure();
            }
        };
        // Opened means running once the writer has reported its empty queue, as the tests wait.
        QEventLoop settling;
        comm_.OnSendDataEmpty = [&settling](serial::TComm*) { settling.quit(); };
        try {
            comm_.OpenPort();
        } catch (const serial::ECommsError&) {
            return false;
        }
        settling.exec();
        comm_.OnSendDataEmpty = nullptr;
        return true;
    }

private:
    serial::TComm comm_;
};

} // namespace

std::unique_ptr<Receiver> makeTCommReceiver() {
    return std::make_unique<TCommReceiver>();
}

} // namespace bench

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using bench::Receiver;

// Turns the event loop until `done` holds or `limit` passes; the loop sleeps in between, so a
// posted event is handled as soon as it arrives. `done` is checked by whoever quits the loop.
bool runUntil(QEventLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit) {
    if (done()) {
        return true;
    }
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(limit);
    loop.exec();
    return done();
}

void runFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// CPU time of every thread of the process, ended ones included.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Voluntary and involuntary context switches of every thread of the process, ended ones included.
long processContextSwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

double median(const std::vector<double>& values) {
    return percentile(values, 0.5);
}

using Factory = std::unique_ptr<Receiver> (*)();

struct Figures {
    const char* name = "";
    double delayMedianMs = 0, delayP99Ms = 0, delayMaxMs = 0;
    double mbPerSecond = 0, cpuPer16MiB = 0;
    double blocksPerRound = 0;
    long idleSwitches = 0;
    long hangupNotifications = 0;
    double hangupCpu = 0;
};

constexpr uint32_t kInterval = 20;

// Bursts of 30 bytes; the delay counts from the moment the silence interval after the burst ends.
void measureDelay(Factory make, Figures& f) {
    constexpr int kBursts = 250;
    testsupport::PtyPeer pty;
    auto receiver = make();
    receiver->open(pty.slavePath(), kInterval);
    QEventLoop loop;
    Clock::time_point arrived{};
    bool got = false;
    receiver->onBlock = [&](std::size_t) {
        arrived = Clock::now();
        got = true;
        loop.quit();
    };
    const std::string burst(30, 'r');
    std::vector<double> delaysMs;
    for (int i = 0; i < kBursts; ++i) {
        got = false;
        pty.write(burst);
        const auto silenceEnds = Clock::now() + std::chrono::milliseconds(kInterval);
        if (!runUntil(
                loop, [&] { return got; }, 2000ms)) {
            std::printf("%s: burst %d never arrived\n", receiver->name(), i);
            return;
        }
        delaysMs.push_back(std::chrono::duration<double, std::milli>(arrived - silenceEnds).count());
    }
    f.delayMedianMs = median(delaysMs);
    f.delayP99Ms = percentile(delaysMs, 0.99);
    f.delayMaxMs = *std::max_element(delaysMs.begin(), delaysMs.end());
}

struct Round {
    double mbPerSecond;
    double cpu;
    std::size_t blocks;
};

// 16 MiB written as fast as the line takes it by a feeder thread; the receiving side's CPU is the
// process's minus the feeder's own.
Round throughputRound(Factory make, uint32_t interval) {
    constexpr std::size_t kTotal = 16u * 1024 * 1024;
    testsupport::PtyPeer pty;
    auto receiver = make();
    receiver->open(pty.slavePath(), interval);
    runFor(20ms);
    QEventLoop loop;
    std::size_t received = 0;
    std::size_t blocks = 0;
    Clock::time_point finished{};
    receiver->onBlock = [&](std::size_t length) {
        received += length;
        ++blocks;
        if (received >= kTotal) {
            finished = Clock::now();
            loop.quit();
        }
    };
    double feederCpu = 0;
    const double cpuBefore = processCpuSeconds();
    const auto start = Clock::now();
    std::thread feeder([&pty, &feederCpu] {
        const double before = threadCpuSeconds();
        const std::string chunk(64 * 1024, 'd');
        for (std::size_t sent = 0; sent < kTotal; sent += chunk.size()) {
            pty.write(chunk);
        }
        feederCpu = threadCpuSeconds() - before;
    });
    const bool complete = runUntil(
        loop, [&] { return received >= kTotal; }, 120000ms);
    feeder.join();
    const double cpu = processCpuSeconds() - cpuBefore - feederCpu;
    if (!complete) {
        std::printf("%s: only %zu of %zu bytes arrived\n", receiver->name(), received, kTotal);
        return {0, 0, blocks};
    }
    const double elapsed = std::chrono::duration<double>(finished - start).count();
    return {static_cast<double>(received) / 1e6 / elapsed, cpu, blocks};
}

// The whole process over 5 s with the main thread in its event loop: every wake-up of any thread,
// the main thread's included, is counted. Without a receiver this is the event loop's own cost.
long idleSwitches(Factory make) {
    testsupport::PtyPeer pty;
    std::unique_ptr<Receiver> receiver;
    if (make) {
        receiver = make();
        receiver->open(pty.slavePath(), 400);
    }
    runFor(100ms);
    const long before = processContextSwitches();
    runFor(5000ms);
    return processContextSwitches() - before;
}

// After the other side hangs up: how many failure notifications reach the main thread within a
// second, and the CPU that second costs.
void measureHangup(Factory make, Figures& f) {
    testsupport::PtyPeer pty;
    auto receiver = make();
    receiver->open(pty.slavePath(), 400);
    long notifications = 0;
    receiver->onFailure = [&] { ++notifications; };
    runFor(20ms);
    const double cpuBefore = processCpuSeconds();
    pty.closeMaster();
    runFor(1000ms);
    f.hangupCpu = processCpuSeconds() - cpuBefore;
    f.hangupNotifications = notifications;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Factory factories[] = {bench::makeTCommReceiver, bench::makeQSerialPortReceiver};
    Figures figures[2];
    figures[0].name = "TComm";
    figures[1].name = "QSerialPort";

    for (int i = 0; i < 2; ++i) {
        measureDelay(factories[i], figures[i]);
    }

    // Rounds alternate between the two, so a busy moment of the machine hits both alike; the
    // median round counts. QSerialPort reads without blocks here: its cheapest use.
    constexpr int kRounds = 7;
    std::vector<double> rate[2], cpu[2], blocks[2];
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < 2; ++i) {
            const Round r = throughputRound(factories[i], i == 0 ? kInterval : 0);
            rate[i].push_back(r.mbPerSecond);
            cpu[i].push_back(r.cpu);
            blocks[i].push_back(static_cast<double>(r.blocks));
        }
    }
    for (int i = 0; i < 2; ++i) {
        figures[i].mbPerSecond = median(rate[i]);
        figures[i].cpuPer16MiB = median(cpu[i]);
        figures[i].blocksPerRound = median(blocks[i]);
    }

    const long idleBaseline = idleSwitches(nullptr);
    for (int i = 0; i < 2; ++i) {
        figures[i].idleSwitches = idleSwitches(factories[i]);
    }
    for (int i = 0; i < 2; ++i) {
        measureHangup(factories[i], figures[i]);
    }

    const Figures& t = figures[0];
    const Figures& q = figures[1];
    std::printf("%-52s %14s %14s %8s\n", "", t.name, q.name, "ratio");
    std::printf("%-52s %14.1f %14.1f %8.2f\n", "receive throughput, MB/s (median of 7 x 16 MiB)",
                t.mbPerSecond, q.mbPerSecond, t.mbPerSecond / q.mbPerSecond);
    std::printf("%-52s %14.3f %14.3f %8.2f\n", "CPU seconds per 16 MiB, receiving side", t.cpuPer16MiB,
                q.cpuPer16MiB, t.cpuPer16MiB / q.cpuPer16MiB);
    std::printf("%-52s %14.0f %14.0f\n", "notifications per 16 MiB (blocks / readyRead)", t.blocksPerRound,
                q.blocksPerRound);
    std::printf("%-52s %14.3f %14.3f\n", "delay after 20 ms silence, median ms (250 bursts)", t.delayMedianMs,
                q.delayMedianMs);
    std::printf("%-52s %14.3f %14.3f\n", "delay after 20 ms silence, p99 ms", t.delayP99Ms, q.delayP99Ms);
    std::printf("%-52s %14.3f %14.3f\n", "delay after 20 ms silence, max ms", t.delayMaxMs, q.delayMaxMs);
    std::printf("%-52s %14ld %14ld\n", "context switches, whole process, 5 s idle port", t.idleSwitches,
                q.idleSwitches);
    std::printf("%-52s %14ld\n", "  (the event loop alone, no port)", idleBaseline);
    std::printf("%-52s %14ld %14ld\n", "failure notifications in 1 s after a hang-up", t.hangupNotifications,
                q.hangupNotifications);
    std::printf("%-52s %14.3f %14.3f\n", "CPU seconds in that second", t.hangupCpu, q.hangupCpu);
    return 0;
}
