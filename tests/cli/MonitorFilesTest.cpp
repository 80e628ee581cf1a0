// vx538 monitor and the files it reads and writes: every output path that cannot take what is
// written gives exit 8 with the file's name and why, leaving the replayed capture as it was; a
// replay of any file stays small in memory; --json gives values only from replies whose CRC holds;
// and a capture delivered as a USB adapter does, in 5 ms bursts, frames as the line carried it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/cli/MonitorSupport.h"

namespace {

using namespace monitortest;

constexpr int64_t kStart = 1'765'000'000'000'000; // a capture's time 0, in microseconds since 1970

const std::vector<uint8_t> kRead = withCrc({1, 3, 0, 2, 0, 2});
const std::vector<uint8_t> kReply = withCrc({1, 3, 4, 0x42, 0xC8, 0, 0});

// Ten polls and their replies, 100 ms apart.
std::string tenPolls() {
    std::vector<Delivery> deliveries;
    for (int i = 0; i < 10; ++i) {
        deliveries.push_back({1000 + i * 100'000, kRead});
        deliveries.push_back({21'000 + i * 100'000, kReply});
    }
    return captureText(kStart, 9600, deliveries);
}

class MonitorFiles : public Scratch {
protected:
    Finished monitor(std::vector<std::string> arguments, Stdout mode = Stdout::File,
                     const fs::path& out = {}) {
        arguments.insert(arguments.begin(), "monitor");
        return runToEnd(VX538_PATH, arguments, mode, out.empty() ? path("stdout") : out);
    }
};

TEST_F(MonitorFiles, EveryOutputPathGivesItsExitAndMessageAndLeavesTheCaptureIntact) {
    const fs::path in = path("bus.raw");
    const std::string capture = tenPolls();
    writeFile(in, capture);
    fs::create_symlink(in, path("link.raw"));
    fs::create_hard_link(in, path("hard.raw"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(path("silent").c_str(), 0600), 0);
    const std::string i = in.string();
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        Stdout out;
        int status;
        std::string message;
    };
    const std::string full = ": No space left on device";
    const std::string replayed = "it is the capture being replayed";
    const Case cases[] = {
        {"every output a file of its own",
         {"--replay", i, "--pcap", path("p.pcap"), "--raw", path("r.raw"), "--log", path("l.log")},
         Stdout::File,
         0,
         ""},
        {"standard output full",
         {"--replay", i},
         Stdout::DevFull,
         8,
         "vx538: cannot write standard output" + full},
        {"standard output closed",
         {"--replay", i},
         Stdout::Closed,
         8,
         "vx538: cannot write standard output: it is closed"},
        {"--pcap full",
         {"--replay", i, "--pcap", "/dev/full"},
         Stdout::File,
         8,
         "vx538: cannot write /dev/full" + full},
        {"--raw full",
         {"--replay", i, "--raw", "/dev/full"},
         Stdout::File,
         8,
         "vx538: cannot write /dev/full" + full},
        {"--log full",
         {"--replay", i, "--log", "/dev/full"},
         Stdout::File,
         8,
         "vx538: cannot write /dev/full" + full},
        {"--pcap the capture itself",
         {"--replay", i, "--pcap", i},
         Stdout::File,
         8,
         "vx538: cannot write " + i + " (--pcap): " + replayed},
        {"--raw the capture through a symbolic link",
         {"--replay", i, "--raw", path("link.raw")},
         Stdout::File,
         8,
         "(--raw): " + replayed},
        {"--log the capture under another name",
         {"--replay", i, "--log", path("hard.raw")},
         Stdout::File,
         8,
         "(--log): " + replayed},
        {"standard output appended to the capture",
         {"--replay", i},
         Stdout::AppendTo,
         8,
         "vx538: cannot write standard output: " + replayed},
        {"--pcap and --raw one new file",
         {"--replay", i, "--pcap", path("new"), "--raw", dir_.string() + "/./new"},
         Stdout::File,
         8,
         "--pcap and --raw name the same file"},
        {"--pcap a FIFO no program reads",
         {"--replay", i, "--pcap", path("fifo")},
         Stdout::File,
         8,
         "vx538: cannot write " + path("fifo").string() + ": no program reads from it"},
        {"--replay a FIFO no program writes",
         {"--replay", path("silent")},
         Stdout::File,
         8,
         "vx538: cannot read " + path("silent").string() +
             ": nothing came for 5 s (does a program write to it?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Finished run = monitor(c.arguments, c.out, c.out == Stdout::AppendTo ? in : fs::path());
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.message.empty()) {
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(count(run.out, "  request  "), 10) << run.out;
            for (const char* file : {"p.pcap", "r.raw", "l.log"}) {
                EXPECT_GT(fs::file_size(path(file)), 100u) << file;
            }
        } else {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
            EXPECT_EQ(count(run.err, "\n"), 1) << "one line: " << run.err;
        }
        EXPECT_EQ(readFile(in), capture) << "the replayed capture changed";
    }
}

// A file of zeros without a line break (as /dev/zero, or a sparse file of 2 GB) and a line of 51 MB
// are refused by their line once it passes 1 MB, the frames before it shown; nothing grows.
TEST_F(MonitorFiles, AReplayOfAnyFileIsRefusedOrStreamedInLittleMemory) {
    const fs::path sparse = path("sparse.raw");
    { std::ofstream(sparse) << ""; }
    fs::resize_file(sparse, 2'000'000'000);
    const fs::path longLine = path("long.raw");
    {
        std::ofstream out(longLine);
        out << tenPolls() << "2000000";
        const std::string bytes(1'000'000, ' ');
        for (int i = 0; i < 51; ++i) {
            out << bytes;
        }
        out << " 01\n3000000 01\n";
    }
    struct Case {
        const char* name;
        std::string file;
        std::string message;
        int requests;
    };
    const std::string tooLong = ": longer than 1 MB; a raw capture's lines are a few kilobytes";
    const Case cases[] = {
        {"/dev/zero", "/dev/zero", "vx538: /dev/zero: line 1" + tooLong, 0},
        {"a sparse file of 2 GB", sparse, "vx538: " + sparse.string() + ": line 1" + tooLong, 0},
        {"a line of 51 MB", longLine, "vx538: " + longLine.string() + ": line 22" + tooLong, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Finished run = monitor({"--replay", c.file});
        EXPECT_EQ(run.status, 8);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(count(run.out, "  request  "), c.requests);
        EXPECT_LT(run.peakKb, 64 * 1024) << "kB at its peak";
    }
}

TEST_F(MonitorFiles, JsonGivesValuesOnlyFromRepliesWhoseCrcHolds) {
    std::vector<uint8_t> spoiled = kReply;
    spoiled.back() ^= 0xFF;
    const std::vector<uint8_t> wrongCount = withCrc({1, 3, 2, 0x42, 0xC8});
    writeFile(path("c.raw"), captureText(kStart, 9600,
                                         {{1000, kRead},
                                          {21'000, spoiled},
                                          {101'000, kRead},
                                          {121'000, wrongCount},
                                          {201'000, kRead},
                                          {221'000, kReply}}));
    const Finished run = monitor({"--replay", path("c.raw"), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Json> lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    for (std::size_t at : {1, 3}) {
        EXPECT_NE(lines[at]["verdict"], "good") << lines[at].dump();
        EXPECT_FALSE(lines[at].contains("registers") || lines[at].contains("floats")) << lines[at].dump();
        EXPECT_FALSE(lines[at]["bytes"].get<std::string>().empty());
    }
    EXPECT_EQ(lines[5]["verdict"], "good");
    EXPECT_EQ(lines[5]["registers"], Json::array({0x42C8, 0}));
    EXPECT_EQ(lines[5]["floats"]["ABCD"], Json::array({100.0}));
}

// Polls at 115200 baud every 11 ms, the slave answering after 1 ms: once as the line carried each
// byte, once as a USB adapter hands them over, every 5 ms what came since. Both replay to the same
// frames: every request and reply, paired, good.
TEST_F(MonitorFiles, FiveMillisecondDeliveriesAsByAUsbAdapterFrameAsTheLineCarriedThem) {
    const std::vector<uint8_t> poll = withCrc({1, 3, 0, 2, 0, 16});
    const std::vector<uint8_t> reply = [] {
        std::vector<uint8_t> frame = {1, 3, 32};
        for (uint8_t k = 0; k < 32; ++k) {
            frame.push_back(static_cast<uint8_t>(k * 5));
        }
        return withCrc(frame);
    }();
    std::vector<Delivery> byByte, inBursts;
    for (int i = 0; i < 200; ++i) {
        int64_t t = 1000 + i * 11'000;
        for (const std::vector<uint8_t>* frame : {&poll, &reply}) {
            for (uint8_t b : *frame) {
                t += 87; // a character at 115200 baud
                byByte.push_back({t, {b}});
                const int64_t due = (t / 5000 + 1) * 5000;
                if (inBursts.empty() || inBursts.back().timeUs != due) {
                    inBursts.push_back({due, {}});
                }
                inBursts.back().bytes.push_back(b);
            }
            t += 1000;
        }
    }
    writeFile(path("exact.raw"), captureText(kStart, 115200, byByte));
    writeFile(path("bursts.raw"), captureText(kStart, 115200, inBursts));
    const Finished exact = monitor({"--replay", path("exact.raw"), "--json"});
    const Finished bursts = monitor({"--replay", path("bursts.raw"), "--json"});
    ASSERT_EQ(exact.status, 0) << exact.err;
    ASSERT_EQ(bursts.status, 0) << bursts.err;
    const std::vector<Json> a = jsonLines(exact.out), b = jsonLines(bursts.out);
    ASSERT_EQ(a.size(), 401u);
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t k = 0; k + 1 < a.size(); ++k) {
        ASSERT_EQ(a[k]["direction"], k % 2 == 0 ? "request" : "reply") << k;
        ASSERT_EQ(a[k]["verdict"], "good") << k;
        for (const char* key : {"number", "direction", "bytes", "verdict", "answers"}) {
            ASSERT_EQ(b[k].value(key, Json()), a[k].value(key, Json())) << key << " of frame " << k;
        }
    }
    EXPECT_EQ(b.back()["summary"]["devices"][0]["replies"], 200);
}

} // namespace
