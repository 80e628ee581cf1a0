// The simulator on a paced line, as a schedule in plain C++: when a request counts as complete, when
// each reply byte is handed over, and the fault switches on top of the pacing; an unpaced line as it
// always was.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/Simulator.h"
#include "tests/sim/Bytes.h"

using namespace simtest;
using namespace std::chrono_literals;
using sim::LineTiming;
using sim::Micros;
using sim::Millis;
using sim::Simulator;
using sim::Write;

namespace {

const std::string kQuery = "QQQ#QX1#";
const std::string kQueryReply = "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#";

std::string joined(const std::vector<Write>& writes) {
    std::string bytes;
    for (const Write& w : writes) {
        bytes += w.bytes;
    }
    return bytes;
}

// The time each byte of `writes` is handed over, byte by byte.
std::vector<Millis> byteTimes(const std::vector<Write>& writes) {
    std::vector<Millis> times;
    for (const Write& w : writes) {
        times.insert(times.end(), w.bytes.size(), w.at);
    }
    return times;
}

Micros exactly(double milliseconds) {
    return Micros(static_cast<int64_t>(milliseconds * 1000 + 0.5));
}

} // namespace

// 200 characters at 9600 baud take 208.33 ms of line: rounded up, never early.
TEST(LineTiming, CharacterTimesRoundedUpNeverEarly) {
    EXPECT_EQ(LineTiming({9600, 10}).charactersTime(200), 208334us);
    EXPECT_EQ(LineTiming({9600, 11}).charactersTime(1), 1146us);
    EXPECT_EQ(LineTiming({0, 10}).charactersTime(5), 0us) << "not paced";
    EXPECT_EQ(sim::BitsPerCharacter("even"), 11);
    EXPECT_EQ(sim::BitsPerCharacter("mark"), 0);
}

TEST(Simulator, WithoutABaudRateEveryReplyIsOneWriteAtItsDelay) {
    sim::Faults faults;
    faults.delayMs = 300;
    Simulator simulator(faults);
    const std::vector<Write> writes = simulator.receive(kQuery, 1000ms);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].at, 1300ms);
    EXPECT_EQ(writes[0].bytes, kQueryReply);
}

// A request that arrives in pieces: each byte counts as arrived no earlier than one character after
// the one before, so the reply starts from where the request's last byte would have come in.
TEST(Simulator, APacedLineHandsOverEachReplyByteAtItsCharacterTime) {
    struct Piece {
        std::string bytes;
        Millis at;
    };
    const struct Case {
        const char* name;
        LineTiming timing;
        int delayMs;
        std::vector<Piece> pieces;
        double complete; // ms: when the request's last byte would have arrived
    } cases[] = {
        {"9600 8N1, all at once", {9600, 10}, 0, {{kQuery, 0ms}}, 7 * 10 / 9.6},
        {"1200 8E1 with a delay", {1200, 11}, 50, {{kQuery, 100ms}}, 100 + 7 * 11 / 1.2},
        {"pieces faster than the line", {9600, 10}, 0, {{"QQQ#", 0ms}, {"QX1#", 1ms}}, 7 * 10 / 9.6},
        {"a pause inside the request", {9600, 10}, 0, {{"QQQ#", 0ms}, {"QX1#", 80ms}}, 80 + 3 * 10 / 9.6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Faults faults;
        faults.delayMs = c.delayMs;
        Simulator simulator(faults, c.timing);
        std::vector<Write> writes;
        for (const Piece& piece : c.pieces) {
            for (Write& w : simulator.receive(piece.bytes, piece.at)) {
                writes.push_back(std::move(w));
            }
        }
        ASSERT_EQ(joined(writes), kQueryReply);
        const double character = c.timing.bitsPerCharacter * 1000.0 / c.timing.baud; // ms
        const std::vector<Millis> times = byteTimes(writes);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
        for (std::size_t k = 0; k < times.size(); ++k) {
            // Byte k is on the line once its own character time after the turnaround has passed.
            const Micros due = exactly(c.complete + c.delayMs + character * static_cast<double>(k + 1));
            ASSERT_GE(Micros(times[k]) + 1us, due) << "byte " << k << " early";
            ASSERT_LT(Micros(times[k]), due + 1ms + 2us) << "byte " << k << " late";
        }
    }
}

TEST(Simulator, PacedRepliesFollowOneAnotherAndKeepSplitNoiseAndHangUp) {
    const LineTiming line{9600, 10};
    const Micros character = line.charactersTime(1);
    {
        // Two requests in one read: the second reply waits for the first to be on the line.
        Simulator simulator({}, line);
        const std::vector<Write> writes = simulator.receive(kQuery + kQuery, 0ms);
        ASSERT_EQ(joined(writes), kQueryReply + kQueryReply);
        const std::vector<Millis> times = byteTimes(writes);
        // The first reply starts when the first request is in and takes 43 characters.
        const Micros secondStart = exactly(7 * 10 / 9.6) + line.charactersTime(43);
        EXPECT_GE(Micros(times[43]) + 1us, secondStart + character);
    }
    {
        // A split reply: the gap lies between the end of the first part and the start of the second.
        sim::Faults faults;
        faults.splitMs = 250;
        Simulator simulator(faults, line);
        const std::vector<Millis> times = byteTimes(simulator.receive(kQuery, 0ms));
        ASSERT_EQ(times.size(), kQueryReply.size());
        const std::size_t half = kQueryReply.size() / 2;
        EXPECT_GE(times[half] - times[half - 1], 250ms);
        EXPECT_LT(times[half] - times[half - 1], 253ms);
        EXPECT_LE(times[half - 1] - times[0], 22ms) << "the first part paced";
    }
    {
        // Noise goes out paced in front of the reply; the HART check byte is spoiled all the same.
        sim::Faults faults;
        faults.noise = true;
        faults.corrupt = true;
        Simulator simulator(faults, line);
        const std::string identity = hartFrame("02 80 00 00");
        const std::vector<Write> writes = simulator.receive(identity, 0ms);
        const std::string reply = joined(writes);
        ASSERT_GE(reply.size(), 25u);
        EXPECT_LE(reply.size(), 28u);
        EXPECT_EQ(reply.substr(reply.size() - 24, 5), std::string(5, '\xFF'));
        EXPECT_GT(writes.size(), 20u) << "one write per millisecond, about one byte each";
    }
    {
        sim::Faults faults;
        faults.hangupAfter = 1;
        Simulator simulator(faults, line);
        EXPECT_EQ(joined(simulator.receive(kQuery + kQuery, 0ms)), kQueryReply);
        EXPECT_TRUE(simulator.lineClosed());
    }
}

namespace {

struct Piece {
    std::string bytes;
    Millis at;
};

// The pieces received at their times, with the line's quiet deadlines kept in between as the program
// keeps them; every write, in order.
std::vector<Write> drive(Simulator& simulator, const std::vector<Piece>& pieces) {
    std::vector<Write> writes;
    const auto keep = [&](std::vector<Write> more) {
        for (Write& w : more) {
            writes.push_back(std::move(w));
        }
    };
    for (const Piece& piece : pieces) {
        while (const auto quiet = simulator.quietDeadline()) {
            if (*quiet > piece.at) {
                break;
            }
            keep(simulator.lineQuiet(*quiet));
        }
        keep(simulator.receive(piece.bytes, piece.at));
    }
    while (const auto quiet = simulator.quietDeadline()) {
        keep(simulator.lineQuiet(*quiet));
    }
    return writes;
}

const std::string kRead = modbusFrame("01 03 00 02 00 02");

} // namespace

// A slave keeps 3.5 characters of silence after a request before it answers (1750 us above 19200
// baud), whether it found the request by the silence or by its content; the delay adds to it.
TEST(Simulator, AModbusReplyStartsAFrameSilenceAfterItsRequestEnds) {
    const struct {
        LineTiming timing;
        int delayMs;
        sim::ModbusFraming framing;
        Micros silence;
    } cases[] = {
        {{9600, 10}, 0, sim::ModbusFraming::Silence, 3646us},
        {{9600, 11}, 0, sim::ModbusFraming::Silence, 4011us},
        {{19200, 10}, 0, sim::ModbusFraming::Silence, 1823us},
        {{115200, 10}, 0, sim::ModbusFraming::Silence, 1750us},
        {{9600, 10}, 20, sim::ModbusFraming::Silence, 3646us},
        {{19200, 10}, 0, sim::ModbusFraming::Content, 1823us},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.timing.baud) + " baud, " + std::to_string(c.timing.bitsPerCharacter) +
                     " bits, delay " + std::to_string(c.delayMs));
        EXPECT_EQ(c.timing.frameSilence(), c.silence);
        sim::Faults faults;
        faults.delayMs = c.delayMs;
        Simulator simulator(faults, c.timing, c.framing);
        const std::vector<Write> writes = drive(simulator, {{kRead, 100ms}});
        const std::vector<Millis> times = byteTimes(writes);
        ASSERT_EQ(joined(writes).substr(0, 3), hex("01 03 04"));
        // The request's first byte counts as arrived when it was read, its last seven characters
        // later; the reply's first byte is on the line one character after the silence and the delay.
        const Micros requestEnd = 100ms + c.timing.charactersTime(7);
        EXPECT_GE(Micros(times[0]), requestEnd + c.silence + Millis(c.delayMs) + c.timing.charactersTime(1));
        EXPECT_LT(Micros(times[0]),
                  requestEnd + c.silence + Millis(c.delayMs) + c.timing.charactersTime(1) + 2ms);
    }
}

// What a slave that frames by silence answers: a request alone between silences; not garbage and a
// request in one burst, nor two requests without the silence between them. The lenient reading
// answers every request it finds.
TEST(Simulator, ABurstThatIsMoreThanOneRequestGetsNoReply) {
    const LineTiming line{9600, 10};
    const struct {
        const char* name;
        std::vector<Piece> pieces;
        int silenceReplies; // framed by silence
        int lenientReplies; // framed by content
    } cases[] = {
        {"a request alone", {{kRead, 0ms}}, 1, 1},
        {"garbage and a request in one burst", {{"\x12\x34" + kRead, 0ms}}, 0, 1},
        {"garbage, then a request less than 3.5 characters later", {{"\x12", 0ms}, {kRead, 3ms}}, 0, 1},
        {"garbage, then a request after the silence", {{"\x12", 0ms}, {kRead, 6ms}}, 1, 1},
        {"two requests in one burst", {{kRead + kRead, 0ms}}, 0, 2},
        {"a second request before the silence after the first is over", {{kRead, 0ms}, {kRead, 10ms}}, 0, 2},
        {"two requests with the silence between them", {{kRead, 0ms}, {kRead, 13ms}}, 2, 2},
        {"a request right after a text query the converter answered",
         {{"QQQ#QX1#", 0ms}, {kRead, 9ms}},
         1,
         1},
    };
    for (const auto& c : cases) {
        for (const auto framing : {sim::ModbusFraming::Silence, sim::ModbusFraming::Content}) {
            Simulator simulator({}, line, framing);
            const std::string sent = joined(drive(simulator, c.pieces));
            int replies = 0;
            for (std::size_t at = sent.find(hex("01 03 04")); at != std::string::npos;
                 at = sent.find(hex("01 03 04"), at + 1)) {
                ++replies;
            }
            EXPECT_EQ(replies, framing == sim::ModbusFraming::Silence ? c.silenceReplies : c.lenientReplies)
                << c.name << (framing == sim::ModbusFraming::Silence ? ", by silence" : ", by content");
        }
    }
}
