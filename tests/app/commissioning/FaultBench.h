// The window on the in-process simulated line with a fault scripted at a chosen request, its timers
// run by the line's state instead of the clock: the bench of the commissioning windows' fault tables.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include <QLabel>
#include <QString>

#include "app/traffic/TrafficMonitor.h"
#include "app/window/Messages.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ManualTimers.h"
#include "tests/support/SimulatedLine.h"
#include "tests/support/Wait.h"
#include "tools/ModbusCrc.h"
#include "traffic/Recorder.h"

namespace faultbench {

using namespace std::chrono_literals;

enum class Fault { Silent, Split, WrongCheck, Refusal, Garbage, LineLost };

// The converter's model answering in the test: every request reaches it, and the reply to request n
// is altered by that request's fault, so a fault changes exactly the bytes it names.
class Script {
public:
    Script() { model_.converter().instrument().setPollingAddress(5); }

    std::vector<sim::Write> answer(std::string_view request, sim::Millis now) {
        const std::lock_guard lock(mutex_);
        const int n = ++requests;
        std::string reply;
        for (const sim::Write& w : model_.receive(request, now)) {
            reply += w.bytes;
        }
        for (const sim::Write& w : model_.lineQuiet(now + sim::Simulator::kQuietLine)) {
            reply += w.bytes;
        }
        const auto planned = faults_.find(n);
        std::vector<sim::Write> writes;
        if (planned == faults_.end()) {
            writes.push_back({now, reply});
        } else {
            switch (planned->second) {
            case Fault::Silent:
                break;
            case Fault::LineLost:
                lostAt = n;
                break;
            case Fault::Split: // far enough apart to arrive as two blocks, and after vx538's wait
                writes.push_back({now, reply.substr(0, reply.size() / 2)});
                writes.push_back({now + 700ms, reply.substr(reply.size() / 2)});
                break;
            case Fault::WrongCheck:
                reply.back() = static_cast<char>(reply.back() ^ 0x5A);
                writes.push_back({now, reply});
                break;
            case Fault::Refusal:
                writes.push_back({now, refusalOf(request)});
                break;
            case Fault::Garbage:
                writes.push_back({now, "\x13\x37garbage"});
                break;
            }
        }
        std::erase_if(writes, [](const sim::Write& w) { return w.bytes.empty(); });
        blocks += static_cast<int>(writes.size());
        silent = writes.empty();
        return writes;
    }

    // The fault of the `after`th request from now (1: the next one).
    void fault(int after, Fault fault) {
        const std::lock_guard lock(mutex_);
        faults_[requests + after] = fault;
    }
    // The model, while no request reaches it.
    std::string converter(std::string_view frame) {
        const std::lock_guard lock(mutex_);
        return model_.converter().handleText(frame);
    }

    std::atomic<int> requests{0};
    std::atomic<int> blocks{0};      // written so far, each arriving as a block of its own
    std::atomic<bool> silent{false}; // the last request got nothing
    std::atomic<int> lostAt{0};

private:
    std::mutex mutex_;
    sim::Simulator model_;
    std::map<int, Fault> faults_; // by request, the first being 1

    static std::string refusalOf(std::string_view request) {
        if (request.size() == 8 && request[1] == '\x03') { // the MODBUS read: exception 4
            std::string reply{request[0], static_cast<char>(request[1] | 0x80), 4};
            const tools::CrcBytes crc =
                tools::ModbusCrc16(std::span(reinterpret_cast<const uint8_t*>(reply.data()), 3));
            return reply + static_cast<char>(crc.low) + static_cast<char>(crc.high);
        }
        const std::size_t head = request.find('#');
        return std::string(request.substr(0, request.find_first_of(":#", head + 1))) + ":ERR#";
    }
};

// The window on a line scripted by request, its timers run by the line's state.
struct Bench {
    Bench() {
        line.repliesInstead = [this](std::string_view request, sim::Millis now) {
            return std::optional(script.answer(request, now));
        };
        line.onHeard = [this](std::size_t n) {
            if (script.lostAt == static_cast<int>(n)) {
                line.hangUp();
            }
        };
        h.openOn(line);
    }

    int count(traffic::EventKind kind) {
        const traffic::EventLog& log = h.form().Traffic().recorder().log();
        int n = 0;
        for (std::size_t i = 0; i < log.size(); ++i) {
            n += log.at(i).kind == kind;
        }
        return n;
    }
    // Turns the event loop until `done`, standing in for the clock: once every block written is in
    // and every request sent was heard, a settling line settles and a request without reply times out.
    bool drive(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
        return testsupport::waitUntil(
            [&] {
                const bool quiet = count(traffic::EventKind::Received) >= script.blocks &&
                                   count(traffic::EventKind::Sent) == script.requests;
                // The request that lost the line waits for the loss to be noticed, not for its timeout.
                const bool lost = script.lostAt != 0 && script.lostAt == script.requests;
                if (quiet && !timers.fire(QStringLiteral("JobSettleTimer")) && script.silent && !lost) {
                    timers.fire(QStringLiteral("Timer3"));
                }
                return done();
            },
            limit);
    }

    testsupport::ManualTimers timers{{QStringLiteral("Timer2")}};
    Script script;
    testsupport::SimulatedLine line;
    testsupport::FormHarness h;
};

inline QString label(QWidget& window, const char* name) {
    return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

} // namespace faultbench
