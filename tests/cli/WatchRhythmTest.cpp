// vx538 watch keeps its rhythm: a poll whose reply came later than the interval is followed by the
// next turn still to come, never by a burst of the turns it overran.
#include <functional>
#include <thread>

#include "tests/cli/Vx538Test.h"

namespace {

using namespace vx538test;
using namespace std::chrono_literals;

class WatchRhythm : public Vx538 {
protected:
    // The times (ms since the simulator started) at which each MODBUS request arrived.
    std::vector<long> pollTimes() const {
        std::vector<long> times;
        std::istringstream log(read(path("sim.log")));
        for (std::string line; std::getline(log, line);) {
            if (line.find(" ms  in modbus") != std::string::npos) {
                times.push_back(std::stol(line));
            }
        }
        return times;
    }
    std::size_t logged(const std::string& what) const {
        const std::string log = read(path("sim.log"));
        std::size_t count = 0;
        for (std::size_t at = 0; (at = log.find(what, at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }
    bool waitFor(const std::function<bool()>& condition) const {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    void control(const std::string& line) const { std::ofstream(path("control")) << line << "\n"; }
};

TEST_F(WatchRhythm, APollThatOverranItsTurnIsNotFollowedByABurst) {
    constexpr long kIntervalMs = 200;
    SimProcess& converter = sim({"--control", path("control"), "--log", path("sim.log")});
    ProgramResult watch;
    std::thread run([&] {
        watch = vx538({"-p", converter.path(), "--timeout", "1500", "watch", "--count", "8", "--interval",
                       std::to_string(kIntervalMs)});
    });
    // The third poll's reply comes 900 ms late: it overruns four turns.
    EXPECT_TRUE(waitFor([&] { return pollTimes().size() >= 2; }));
    control("delay 900");
    EXPECT_TRUE(waitFor([&] { return logged("control") >= 1; }));
    EXPECT_TRUE(waitFor([&] { return pollTimes().size() >= 3; }));
    control("delay 0");
    run.join();
    ASSERT_EQ(watch.status, 0) << watch.out << watch.err;
    EXPECT_NE(watch.out.find("8 samples, 0 missed"), std::string::npos) << watch.out;
    const std::vector<long> times = pollTimes();
    ASSERT_EQ(times.size(), 8u);
    long longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        longest = std::max(longest, times[i] - times[i - 1]);
        // Half the interval leaves room for a loaded machine's jitter; a burst comes within milliseconds.
        EXPECT_GE(times[i] - times[i - 1], kIntervalMs / 2) << "polls " << i << " and " << i + 1;
    }
    EXPECT_GE(longest, 900) << "no poll overran its turn: the case was not made";
}

} // namespace
