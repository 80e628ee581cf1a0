// A raw capture read as a byte source: deliveries with their own times (the pauses between them told
// as quiet), and every capture that must be refused refused by its line, with its memory bounded
// whatever the file holds; a FIFO without a writer given up, the stop event ending any wait.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "bus/CaptureSource.h"

namespace {

namespace fs = std::filesystem;
using bus::CaptureSource;
using bus::Delivery;
using namespace std::chrono_literals;

class CaptureFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vx538-capture-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        stop_.create();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // Everything the source gives until it ends, one word per delivery: "1000:2" (time: bytes),
    // "quiet 5000", then how it ended, with its error.
    std::vector<std::string> readAll(CaptureSource& source, std::optional<int64_t> untilUs = std::nullopt) {
        std::vector<std::string> words;
        for (;;) {
            const Delivery d = source.next(stop_, untilUs);
            if (d.kind == Delivery::Kind::Bytes) {
                words.push_back(std::to_string(d.timeUs) + ":" + std::to_string(d.bytes.size()));
                untilUs.reset();
            } else if (d.kind == Delivery::Kind::Quiet) {
                words.push_back("quiet " + std::to_string(d.timeUs));
                untilUs.reset();
            } else {
                words.push_back(d.kind == Delivery::Kind::Ended ? "end" : "failed: " + d.error);
                return words;
            }
        }
    }

    fs::path dir_;
    serial::EventFd stop_;
};

const std::string kHeader = "# a comment\nvx538-raw 1 start 1700000000000000 baud 9600 parity even\n";

TEST_F(CaptureFiles, WhatEachCaptureGivesOrWhereItIsRefused) {
    struct Case {
        const char* name;
        std::string text;
        std::string openError; // empty: opens
        std::vector<std::string> deliveries;
    };
    const std::string longLine = std::to_string(5) + std::string(1'500'000, ' ') + "01\n";
    std::string escaped; // the 80 characters of twenty bytes of FE
    for (int i = 0; i < 20; ++i) {
        escaped += "\\xFE";
    }
    const Case cases[] = {
        {"a capture as written",
         kHeader + "1000 01 03\n\n# a note\n25000 04\n",
         "",
         {"1000:2", "25000:1", "end"}},
        {"a last line without its break", kHeader + "1000 01 03\n2000 05", "", {"1000:2", "2000:1", "end"}},
        {"a line over 1 MB, refused by its number",
         kHeader + "1000 01\n" + longLine + "3000 01\n",
         "",
         {"1000:1", "failed: F: line 4: longer than 1 MB; a raw capture's lines are a few kilobytes"}},
        {"no line break at all",
         std::string(2'000'000, '\0'),
         "F: line 1: longer than 1 MB; a raw capture's lines are a few kilobytes",
         {}},
        {"a start time past the year 9999",
         "vx538-raw 1 start 9223372036854775807 baud 9600 parity none\n",
         "F: line 1: the start time \"9223372036854775807\" is out of range (microseconds since 1970, before "
         "the "
         "year 10000)",
         {}},
        {"a delivery time past the year 9999",
         kHeader + "9223372036854775000 01\n",
         "",
         {"failed: F: line 3: the time \"9223372036854775000\" is out of range (after the year 9999)"}},
        {"a byte of 300 KB shown as 80 characters",
         kHeader + "1000 " + std::string(300'000, '\xfe') + "\n",
         "",
         {"failed: F: line 3: \"" + escaped + "... (300000 bytes)\" is no byte in two hex digits"}},
        {"no header", "1000 01\n", "F: line 1: not a vx538 raw capture (it starts with \"vx538-raw 1\")", {}},
        {"empty", "", "F: not a vx538 raw capture (no header line)", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file("capture.raw", c.text);
        CaptureSource source(path);
        const std::string opened = source.open(stop_);
        const auto named = [&](std::string text) {
            for (std::size_t at; (at = text.find(path)) != std::string::npos;) {
                text.replace(at, path.size(), "F");
            }
            return text;
        };
        EXPECT_EQ(named(opened), c.openError);
        if (!opened.empty()) {
            continue;
        }
        std::vector<std::string> got = readAll(source);
        for (std::string& word : got) {
            word = named(word);
        }
        EXPECT_EQ(got, c.deliveries);
    }
}

TEST_F(CaptureFiles, APauseBeforeADeliveryIsQuietUpToTheTimeAsked) {
    CaptureSource source(file("c.raw", kHeader + "1000 01\n90000 02\n"));
    ASSERT_EQ(source.open(stop_), "");
    EXPECT_EQ(source.startEpochUs(), 1'700'000'000'000'000);
    EXPECT_EQ(source.header().parity, "even");
    EXPECT_EQ(readAll(source, 500), (std::vector<std::string>{"quiet 500", "1000:1", "90000:1", "end"}));
}

TEST_F(CaptureFiles, AFifoWithoutAWriterIsGivenUpAndTheStopEventEndsTheWait) {
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CaptureSource silent(fifo.string(), 100ms);
    EXPECT_EQ(silent.open(stop_),
              "cannot read " + fifo.string() + ": nothing came for 100 ms (does a program write to it?)");

    stop_.signal();
    CaptureSource stopped(fifo.string());
    EXPECT_EQ(stopped.open(stop_), "cannot read " + fifo.string() + ": stopped before its header");
}

// A writer that is there but quiet for longer than the silence (a live capture on a quiet bus) is
// waited for: only a FIFO nobody writes to is given up.
TEST_F(CaptureFiles, AFifoIsReadAsItsWriterWritesItHoweverQuietItIs) {
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream out(fifo);
        out << kHeader << "1000 01 02\n" << std::flush;
        std::this_thread::sleep_for(300ms);
        out << "2000 03\n";
    });
    CaptureSource source(fifo.string(), 50ms);
    ASSERT_EQ(source.open(stop_), "");
    EXPECT_EQ(readAll(source), (std::vector<std::string>{"1000:2", "2000:1", "end"}));
    writer.join();
}

} // namespace
