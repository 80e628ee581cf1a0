// Figures of the serial component on a pseudo-terminal: how late a block reaches the main thread after
// its silence interval, receive throughput, and thread wake-ups on an idle open port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "serial/SerialComm.h"
#include "tests/support/ProcProbe.h"
#include "tests/support/PtyPeer.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Turns the event loop until `done` holds or `limit` passes; the loop sleeps in between, so a
// posted event is handled as soon as it arrives.
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

serial::TComm* openComm(testsupport::PtyPeer& pty, uint32_t interval) {
    auto* comm = new serial::TComm;
    comm->SetCommName(pty.slavePath());
    comm->SetOutx_XonXoffFlow(false);
    comm->SetInx_XonXoffFlow(false);
    comm->SetReadIntervalTimeout(interval);
    comm->OpenPort();
    return comm;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void measureLatency() {
    constexpr int kBursts = 250;
    constexpr uint32_t kInterval = 20;
    testsupport::PtyPeer pty;
    std::unique_ptr<serial::TComm> comm(openComm(pty, kInterval));
    QEventLoop loop;
    Clock::time_point arrived{};
    bool got = false;
    comm->OnReceiveData = [&](serial::TComm*, const uint8_t*, uint16_t) {
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
        if (!runUntil(loop, [&] { return got; }, 2000ms)) {
            std::printf("latency: burst %d never arrived\n", i);
            return;
        }
        delaysMs.push_back(std::chrono::duration<double, std::milli>(arrived - silenceEnds).count());
    }
    std::printf("block delay after the %u ms silence interval, %d bursts: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                kInterval, kBursts, percentile(delaysMs, 0.5), percentile(delaysMs, 0.99),
                *std::max_element(delaysMs.begin(), delaysMs.end()));
}

void measureThroughput() {
    constexpr std::size_t kTotal = 16u * 1024 * 1024;
    testsupport::PtyPeer pty;
    std::unique_ptr<serial::TComm> comm(openComm(pty, 20));
    QEventLoop loop;
    std::size_t received = 0;
    std::size_t blocks = 0;
    comm->OnReceiveData = [&](serial::TComm*, const uint8_t*, uint16_t length) {
        received += length;
        ++blocks;
        if (received >= kTotal) {
            loop.quit();
        }
    };
    const auto start = Clock::now();
    std::thread feeder([&pty] {
        const std::string chunk(64 * 1024, 'd');
        for (std::size_t sent = 0; sent < kTotal; sent += chunk.size()) {
            pty.write(chunk);
        }
    });
    const bool complete = runUntil(loop, [&] { return received >= kTotal; }, 120000ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    feeder.join();
    std::printf("receive throughput: %zu bytes in %zu blocks in %.3f s = %.1f MB/s%s\n", received, blocks, seconds,
                static_cast<double>(received) / 1e6 / seconds, complete ? "" : " (incomplete)");
}

void measureIdleWakeups() {
    testsupport::PtyPeer pty;
    const auto before = testsupport::threadIds();
    std::unique_ptr<serial::TComm> comm(openComm(pty, 400));
    QEventLoop loop;
    bool settled = false;
    comm->OnSendDataEmpty = [&](serial::TComm*) { settled = true; };
    runUntil(loop, [&] { return settled; }, 2000ms);
    // Let the threads reach their waits before counting.
    std::this_thread::sleep_for(50ms);
    std::vector<int> portThreads;
    for (int tid : testsupport::threadIds()) {
        if (std::find(before.begin(), before.end(), tid) == before.end()) {
            portThreads.push_back(tid);
        }
    }
    std::vector<int64_t> start;
    for (int tid : portThreads) {
        start.push_back(testsupport::contextSwitches(tid));
    }
    std::this_thread::sleep_for(5s);
    int64_t wakeups = 0;
    for (std::size_t i = 0; i < portThreads.size(); ++i) {
        wakeups += testsupport::contextSwitches(portThreads[i]) - start[i];
    }
    std::printf("thread wake-ups during 5 s of an open idle port (%zu threads): %lld\n", portThreads.size(),
                static_cast<long long>(wakeups));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    measureLatency();
    measureThroughput();
    measureIdleWakeups();
    return 0;
}
