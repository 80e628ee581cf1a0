// The simulated converter's model on an in-process line, for tests that run vx538 in their own
// process: each port is a serial::Transport whose descriptor is one end of a socket pair, and a
// delivery thread writes the model's replies into the other end at the times the model gives them.
// The converter hears a request only when it is sent at its RS485 port's settings, as on a real line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/Transport.h"
#include "sim/Simulator.h"

namespace testsupport {

class SimulatedLine {
public:
    explicit SimulatedLine(sim::Faults faults = {});
    ~SimulatedLine();
    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    // A port on this line, named `name` in messages; one may be open at a time.
    std::unique_ptr<serial::Transport> transport(const std::string& name);

    // The model, under the line's lock (the delivery thread shares it).
    void with(const std::function<void(sim::Simulator&)>& use);
    // Every request the converter heard, in order; and the settings the tool last gave the line.
    std::vector<std::string> heard() const;
    serial::LineSettings lineSettings() const;
    // Called (under no lock) after each request the converter heard, with how many it has heard.
    std::function<void(std::size_t heard)> onHeard;
    // Set before a run: the reply to a request written at `now` instead of the model's (a refusal,
    // a reply too late, a reply of another shape); nothing: the model answers.
    std::function<std::optional<sim::Write>(std::string_view request, sim::Millis now)> replyInstead;
    // Set before a run: the reply in parts, each written at its own time (a reply a pause cuts in
    // two), instead of the model's; nothing: replyInstead, then the model.
    std::function<std::optional<std::vector<sim::Write>>(std::string_view request, sim::Millis now)> repliesInstead;
    // Set before a run: bytes waiting on the line when the port opens (a reply nobody read).
    std::string staleOnOpen;
    // The line goes away now, as an unplugged adapter does: the tool reads its end.
    void hangUp();
    sim::Millis now() const;

private:
    class Port;
    friend class Port;
    using Clock = std::chrono::steady_clock;

    // Bytes the tool wrote: to the model when the line matches the converter's RS485 settings.
    void written(std::string_view bytes);
    void deliver(); // the delivery thread
    void attach(int fd);
    void detach();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    sim::Simulator simulator_;
    const Clock::time_point start_ = Clock::now();
    std::deque<sim::Write> due_;
    std::vector<std::string> heard_;
    serial::LineSettings settings_;
    int peer_ = -1; // the model's end of the open port's socket pair
    bool hungUp_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace testsupport
