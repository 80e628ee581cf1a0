// The log's one clock: events kept in the order they happened whenever they were recorded, the changes
// a view replays to follow it, and the window's own frames recognised when a bus port hears them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "traffic/EventFormat.h"
#include "traffic/EventLog.h"
#include "traffic/Recorder.h"

using traffic::Event;
using traffic::EventKind;
using traffic::EventLog;
using traffic::LogChange;
using traffic::Recorder;
using traffic::Stamp;

namespace {

Event at(int64_t steadyMs, EventKind kind, std::string name) {
    Event event;
    event.steadyMs = steadyMs;
    event.wallTimeMs = 1'700'000'000'000 + steadyMs;
    event.kind = kind;
    event.note = std::move(name);
    return event;
}

std::vector<std::string> notes(const EventLog& log) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < log.size(); ++i) {
        out.push_back(log.at(i).note);
    }
    return out;
}

// What a view holds after replaying the log's changes over the rows it had: rows it had keep their
// event, rows the changes make new are filled from the log.
std::vector<std::string> replay(std::vector<std::string> rows, const std::vector<LogChange>& changes,
                                const EventLog& log) {
    const std::string fresh = "<new>";
    for (const LogChange& change : changes) {
        switch (change.kind) {
        case LogChange::Kind::Reset:
            return notes(log);
        case LogChange::Kind::Insert:
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(change.index), change.count, fresh);
            break;
        case LogChange::Kind::DropFront:
            rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(change.count));
            break;
        }
    }
    for (std::size_t i = 0; i < rows.size() && i < log.size(); ++i) {
        if (rows[i] == fresh) {
            rows[i] = log.at(i).note;
        }
    }
    return rows;
}

std::vector<uint8_t> bytes(std::string_view hex) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

} // namespace

// Each row: events appended in the order they were recorded (steady time, kind, name) and the order
// the log keeps them in.
TEST(EventOrder, EventsTakeTheirPlaceByTheTimeTheyHappened) {
    using K = EventKind;
    struct Appended {
        int64_t ms;
        K kind;
        const char* name;
    };
    const struct {
        const char* what;
        std::size_t capacity;
        std::vector<Appended> appended;
        std::vector<std::string> kept;
        uint64_t dropped;
    } cases[] = {
        {"in order", 10, {{1, K::Sent, "a"}, {2, K::Received, "b"}, {3, K::BusRequest, "c"}}, {"a", "b", "c"}, 0},
        {"a block recorded after the silence that ended it",
         10,
         {{100, K::Sent, "sent"}, {103, K::BusRequest, "tap request"}, {140, K::BusReply, "tap reply"},
          {350, K::Sent, "next sent"}, {139, K::Received, "received"}},
         {"sent", "tap request", "received", "tap reply", "next sent"},
         0},
        {"the same millisecond: the window's own first, a bus frame after both",
         10,
         {{5, K::BusRequest, "bus"}, {5, K::Sent, "sent"}, {5, K::Received, "received"}, {5, K::BusReply, "bus 2"}},
         {"sent", "received", "bus", "bus 2"},
         0},
        {"full: the oldest goes, be it the late one",
         3,
         {{10, K::Sent, "a"}, {20, K::Sent, "b"}, {30, K::Sent, "c"}, {5, K::Received, "too old"},
          {25, K::Received, "late"}},
         {"b", "late", "c"},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EventLog log(c.capacity);
        for (const Appended& a : c.appended) {
            log.append(at(a.ms, a.kind, a.name));
        }
        EXPECT_EQ(notes(log), c.kept);
        EXPECT_EQ(log.dropped(), c.dropped);
    }
}

// A view that replays the changes ends with the log's rows, each of its old rows still showing its
// own event, however late events, drops and clears interleave with its looks.
TEST(EventOrder, AViewReplayingTheChangesFollowsTheLog) {
    std::mt19937 random(35);
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{7}, std::size_t{50}}) {
        SCOPED_TRACE(capacity);
        EventLog log(capacity);
        std::vector<std::string> view;
        int64_t clock = 0;
        for (int step = 0; step < 3000; ++step) {
            const auto roll = random() % 100;
            if (roll < 2) {
                log.clear();
            } else if (roll < 25) {
                // Late: up to half a second back, a bus frame or a block.
                const int64_t back = static_cast<int64_t>(random() % 500);
                log.append(at(clock - back, roll % 2 ? EventKind::BusReply : EventKind::Received,
                              "e" + std::to_string(step)));
            } else if (roll < 85) {
                clock += static_cast<int64_t>(random() % 20);
                log.append(at(clock, roll % 3 ? EventKind::Sent : EventKind::BusRequest, "e" + std::to_string(step)));
            } else {
                view = replay(view, log.takeChanges(), log);
                ASSERT_EQ(view, notes(log)) << "step " << step;
            }
        }
        view = replay(view, log.takeChanges(), log);
        EXPECT_EQ(view, notes(log));
        // Time order throughout.
        for (std::size_t i = 1; i < log.size(); ++i) {
            EXPECT_LE(log.at(i - 1).steadyMs, log.at(i).steadyMs);
        }
    }
}

// A frame the window wrote, heard on a bus port shortly after, is marked as its copy, and so is the
// reply the bus pairs with that request; the same bytes at another time, or other bytes, are not.
TEST(EventOrder, TheWindowsOwnFramesHeardOnTheBusAreMarkedAsCopies) {
    const std::vector<uint8_t> read = bytes("01 03 00 00 00 01 84 0A");
    const std::vector<uint8_t> other = bytes("01 03 00 02 00 04 E5 C9");
    const auto time = [](int64_t ms) { return Stamp{1'700'000'000'000 + ms, ms}; };
    struct Step {
        const char* what;
        int64_t ms;
        bool windowSends; // else heard on the bus
        const std::vector<uint8_t>* frame;
        uint64_t number;        // the bus frame's number
        uint64_t answers;       // a reply: the number of the request it answers
        bool copy;
    };
    const Step steps[] = {
        {"the window sends", 1000, true, &read, 0, 0, false},
        {"the bus carries it", 1004, false, &read, 1, 0, true},
        {"the reply to it", 1030, false, &read, 2, 1, true},
        {"the same request again, from someone else", 1500, false, &read, 3, 0, false},
        {"a reply to that one", 1520, false, &read, 4, 3, false},
        {"another request on the bus", 1600, false, &other, 5, 0, false},
        {"the window sends again", 2000, true, &read, 0, 0, false},
        {"heard eleven seconds later", 13000, false, &read, 6, 0, false},
        {"the window sends", 20000, true, &other, 0, 0, false},
        {"heard stamped a little before the write", 19990, false, &other, 7, 0, true},
        {"polled", 30000, true, &read, 0, 0, false},
        {"polled again", 30500, true, &read, 0, 0, false},
        {"and again", 31000, true, &read, 0, 0, false},
        {"heard once: the last writing's copy", 31003, false, &read, 8, 0, true},
        {"the reply to it", 31020, false, &read, 9, 8, true},
        {"heard again with no writing left", 31400, false, &read, 10, 0, false},
    };
    Recorder recorder;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.windowSends) {
            recorder.sent(*s.frame, 302, time(s.ms));
            continue;
        }
        traffic::BusFrame frame;
        frame.bytes = *s.frame;
        frame.kind = traffic::BusKind::Modbus;
        frame.number = s.number;
        frame.role = s.answers ? traffic::BusRole::Reply : traffic::BusRole::Request;
        if (s.answers) {
            frame.request = std::make_shared<const std::vector<uint8_t>>(*s.frame);
            frame.requestNumber = s.answers;
        }
        recorder.bus(frame, "/dev/ttyUSB1", time(s.ms));
        const traffic::EventLog& log = recorder.log();
        const traffic::Event* heard = nullptr;
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log.at(i).steadyMs == s.ms && !log.at(i).source.empty()) {
                heard = &log.at(i);
            }
        }
        ASSERT_NE(heard, nullptr);
        EXPECT_EQ(heard->windowCopy, s.copy);
        EXPECT_EQ(traffic::Meaning(*heard).starts_with("copy of the "), s.copy) << traffic::Meaning(*heard);
    }
}

// A block is timed from, and read against, the last request before its last byte, even when a later
// request was recorded before the block was.
TEST(EventOrder, ABlockFollowsTheRequestBeforeItsLastByte) {
    Recorder recorder;
    const auto time = [](int64_t ms) { return Stamp{1'700'000'000'000 + ms, ms}; };
    const std::vector<uint8_t> first = bytes("01 03 00 00 00 01 84 0A");
    const std::vector<uint8_t> second = bytes("01 03 00 02 00 04 E5 C9");
    recorder.sent(first, 302, time(1000));
    recorder.sent(second, 302, time(1300));
    recorder.received(bytes("01 03 02 00 2A 39 9B"), 302, time(1250));
    recorder.timedOut("", 302, time(4300));

    const traffic::EventLog& log = recorder.log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log.at(1).kind, EventKind::Received);
    EXPECT_EQ(log.at(1).sinceRequestMs, 250);
    ASSERT_NE(log.at(1).request, nullptr);
    EXPECT_EQ(*log.at(1).request, std::string(first.begin(), first.end()));
    EXPECT_EQ(traffic::ReadingOf(log.at(1)).verdict, traffic::Verdict::Good) << traffic::Meaning(log.at(1));
    EXPECT_EQ(log.at(3).sinceRequestMs, 3000);
    EXPECT_EQ(*log.at(3).request, std::string(second.begin(), second.end()));
}
