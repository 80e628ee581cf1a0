// The listening loop over scripted sources: how a run ends (the source's end, a lost port, a capture
// that does not read, the time limit, the stop event, an output that takes no more) and what it gives
// out then; and a flood that never falls silent shown as it comes and never held. (A USB adapter's
// 5 ms deliveries are replayed through vx538 monitor itself, tests/cli/MonitorFilesTest.cpp.)
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bus/Listen.h"
#include "tests/bus/ScriptedSource.h"
#include "tools/ModbusCrc.h"

namespace {

using bus::Delivery;
using bus::Listened;
using bustest::Scripted;
using bustest::ScriptedSource;
using traffic::BusFrame;
using traffic::BusRole;
using Bytes = std::vector<uint8_t>;

Bytes withCrc(Bytes frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
    return frame;
}

const Bytes kRead = withCrc({1, 3, 0, 2, 0, 16});
const Bytes kReply = [] {
    Bytes reply = {1, 3, 32};
    for (uint8_t i = 0; i < 32; ++i) {
        reply.push_back(static_cast<uint8_t>(i * 7));
    }
    return withCrc(reply);
}();

Bytes first(const Bytes& bytes, std::size_t n) {
    return {bytes.begin(), bytes.begin() + static_cast<long>(n)};
}

std::string describe(const BusFrame& f) {
    std::string text = std::string(traffic::BusRoleText(f.role)) + ' ' + std::to_string(f.bytes.size());
    if (f.requestNumber > 0) {
        text += " answers " + std::to_string(f.requestNumber);
    }
    return text;
}

struct Heard {
    Listened listened;
    std::vector<std::string> frames;
    std::vector<int64_t> delivered; // the times of the deliveries the loop took
};

// Runs the loop over `source` on a line of 9600 baud; `refuseAfter` frames, the frames callback says no more.
Heard listen(ScriptedSource& source, int64_t endUs, bool stopped = false,
             std::size_t refuseAfter = SIZE_MAX) {
    serial::EventFd stop;
    stop.create();
    if (stopped) {
        stop.signal();
    }
    bus::Listen loop(source, traffic::BusLine::ForBaud(9600, false));
    Heard run;
    run.listened = loop.run(
        stop, endUs,
        [&](std::span<const uint8_t>, int64_t timeUs) {
            run.delivered.push_back(timeUs);
            return true;
        },
        [&](std::vector<BusFrame>& frames) {
            for (const BusFrame& f : frames) {
                run.frames.push_back(describe(f));
            }
            frames.clear();
            return run.frames.size() < refuseAfter;
        });
    return run;
}

TEST(Listen, HowARunEndsAndWhatItGivesOutThen) {
    using End = Listened::End;
    struct Case {
        const char* name;
        std::vector<Scripted> script;
        Delivery::Kind sourceEnd;
        int64_t endUs;
        bool stopped;
        std::size_t refuseAfter;
        End end;
        std::vector<std::string> frames;
        std::size_t deliveries;
    };
    const std::string lost = "/dev/ttyUSB1: the port went away (unplugged?)";
    const Case cases[] = {
        {"the source's end gives out the incomplete frame it held",
         {{1000, kRead}, {20000, kReply}, {120000, first(kRead, 5)}},
         Delivery::Kind::Ended,
         -1,
         false,
         SIZE_MAX,
         End::Ended,
         {"request 8", "reply 37 answers 1", "noise 5"},
         3},
        {"a port lost midway keeps what came before",
         {{1000, kRead}, {20000, first(kReply, 10)}},
         Delivery::Kind::Lost,
         -1,
         false,
         SIZE_MAX,
         End::Lost,
         {"request 8", "reply 10 answers 1"},
         2},
        {"a capture line that does not read",
         {{1000, kRead}},
         Delivery::Kind::Failed,
         -1,
         false,
         SIZE_MAX,
         End::Failed,
         {"request 8"},
         1},
        {"deliveries after the time limit are not taken",
         {{1'000'000, kRead}, {1'020'000, kReply}, {3'000'000, kRead}},
         Delivery::Kind::Ended,
         2'000'000,
         false,
         SIZE_MAX,
         End::TimeUp,
         {"request 8", "reply 37 answers 1"},
         2},
        {"the time limit passes on a quiet line",
         {{1'000'000, kRead}, {9'000'000, kReply}},
         Delivery::Kind::Ended,
         2'000'000,
         false,
         SIZE_MAX,
         End::TimeUp,
         {"request 8"},
         1},
        {"the stop event ends it before anything",
         {{1000, kRead}},
         Delivery::Kind::Ended,
         -1,
         true,
         SIZE_MAX,
         End::Stopped,
         {},
         0},
        {"an output that takes no more ends it at once",
         {{1000, kRead}, {20000, kReply}, {120000, kRead}, {140000, kReply}},
         Delivery::Kind::Ended,
         -1,
         false,
         1,
         End::Refused,
         {"request 8"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSource source(c.script, c.sourceEnd, c.sourceEnd == Delivery::Kind::Ended ? "" : lost);
        const Heard run = listen(source, c.endUs, c.stopped, c.refuseAfter);
        EXPECT_EQ(run.listened.end, c.end);
        EXPECT_EQ(run.listened.error, c.end == End::Lost || c.end == End::Failed ? lost : "");
        EXPECT_EQ(run.frames, c.frames);
        EXPECT_EQ(run.delivered.size(), c.deliveries);
        EXPECT_LE(source.taken(), c.deliveries + 1) << "deliveries asked for after the end";
    }
}

// A line that never falls silent (random bytes every millisecond, as from a wrong baud rate or a
// flooding server): the noise comes out in runs of at most 4 KB while it goes on, every byte once,
// and the time limit ends it at the first delivery past it.
TEST(Listen, AFloodIsShownAsItComesAndEndsAtTheTimeLimit) {
    std::mt19937 random(5);
    ScriptedSource source({});
    source.more = [&](std::size_t n) -> std::optional<Scripted> {
        Bytes bytes(64);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        return Scripted{static_cast<int64_t>(n + 1) * 1000, bytes};
    };
    serial::EventFd stop;
    stop.create();
    bus::Listen loop(source, traffic::BusLine::ForBaud(9600, false));
    std::size_t framedBytes = 0, deliveredBytes = 0, largestNoise = 0, handedBeforeEnd = 0;
    int64_t lastDelivery = 0;
    const Listened listened = loop.run(
        stop, 2'000'000,
        [&](std::span<const uint8_t> bytes, int64_t timeUs) {
            deliveredBytes += bytes.size();
            lastDelivery = timeUs;
            return true;
        },
        [&](std::vector<BusFrame>& frames) {
            for (const BusFrame& f : frames) {
                framedBytes += f.bytes.size();
                if (f.role == BusRole::Noise) {
                    largestNoise = std::max(largestNoise, f.bytes.size());
                }
            }
            handedBeforeEnd += lastDelivery < 2'000'000;
            frames.clear();
            return true;
        });
    EXPECT_EQ(listened.end, Listened::End::TimeUp);
    EXPECT_EQ(lastDelivery, 2'000'000);
    EXPECT_EQ(framedBytes, deliveredBytes);
    EXPECT_LE(largestNoise, 4096u);
    EXPECT_GE(handedBeforeEnd, 20u) << "the noise was held instead of shown as it came";
}

} // namespace
