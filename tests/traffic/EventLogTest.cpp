// The event log's bound, the recorder's times and meanings, the text forms of an event and the log
// file that receives the same lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "traffic/EventFormat.h"
#include "traffic/EventLog.h"
#include "traffic/Recorder.h"

using traffic::Column;
using traffic::Event;
using traffic::EventKind;
using traffic::EventLog;
using traffic::Recorder;
using traffic::Stamp;

namespace {

std::vector<uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::string> fileLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/traffic-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::filesystem::path operator/(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace

TEST(EventLog, KeepsTheNewestUpToItsCapacityAndCountsTheDropped) {
    EventLog log(3);
    for (int i = 0; i < 5; ++i) {
        Event event;
        event.note = std::to_string(i);
        log.append(std::move(event));
    }
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(log.dropped(), 2u);
    EXPECT_EQ(log.at(0).note, "2");
    EXPECT_EQ(log.at(2).note, "4");
    EXPECT_EQ(log.firstSequence(), 2u);
    EXPECT_EQ(log.endSequence(), 5u);

    // A clear empties the log and forgets the drops; sequence numbers go on.
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.dropped(), 0u);
    EXPECT_EQ(log.clears(), 1u);
    EXPECT_EQ(log.firstSequence(), 5u);
    log.append({});
    EXPECT_EQ(log.firstSequence(), 5u);
    EXPECT_EQ(log.endSequence(), 6u);
}

TEST(Recorder, TimesSinceTheRequestAndWhatEachEventSays) {
    Recorder recorder;
    const auto at = [](int64_t ms) { return Stamp{1'700'000'000'000 + ms, ms}; };
    recorder.received(bytes("late"), 0, at(0)); // nothing was asked yet
    recorder.notWritten(bytes("QQQ#QV#"), 201, "the port is not open", at(500));
    recorder.sent(bytes("QQQ#QX1#"), 201, at(1000));
    recorder.received(bytes("QX1,ADR:005"), 201, at(1412));
    recorder.refused("'abc' is not a valid integer value", 200, at(1500));
    recorder.received(bytes("QX1"), 201, at(1600)); // a refusal sent nothing: still the query's reply
    recorder.timedOut("Parameter Query Timeout!", 201, at(4000));
    recorder.port(EventKind::PortClosed, "COM2", at(5000));
    recorder.received(bytes("x"), 201, at(5100)); // after the port closed, no request is outstanding
    recorder.timedOut("", 0, at(6000));

    const EventLog& log = recorder.log();
    ASSERT_EQ(log.size(), 10u);
    const struct {
        EventKind kind;
        int64_t since;
        const char* meaning;
    } expected[] = {
        {EventKind::Received, -1, "text reply without block marker"},
        {EventKind::Refused, -1, "not written, the port is not open: communication query"},
        {EventKind::Sent, -1, "system parameter query (QX1)"},
        {EventKind::Received, 412,
         "text reply, block QX1 (system parameters): ADR:005; cut: BA1:, BA2:, MD:, JTM: missing or short"},
        {EventKind::Refused, -1, "nothing sent: 'abc' is not a valid integer value"},
        {EventKind::Received, 600,
         "text reply, block QX1 (system parameters): no fields; cut: ADR:, BA1:, BA2:, MD:, JTM: missing or short"},
        {EventKind::Timeout, 3000, "no reply in time: Parameter Query Timeout!"},
        {EventKind::PortClosed, -1, "COM2"},
        {EventKind::Received, -1,
         "text reply without block marker; no QX1 marker, so the window changes no field"},
        {EventKind::Timeout, -1, "no reply in time"},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log.at(i).kind, expected[i].kind);
        EXPECT_EQ(log.at(i).sinceRequestMs, expected[i].since);
        EXPECT_EQ(traffic::Meaning(log.at(i)), expected[i].meaning);
    }
    EXPECT_EQ(log.at(1).bytes, "QQQ#QV#");
    EXPECT_EQ(log.at(3).pendingCommand, 201);
    EXPECT_FALSE(log.at(7).hasPendingCommand);
}

// A received block is read against the frame sent before it, so a reply inside noise is found there;
// the events after one request share one copy of it.
TEST(Recorder, ReadsEachBlockAgainstTheLastFrameSent) {
    Recorder recorder;
    const std::vector<uint8_t> read = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    const std::vector<uint8_t> noisyReply = {0x21, 0x5F, 0x91, 0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B};
    recorder.sent(read, 302);
    recorder.received(noisyReply, 302);
    recorder.notWritten(bytes("QQQ#QV#"), 302, "the port did not take it");
    recorder.received(bytes("QQQ#QV:VX538-T-B#"), 302); // still read against the read that went out
    recorder.timedOut("Parameter Query Timeout!", 302);
    recorder.port(EventKind::PortClosed, "COM2");
    recorder.received(noisyReply, 302);

    const EventLog& log = recorder.log();
    ASSERT_EQ(log.size(), 7u);
    const traffic::Reading found = traffic::ReadingOf(log.at(1));
    EXPECT_EQ(found.verdict, traffic::Verdict::Good) << found.meaning;
    EXPECT_EQ(found.frameOffset, 3u);
    EXPECT_EQ(found.frameLength, 7u);
    EXPECT_EQ(found.meaning,
              "MODBUS reply, slave 1, read holding registers, byte count 2, 1 register: 42 (002A); "
              "CRC 39 9B ok; 3 bytes of noise before it");
    EXPECT_EQ(traffic::Meaning(log.at(1)), found.meaning);
    EXPECT_EQ(traffic::ReadingOf(log.at(3)).verdict, traffic::Verdict::Unexpected);
    EXPECT_EQ(traffic::Meaning(log.at(3)).rfind("no MODBUS reply to slave 1 function 3 in 17 bytes", 0), 0u);
    const traffic::Reading timeout = traffic::ReadingOf(log.at(4));
    EXPECT_EQ(timeout.meaning, "no reply in time: Parameter Query Timeout!");
    EXPECT_EQ(timeout.verdict, traffic::Verdict::None);
    ASSERT_NE(log.at(1).request, nullptr);
    EXPECT_EQ(*log.at(1).request, std::string(read.begin(), read.end()));
    EXPECT_EQ(log.at(1).request, log.at(3).request);
    EXPECT_EQ(log.at(1).request, log.at(4).request);
    // After the port closed no request is known: the block is read by its own shape, as garbage.
    EXPECT_EQ(log.at(6).request, nullptr);
    EXPECT_EQ(traffic::Meaning(log.at(6)).find("noise"), std::string::npos);
}

TEST(EventFormat, ThePendingColumnNamesTheRequest) {
    const struct {
        int32_t code;
        const char* text;
    } cases[] = {
        {0, "0 None"}, {201, "201 System Parameters"}, {302, "302 MODBUS Test"}, {7, "7"}, {-1, "-1"},
    };
    for (const auto& c : cases) {
        Event event;
        event.hasPendingCommand = true;
        event.pendingCommand = c.code;
        EXPECT_EQ(traffic::ColumnText(event, Column::Pending), c.text);
    }
}

TEST(EventFormat, ColumnsLinesAndCsv) {
    Event event;
    event.wallTimeMs = 1'700'000'000'123;
    event.sinceRequestMs = 412;
    event.kind = EventKind::Received;
    event.hasPendingCommand = true;
    event.pendingCommand = 201;
    event.bytes = std::string("QX1\0\xFF,ADR:\"5\"", 14); // a reply cut short

    const std::string timeOfDay = traffic::TimeOfDayText(event.wallTimeMs);
    ASSERT_EQ(timeOfDay.size(), 12u);
    EXPECT_EQ(timeOfDay.substr(8), ".123");
    const std::string dateTime = traffic::DateTimeText(event.wallTimeMs);
    EXPECT_EQ(dateTime.substr(11), timeOfDay);

    const struct {
        Column column;
        const char* text;
    } columns[] = {
        {Column::Source, "window"},
        {Column::SinceRequest, "412 ms"},
        {Column::Direction, "received"},
        {Column::Pending, "201 System Parameters"},
        {Column::Length, "14"},
        {Column::Hex, "51 58 31 00 FF 2C 41 44 52 3A 22 35 22 00"},
        {Column::Text, "QX1..,ADR:\"5\"."},
        // The block's meaning is worked out from the bytes under the pending command.
        {Column::Meaning, "text reply, block QX1 (system parameters): ADR:\"5\"; cut: BA1:, BA2:, MD:, JTM: missing "
                          "or short"},
    };
    for (const auto& c : columns) {
        EXPECT_EQ(traffic::ColumnText(event, c.column), c.text) << traffic::ColumnTitle(c.column);
    }
    EXPECT_EQ(traffic::TextLine(event),
              dateTime +
                  "\twindow\t412 ms\treceived\t201 System Parameters\t14\t51 58 31 00 FF 2C 41 44 52 3A 22 35 22 "
                  "00\tQX1..,ADR:\"5\".\ttext reply, block QX1 (system parameters): "
                  "ADR:\"5\"; cut: BA1:, BA2:, MD:, JTM: missing or short");
    EXPECT_EQ(traffic::CsvLine(event),
              dateTime +
                  ",window,412 ms,received,201 System Parameters,14,51 58 31 00 FF 2C 41 44 52 3A 22 35 22 00,"
                  "\"QX1..,ADR:\"\"5\"\".\",\"text reply, block QX1 (system parameters): "
                  "ADR:\"\"5\"\"; cut: BA1:, BA2:, MD:, JTM: missing or short\"");
    EXPECT_EQ(traffic::CsvHeader(), "Time,Source,Since request,Direction,Pending,Length,Hex,Text,Meaning");
    EXPECT_EQ(traffic::TextHeader(),
              "Time\tSource\tSince request\tDirection\tPending\tLength\tHex\tText\tMeaning");

    // Events without bytes leave length, hex and text empty; port events have no pending command.
    Event opened;
    opened.kind = EventKind::PortOpened;
    opened.note = "COM2, 9600 baud";
    EXPECT_EQ(traffic::TextLine(opened).substr(23), "\twindow\t\tport opened\t\t\t\t\tCOM2, 9600 baud");
}

TEST(Recorder, AppendsTheSameLinesToItsLogFileAndReportsAFileItCannotOpen) {
    TempDir dir;
    const auto path = dir / "traffic.log";
    {
        std::ofstream earlier(path);
        earlier << "an earlier session\n";
    }
    Recorder recorder;
    ASSERT_EQ(recorder.openLogFile(path.string()), "");
    recorder.sent(bytes("QQQ#QV#"), 201);
    // An earlier session's file is appended to: no second header.
    // Each line is in the file as soon as it is recorded, before the recorder is gone.
    EXPECT_EQ(fileLines(path).size(), 2u);
    recorder.received(bytes("QV OK"), 201);
    recorder.port(EventKind::PortLost, "the device hung up");

    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "an earlier session");
    for (std::size_t i = 0; i < recorder.log().size(); ++i) {
        EXPECT_EQ(lines[i + 1], traffic::TextLine(recorder.log().at(i)));
    }

    // A new file starts with the column titles.
    Recorder fresh;
    const auto freshPath = dir / "fresh.log";
    ASSERT_EQ(fresh.openLogFile(freshPath.string()), "");
    fresh.sent(bytes("QQQ#QV#"), 201);
    EXPECT_EQ(fileLines(freshPath),
              (std::vector<std::string>{traffic::TextHeader(), traffic::TextLine(fresh.log().at(0))}));
    Recorder again;
    ASSERT_EQ(again.openLogFile(freshPath.string()), "");
    again.sent(bytes("QQQ#QV#"), 201);
    EXPECT_EQ(fileLines(freshPath).size(), 3u);

    Recorder unopenable;
    EXPECT_EQ(unopenable.openLogFile((dir / "no-such-folder/traffic.log").string()),
              "No such file or directory");
    EXPECT_FALSE(unopenable.logFile().isOpen());
    unopenable.sent(bytes("QQQ#QV#"), 201);
    EXPECT_EQ(unopenable.log().size(), 1u);
}

TEST(Recorder, ReportsAFailedWriteOnceAndStopsWritingTheFile) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    Recorder recorder;
    std::vector<std::string> failures;
    recorder.onLogFileFailed = [&](const std::string& reason) { failures.push_back(reason); };
    ASSERT_EQ(recorder.openLogFile("/dev/full"), "");
    recorder.sent(bytes("QQQ#QV#"), 201);
    recorder.sent(bytes("QQQ#QV#"), 201);
    EXPECT_EQ(failures, std::vector<std::string>{"No space left on device"});
    EXPECT_FALSE(recorder.logFile().isOpen());
    EXPECT_EQ(recorder.log().size(), 2u);
}
