// vx538 publishing to Debian's mosquitto, every piece a program of its own: the simulated converters,
// the broker on a free loopback port, vx538, and mosquitto_sub as the reader. What arrives is compared
// with what the simulators answered; the broker is stopped and started again, the converter falls
// silent, vx538 is killed, the broker wants TLS and a password.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/support/MosquittoProcess.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using testsupport::BackgroundProgram;
using testsupport::MosquittoProcess;
using testsupport::MosquittoSubscriber;
using testsupport::SimProcess;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Message {
    std::string topic;
    std::string payload;
    Json json() const { return Json::parse(payload, nullptr, false); }
};

std::vector<Message> messages(const MosquittoSubscriber& subscriber, const std::string& topicPrefix = {}) {
    std::vector<Message> out;
    for (const std::string& line : subscriber.lines()) {
        const auto blank = line.find(' ');
        Message m{line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1)};
        if (m.topic.starts_with(topicPrefix)) {
            out.push_back(m);
        }
    }
    return out;
}

// One converter's published polls of variable `n`, in arrival order, each once (QoS 1 may deliver a
// message twice across a reconnection).
std::vector<Json> polls(const MosquittoSubscriber& subscriber, const std::string& converterTopic, int n = 1) {
    std::vector<Json> out;
    std::vector<std::string> seen;
    for (const Message& m : messages(subscriber, converterTopic + "/variable/" + std::to_string(n))) {
        if (std::find(seen.begin(), seen.end(), m.payload) == seen.end()) {
            seen.push_back(m.payload);
            out.push_back(m.json());
        }
    }
    return out;
}

// The eight floats of every MODBUS read reply a simulator logged, in order (the factory word order:
// the high word first).
std::vector<std::array<float, 8>> simulatorReplies(const std::string& log) {
    std::vector<std::array<float, 8>> replies;
    std::istringstream lines(readFile(log));
    for (std::string line; std::getline(lines, line);) {
        const auto out = line.find(" out ");
        const auto bar = line.find('|');
        if (out == std::string::npos || bar == std::string::npos) {
            continue;
        }
        std::istringstream hex(line.substr(out + 5, bar - out - 5));
        std::vector<uint8_t> bytes;
        for (std::string byte; hex >> byte;) {
            bytes.push_back(static_cast<uint8_t>(std::stoi(byte, nullptr, 16)));
        }
        if (bytes.size() != 37 || bytes[1] != 3 || bytes[2] != 32) {
            continue;
        }
        std::array<float, 8> values{};
        for (std::size_t v = 0; v < 8; ++v) {
            uint32_t bits = 0;
            for (std::size_t b = 0; b < 4; ++b) {
                bits = bits << 8 | bytes[3 + 4 * v + b];
            }
            values[v] = std::bit_cast<float>(bits);
        }
        replies.push_back(values);
    }
    return replies;
}

// How long the broker stays away in the test of its return: 5 s unless VX538_TEST_BROKER_AWAY_S says
// otherwise (20 for the long form); the rule is the same.
std::chrono::seconds brokerAway() {
    const char* text = std::getenv("VX538_TEST_BROKER_AWAY_S");
    return std::chrono::seconds(text ? std::max(1, std::atoi(text)) : 5);
}

// Every poll in the order it was made.
void expectInOrder(const std::vector<Json>& published) {
    ASSERT_FALSE(published.empty());
    for (std::size_t k = 1; k < published.size(); ++k) {
        EXPECT_LT(published[k - 1]["time"].get<std::string>(), published[k]["time"].get<std::string>()) << k;
    }
}

// A broker that keeps sessions across its restart, a historian's session on it reading everything, and
// the converter "boiler".
struct Historian {
    static MosquittoProcess::Options persistent() {
        MosquittoProcess::Options options;
        options.persistence = true;
        return options;
    }
    explicit Historian(const std::string& file)
        : reader(broker, {"vx538/#"}, file, "historian-" + std::to_string(::getpid())) {}

    MosquittoProcess broker{persistent()};
    MosquittoSubscriber reader;
    SimProcess sim{VX538_SIM_PATH};
};

class Publishing : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MosquittoProcess::available()) {
            GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (scripts/install-deps.sh)";
        }
        dir_ = (fs::temp_directory_path() / ("vx538-mqtt-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::unique_ptr<BackgroundProgram> vx538(const std::vector<std::string>& arguments) const {
        return std::make_unique<BackgroundProgram>(VX538_PATH, arguments, path("vx538"));
    }
    void write(const std::string& name, const std::string& text) const { std::ofstream(path(name)) << text; }
    // Ctrl+C, then the converter's "offline" read: all it published before has arrived.
    static void end(BackgroundProgram& watch, const MosquittoSubscriber& reader, const std::string& converterTopic) {
        watch.signal(SIGINT);
        ASSERT_EQ(watch.wait(), 0) << watch.err();
        ASSERT_TRUE(waitFor([&] {
            const auto status = messages(reader, converterTopic + "/status");
            return !status.empty() && status.back().payload == "offline";
        }));
    }
    // The last line of a watch: "N samples, M missed" (one port), the polls it made.
    static int pollsMade(const std::string& out) {
        const auto end = out.rfind(" samples, ");
        const auto start = out.rfind('\n', end) + 1;
        const int samples = std::stoi(out.substr(start, end - start));
        return samples + std::stoi(out.substr(end + 10));
    }

    std::string dir_;
};

TEST_F(Publishing, EachPollsEightValuesAreWhatTheSimulatorAnsweredUnderTheConvertersName) {
    MosquittoProcess broker;
    MosquittoSubscriber reader(broker, {"plant/#"}, path("read.txt"));
    ASSERT_TRUE(reader.ready());
    SimProcess boiler(VX538_SIM_PATH, {"--log", path("boiler.log")});
    SimProcess pump(VX538_SIM_PATH, {"--log", path("pump.log")});
    // A service's configuration file: the converters named, the broker and the topics' prefix.
    write("plant.conf", "# two converters\nmqtt " + broker.url() + "\nmqtt-topic plant\ninterval 100\nport boiler " +
                            boiler.path() + "\nport " + pump.path() + "\n");
    auto watch = vx538({"--config", path("plant.conf"), "watch", "--count", "6"});
    ASSERT_EQ(watch->wait(), 0) << watch->err();
    const std::string pumpName = pump.path().substr(pump.path().rfind('/') + 1); // made from its port

    for (const auto& [name, log] : {std::pair{std::string("boiler"), path("boiler.log")}, {pumpName, path("pump.log")}}) {
        const std::string topic = "plant/" + name;
        ASSERT_TRUE(waitFor([&] { return polls(reader, topic, 8).size() >= 6; })) << name;
        const auto replies = simulatorReplies(log);
        ASSERT_EQ(replies.size(), 6u) << name;
        for (int n = 1; n <= 8; ++n) {
            const std::vector<Json> published = polls(reader, topic, n);
            ASSERT_EQ(published.size(), 6u) << name << " variable " << n;
            for (std::size_t k = 0; k < 6; ++k) {
                const Json& p = published[k];
                ASSERT_TRUE(p.contains("value")) << p;
                EXPECT_EQ(static_cast<float>(p["value"].get<double>()), replies[k][static_cast<std::size_t>(n - 1)])
                    << name << " variable " << n << " poll " << k;
                EXPECT_EQ(p["register"], 40001 + 2 * n);
                EXPECT_EQ(p["quality"], n <= 4 ? "good" : "not polled") << "the simulator polls command 1 only";
                EXPECT_TRUE(p["time"].get<std::string>().ends_with("Z")) << p;
                EXPECT_FALSE(p["source"].get<std::string>().empty()) << p;
            }
        }
        EXPECT_EQ(polls(reader, topic, 1)[0]["unit"], "KPa") << "the unit the instrument names, as the unit table writes it";
        // Online while it ran, offline (its own message, a clean end) after; the subscriber may get the
        // last one after the polls.
        EXPECT_TRUE(waitFor([&] { return messages(reader, topic + "/status").size() >= 2; })) << name;
        std::vector<std::string> status;
        for (const Message& m : messages(reader, topic + "/status")) {
            status.push_back(m.payload);
        }
        EXPECT_EQ(status, (std::vector<std::string>{"online", "offline"})) << name;
    }
}

TEST_F(Publishing, TheStatusGoesOfflineByTheLastWillWhenVx538IsKilled) {
    MosquittoProcess broker;
    SimProcess sim(VX538_SIM_PATH);
    write("ports", "boiler " + sim.path() + "\n");
    auto watch = vx538({"--ports-from", path("ports"), "watch", "--interval", "200", "--mqtt", broker.url()});
    ASSERT_TRUE(waitFor([&] { return testsupport::MosquittoRetained(broker, "vx538/boiler/status", 1s) == "online"; }))
        << watch->err();
    watch->signal(SIGKILL);
    watch->wait();
    EXPECT_TRUE(waitFor([&] { return testsupport::MosquittoRetained(broker, "vx538/boiler/status", 1s) == "offline"; }));
}

TEST_F(Publishing, PollsMadeWhileTheBrokerIsAwayArriveWhenItReturnsAllAndInOrder) {
    Historian plant(path("read.txt"));
    MosquittoProcess& broker = plant.broker;
    const MosquittoSubscriber& reader = plant.reader;
    const SimProcess& sim = plant.sim;
    ASSERT_TRUE(reader.ready());
    write("ports", "boiler " + sim.path() + "\n");
    auto watch = vx538({"--ports-from", path("ports"), "watch", "--interval", "100", "--mqtt", broker.url()});
    ASSERT_TRUE(waitFor([&] { return polls(reader, "vx538/boiler").size() >= 3; })) << watch->err();

    broker.stop();
    ASSERT_TRUE(waitFor([&] { return watch->err().find("lost the broker") != std::string::npos; })) << watch->err();
    std::this_thread::sleep_for(brokerAway()); // the outage itself, while vx538 polls on
    broker.start();
    ASSERT_TRUE(waitFor([&] { return watch->err().find("is back after") != std::string::npos; }, 60s))
        << watch->err();
    ASSERT_NO_FATAL_FAILURE(end(*watch, reader, "vx538/boiler"));

    // Every poll arrived, in the order it was made; none was dropped or left behind.
    const int made = pollsMade(watch->out());
    const std::vector<Json> published = polls(reader, "vx538/boiler");
    ASSERT_EQ(static_cast<int>(published.size()), made) << watch->err();
    expectInOrder(published);
    EXPECT_GE(made, 10 * static_cast<int>(brokerAway().count())) << "polled on while the broker was away";
    EXPECT_TRUE(messages(reader, "vx538/boiler/status/dropped").empty());
    EXPECT_EQ(watch->err().find("dropped"), std::string::npos) << watch->err();
}

TEST_F(Publishing, AFullQueueDropsTheOldestPollsAndSaysHowMany) {
    Historian plant(path("read.txt"));
    MosquittoProcess& broker = plant.broker;
    const MosquittoSubscriber& reader = plant.reader;
    const SimProcess& sim = plant.sim;
    ASSERT_TRUE(reader.ready());
    write("ports", "boiler " + sim.path() + "\n");
    auto watch = vx538({"--ports-from", path("ports"), "watch", "--interval", "100", "--mqtt", broker.url(),
                        "--mqtt-queue", "5"});
    ASSERT_TRUE(waitFor([&] { return polls(reader, "vx538/boiler").size() >= 2; })) << watch->err();
    broker.stop();
    ASSERT_TRUE(waitFor([&] { return watch->err().find("the oldest are dropped") != std::string::npos; }))
        << watch->err();
    broker.start();
    ASSERT_TRUE(waitFor([&] { return !messages(reader, "vx538/boiler/status/dropped").empty(); }, 60s))
        << watch->err();
    ASSERT_NO_FATAL_FAILURE(end(*watch, reader, "vx538/boiler"));

    const Json note = messages(reader, "vx538/boiler/status/dropped").front().json();
    const int dropped = note["dropped"].get<int>();
    EXPECT_GE(dropped, 1);
    EXPECT_LE(note["first"].get<std::string>(), note["last"].get<std::string>());
    EXPECT_NE(watch->err().find(std::to_string(dropped) + " polls from "), std::string::npos) << watch->err();
    // What was not dropped arrived, in order: every poll is either published or counted as dropped.
    const std::vector<Json> published = polls(reader, "vx538/boiler");
    EXPECT_EQ(static_cast<int>(published.size()) + dropped, pollsMade(watch->out())) << watch->err();
    expectInOrder(published);
}

TEST_F(Publishing, ASilentConverterPublishesNoReplyWithoutAValueWhileItsNeighbourGoesOn) {
    MosquittoProcess broker;
    MosquittoSubscriber reader(broker, {"vx538/#"}, path("read.txt"));
    ASSERT_TRUE(reader.ready());
    SimProcess quiet(VX538_SIM_PATH, {"--control", path("control")});
    SimProcess busy(VX538_SIM_PATH);
    write("ports", "quiet " + quiet.path() + "\nbusy " + busy.path() + "\n");
    auto watch = vx538({"--ports-from", path("ports"), "--timeout", "100", "watch", "--interval", "100", "--mqtt",
                        broker.url()});
    ASSERT_TRUE(waitFor([&] { return polls(reader, "vx538/quiet").size() >= 2; })) << watch->err();
    write("control", "silent on\n");
    const auto silent = [&] {
        std::vector<Json> out;
        for (const Json& p : polls(reader, "vx538/quiet")) {
            if (p["quality"] == "no reply") {
                out.push_back(p);
            }
        }
        return out;
    };
    ASSERT_TRUE(waitFor([&] { return silent().size() >= 3; })) << watch->err();
    const std::size_t busyBefore = polls(reader, "vx538/busy").size();
    ASSERT_TRUE(waitFor([&] { return silent().size() >= 6; })) << watch->err();
    EXPECT_GE(polls(reader, "vx538/busy").size(), busyBefore + 2) << "the neighbour kept publishing";
    for (const Json& p : silent()) {
        EXPECT_FALSE(p.contains("value")) << p;
    }
    for (const Json& p : polls(reader, "vx538/busy")) {
        EXPECT_EQ(p["quality"], "good") << p;
    }
    watch->signal(SIGINT);
    EXPECT_EQ(watch->wait(), 0) << watch->err();
}

TEST_F(Publishing, APortNotThereOrGoneIsOpenedAgainWhileTheOtherPortsGoOn) {
    MosquittoProcess broker;
    MosquittoSubscriber reader(broker, {"vx538/#"}, path("read.txt"));
    ASSERT_TRUE(reader.ready());
    SimProcess busy(VX538_SIM_PATH);
    // "late" names a terminal that does not exist yet: a device server still starting.
    write("ports", "late " + path("late-tty") + "\nbusy " + busy.path() + "\n");
    auto watch = vx538({"--ports-from", path("ports"), "--timeout", "200", "watch", "--interval", "100", "--mqtt",
                        broker.url()});
    const auto count = [&](const std::string& converter, const std::string& quality) {
        const std::vector<Json> all = polls(reader, "vx538/" + converter);
        return std::count_if(all.begin(), all.end(), [&](const Json& p) { return p["quality"] == quality; });
    };
    ASSERT_TRUE(waitFor([&] { return count("late", "line lost") >= 2 && count("busy", "good") >= 2; }))
        << watch->err();

    auto late = std::make_unique<SimProcess>(VX538_SIM_PATH, std::vector<std::string>{"--link", path("late-tty")});
    ASSERT_TRUE(waitFor([&] { return count("late", "good") >= 2; })) << watch->err();
    EXPECT_NE(watch->err().find("open again"), std::string::npos) << watch->err();
    EXPECT_EQ(polls(reader, "vx538/late").back()["source"], "command 1 data 7-10, PV") << "described once open";

    late.reset(); // its line goes
    const auto lostBefore = count("late", "line lost");
    const auto busyBefore = count("busy", "good");
    ASSERT_TRUE(waitFor([&] { return count("late", "line lost") >= lostBefore + 3; })) << watch->err();
    // Both converters' messages reach the subscriber on their own: the neighbour's may trail by one.
    EXPECT_TRUE(waitFor([&] { return count("busy", "good") >= busyBefore + 3; }))
        << "the other port was polled all along";
    for (const Json& p : polls(reader, "vx538/late")) {
        EXPECT_TRUE(p["quality"] == "good" || !p.contains("value")) << p;
    }
    watch->signal(SIGINT);
    EXPECT_EQ(watch->wait(), 0) << watch->err();
}

TEST_F(Publishing, ATlsBrokerWithAPasswordIsReachedWithItsCaAndTheRightPasswordOnly) {
    MosquittoProcess::Options options;
    options.tls = true;
    options.user = "plant";
    options.password = "s3cret pass";
    MosquittoProcess broker(options);
    MosquittoSubscriber reader(broker, {"vx538/#"}, path("read.txt"));
    ASSERT_TRUE(reader.ready());
    SimProcess sim(VX538_SIM_PATH);
    write("password", "s3cret pass\n");
    const std::vector<std::string> tls = {"--mqtt", broker.url(), "--mqtt-ca", broker.caFile(), "--mqtt-user", "plant"};
    std::vector<std::string> arguments = {"-p", sim.path(), "watch", "--count", "3", "--interval", "100",
                                          "--mqtt-password-file", path("password")};
    arguments.insert(arguments.end(), tls.begin(), tls.end());
    auto watch = vx538(arguments);
    ASSERT_EQ(watch->wait(), 0) << watch->err();
    const std::string name = sim.path().substr(sim.path().rfind('/') + 1);
    EXPECT_TRUE(waitFor([&] { return polls(reader, "vx538/" + name, 8).size() == 3; }));

    // A wrong password: the broker refuses, and a watch whose polls were never delivered is no success.
    write("wrong", "guess\n");
    arguments[8] = path("wrong");
    auto refused = vx538(arguments);
    EXPECT_EQ(refused->wait(), 8) << refused->err();
    EXPECT_NE(refused->err().find("refused the connection"), std::string::npos) << refused->err();
    EXPECT_NE(refused->err().find("3 polls were not delivered"), std::string::npos) << refused->err();

    // Without the CA the broker's certificate is not trusted.
    std::vector<std::string> untrusted = {"-p", sim.path(), "watch", "--count", "2", "--interval", "100",
                                          "--mqtt", broker.url(), "--mqtt-user", "plant",
                                          "--mqtt-password-file", path("password")};
    auto unknownCa = vx538(untrusted);
    EXPECT_EQ(unknownCa->wait(), 8) << unknownCa->err();
    EXPECT_EQ(polls(reader, "vx538/" + name, 8).size(), 3u);
}

TEST_F(Publishing, CheckPublishesItsTableRetainedAndABrokerThatDoesNotTakeItIsAFailure) {
    MosquittoProcess broker;
    SimProcess sim(VX538_SIM_PATH);
    write("ports", "boiler " + sim.path() + "\n");
    const auto check = testsupport::RunProgram(VX538_PATH, {"--ports-from", path("ports"), "check", "--mqtt", broker.url(),
                                                             "--mqtt-topic", "plant/north"});
    ASSERT_EQ(check.status, 0) << check.out << check.err;
    const Json table = Json::parse(testsupport::MosquittoRetained(broker, "plant/north/boiler/check"), nullptr, false);
    ASSERT_TRUE(table.is_object()) << table;
    EXPECT_EQ(table["result"], "ok");
    ASSERT_EQ(table["variables"].size(), 8u) << table;
    EXPECT_EQ(table["variables"][0]["verdict"], "same") << table;

    broker.stop();
    const auto away = testsupport::RunProgram(VX538_PATH, {"-p", sim.path(), "check", "--mqtt", broker.url()});
    EXPECT_EQ(away.status, 8) << away.out << away.err;
    EXPECT_NE((away.out + away.err).find("did not take"), std::string::npos) << away.out << away.err;
}

TEST_F(Publishing, WhatCannotWorkIsRefusedBeforeAnyPortIsOpened) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--mqtt", "mqtt://user:pw@broker"}, 2, "does not go into the address"},
        {{"--mqtt", "mqtt://broker", "--mqtt-topic", "a/#"}, 2, "wildcard"},
        {{"--mqtt", "mqtt://broker", "--mqtt-password-file", "/nonexistent/pw"}, 8, "cannot read"},
        {{"--mqtt", "mqtt://broker", "--mqtt-ca", "/nonexistent/ca"}, 2, "TLS broker"},
        {{"--mqtt-topic", "plant"}, 2, "--mqtt"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"-p", "/nonexistent/tty", "watch"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const auto run = testsupport::RunProgram(VX538_PATH, arguments);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    // Two ports that would publish under one name.
    write("ports", "/tmp/a/ttyS9\n/tmp/b/ttyS9\n");
    const auto clash = testsupport::RunProgram(VX538_PATH, {"--ports-from", path("ports"), "watch", "--mqtt", "mqtt://b"});
    EXPECT_EQ(clash.status, 2) << clash.err;
    EXPECT_NE(clash.err.find("would both publish as ttyS9"), std::string::npos) << clash.err;
}

} // namespace
