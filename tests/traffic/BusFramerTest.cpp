// The bus framer on streams written out by hand: back-to-back frames, frames cut at every byte,
// noise before, between and after, a frame-like run with a wrong CRC inside noise, damaged and cut
// replies, and every kind of traffic the converter's line carries; then timing (gaps, pauses, reply
// times) and a long random stream scored frame by frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/traffic/BusStreams.h"
#include "tests/traffic/TrafficBytes.h"
#include "tools/ModbusLayout.h"
#include "traffic/BusFramer.h"
#include "traffic/BusSummary.h"

namespace {

using namespace traffictest;
using busstreams::hartFrame;
using traffic::BusCheck;
using traffic::BusFrame;
using traffic::BusFramer;
using traffic::BusKind;
using traffic::BusLine;
using traffic::BusRole;

// A frame in a few words: "request MODBUS 8", "reply MODBUS 9 answers 1", "noise 3",
// "reply MODBUS 9 CRC wrong answers 1".
std::string describe(const BusFrame& frame) {
    if (frame.role == BusRole::Noise) {
        return "noise " + std::to_string(frame.bytes.size());
    }
    std::string text = std::string(traffic::BusRoleText(frame.role)) + ' ' +
                       std::string(traffic::BusKindText(frame.kind)) + ' ' +
                       std::to_string(frame.bytes.size());
    if (frame.check == BusCheck::Wrong) {
        text += " CRC wrong";
    } else if (frame.check == BusCheck::Cut) {
        text += " cut";
    }
    if (frame.requestNumber > 0) {
        text += " answers " + std::to_string(frame.requestNumber);
    }
    return text;
}

std::string hexText(const Bytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        text += "0123456789ABCDEF"[b >> 4];
        text += "0123456789ABCDEF"[b & 15];
        text += ' ';
    }
    return text;
}

std::vector<std::string> describeAll(const std::vector<BusFrame>& frames) {
    std::vector<std::string> out;
    for (const BusFrame& frame : frames) {
        out.push_back(describe(frame));
    }
    return out;
}

// The stream in chunks that end at `cuts`, a millisecond apart, on a line of unknown speed.
std::vector<BusFrame> frame(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    BusFramer framer;
    std::vector<BusFrame> frames;
    std::size_t start = 0;
    int64_t time = 0;
    for (std::size_t cut : cuts) {
        framer.push(std::span(stream).subspan(start, cut - start), time += 1000, frames);
        start = cut;
    }
    framer.push(std::span(stream).subspan(start), time + 1000, frames);
    framer.finish(frames);
    return frames;
}

const Bytes kReadRequest = withCrc(hex("01 03 00 02 00 02"));
const Bytes kReadReply = withCrc(hex("01 03 04 42 C8 00 00"));
const Bytes kException = withCrc(hex("01 83 02"));
const Bytes kWriteRequest = withCrc(hex("01 10 00 02 00 02 04 42 C8 00 00"));
const Bytes kWriteReply = withCrc(hex("01 10 00 02 00 02"));
const Bytes kSingleWrite = withCrc(hex("11 06 00 01 00 03"));
const Bytes kCoilsRequest = withCrc(hex("05 0F 00 13 00 0A 02 CD 01"));
const Bytes kCoilsReply = withCrc(hex("05 0F 00 13 00 0A"));
const Bytes kReadWriteRequest = withCrc(hex("01 17 00 00 00 02 00 10 00 01 02 12 34"));
const Bytes kReadWriteReply = withCrc(hex("01 17 04 00 01 00 02"));
// 20 coils: three bytes of states, so a reply is as long as the request and both CRCs can hold.
const Bytes kBitsRequest = withCrc(hex("05 01 03 00 00 14"));
const Bytes kBitsReply = withCrc(hex("05 01 03 CD 6B 05"));
const Bytes kBroadcast = withCrc(hex("00 10 00 00 00 01 02 00 07"));
const Bytes kIdentityQuery = hartFrame(5, hex("02 80 00 00"));
const Bytes kIdentityReply = hartFrame(5, hex("06 80 00 0E 00 00 FE 26 06 05 05 01 03 08 00 00 12 34"));
const Bytes kQx1 = text("QQQ#QX1#");
const Bytes kQx1Reply = text("QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#");
const Bytes kSetAddress = text("QQS#ADR:005#");
const Bytes kAcknowledged = text("QQS#ADR:OK#");
const Bytes kMeterCommand = text("QQS#CAMD01:1<03,") + hex("76 23 FD");
const Bytes kNoise = hex("A7 00 13");
// The other public functions, as a master and a slave send them (pymodbus's layouts).
const Bytes kExceptionStatus = withCrc(hex("01 07"));
const Bytes kExceptionStatusReply = withCrc(hex("01 07 6D"));
const Bytes kLoopback = withCrc(hex("01 08 00 00 A5 37 01 02 03"));
const Bytes kDiagnosticRegister = withCrc(hex("01 08 00 02 00 00"));
const Bytes kDiagnosticRegisterReply = withCrc(hex("01 08 00 02 12 34"));
const Bytes kEventCounter = withCrc(hex("01 0B"));
const Bytes kEventCounterReply = withCrc(hex("01 0B FF FF 01 08"));
const Bytes kEventLog = withCrc(hex("01 0C"));
const Bytes kEventLogReply = withCrc(hex("01 0C 08 00 00 01 08 01 21 20 00"));
const Bytes kServerId = withCrc(hex("01 11"));
const Bytes kServerIdReply = withCrc(hex("01 11 03 50 4D FF"));
const Bytes kReadFile = withCrc(hex("01 14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02"));
const Bytes kReadFileReply = withCrc(hex("01 14 0C 05 06 0D FE 00 20 05 06 33 CD 00 40"));
const Bytes kWriteFile = withCrc(hex("01 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"));
const Bytes kMaskWrite = withCrc(hex("01 16 00 04 00 F2 00 25"));
const Bytes kFifo = withCrc(hex("01 18 04 DE"));
const Bytes kFifoReply = withCrc(hex("01 18 00 06 00 02 01 B8 12 84"));
const Bytes kDeviceId = withCrc(hex("01 2B 0E 01 00"));
const Bytes kDeviceIdReply =
    withCrc(hex("01 2B 0E 01 83 00 00 02 00 08") + text("Pymodbus") + hex("01 02") + text("PM"));
const Bytes kCanopen = withCrc(hex("01 2B 0D 00 01 02"));
const Bytes kCanopenReply = withCrc(hex("01 2B 0D 00 01 02 03 04 05"));
const Bytes kIllegalFunction = withCrc(hex("01 AB 01"));

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<std::string> frames;
};

const StreamCase kStreams[] = {
    {"a request and its reply back to back",
     kReadRequest + kReadReply,
     {"request MODBUS 8", "reply MODBUS 9 answers 1"}},
    {"every MODBUS function back to back",
     kWriteRequest + kWriteReply + kSingleWrite + kSingleWrite + kCoilsRequest + kCoilsReply +
         kReadWriteRequest + kReadWriteReply + kReadRequest + kException,
     {"request MODBUS 13", "reply MODBUS 8 answers 1", "request MODBUS 8", "reply MODBUS 8 answers 3",
      "request MODBUS 11", "reply MODBUS 8 answers 5", "request MODBUS 15", "reply MODBUS 9 answers 7",
      "request MODBUS 8", "reply MODBUS 5 answers 9"}},
    {"every other public function back to back",
     kExceptionStatus + kExceptionStatusReply + kLoopback + kLoopback + kDiagnosticRegister +
         kDiagnosticRegisterReply + kEventCounter + kEventCounterReply + kEventLog + kEventLogReply +
         kServerId + kServerIdReply + kReadFile + kReadFileReply + kWriteFile + kWriteFile + kMaskWrite +
         kMaskWrite + kFifo + kFifoReply + kDeviceId + kDeviceIdReply + kCanopen + kCanopenReply + kDeviceId +
         kIllegalFunction,
     {"request MODBUS 4",  "reply MODBUS 5 answers 1",   "request MODBUS 11", "reply MODBUS 11 answers 3",
      "request MODBUS 8",  "reply MODBUS 8 answers 5",   "request MODBUS 4",  "reply MODBUS 8 answers 7",
      "request MODBUS 4",  "reply MODBUS 13 answers 9",  "request MODBUS 4",  "reply MODBUS 8 answers 11",
      "request MODBUS 19", "reply MODBUS 17 answers 13", "request MODBUS 18", "reply MODBUS 18 answers 15",
      "request MODBUS 10", "reply MODBUS 10 answers 17", "request MODBUS 6",  "reply MODBUS 12 answers 19",
      "request MODBUS 7",  "reply MODBUS 24 answers 21", "request MODBUS 8",  "reply MODBUS 11 answers 23",
      "request MODBUS 7",  "reply MODBUS 5 answers 25"}},
    {"the expected reply of an open layout with a wrong CRC, then cut",
     kCanopen + Bytes(kCanopenReply.begin(), kCanopenReply.end() - 1) + hex("00") + kDiagnosticRegister +
         hex("01 08 00 02 12"),
     {"request MODBUS 8", "noise 11", "request MODBUS 8", "reply MODBUS 5 cut answers 3"}},
    {"damaged replies of the other functions after noise",
     kFifo + kNoise + Bytes(kFifoReply.begin(), kFifoReply.end() - 1) + hex("00") + kDeviceId +
         Bytes(kDeviceIdReply.begin(), kDeviceIdReply.begin() + 12),
     {"request MODBUS 6", "noise 3", "reply MODBUS 12 CRC wrong answers 1", "request MODBUS 7",
      "reply MODBUS 12 cut answers 4"}},
    {"a reply as long as its request",
     kBitsRequest + kBitsReply,
     {"request MODBUS 8", "reply MODBUS 8 answers 1"}},
    {"a reply with nobody asking, then a broadcast nobody answers",
     kReadReply + kBroadcast + kReadRequest,
     {"reply MODBUS 9", "request MODBUS 11", "request MODBUS 8"}},
    {"noise before, between and after",
     kNoise + kReadRequest + hex("9C") + kReadReply + kNoise,
     {"noise 3", "request MODBUS 8", "noise 1", "reply MODBUS 9 answers 2", "noise 3"}},
    {"a valid-looking frame with a wrong CRC inside noise",
     kReadRequest + kReadReply + hex("A7 13 01 03 00 02 00 02 00 00 9C 4E") + kReadRequest,
     {"request MODBUS 8", "reply MODBUS 9 answers 1", "noise 12", "request MODBUS 8"}},
    {"the expected reply with a wrong CRC after noise",
     kReadRequest + kNoise + hex("01 03 04 42 C8 00 00 00 00") + kReadRequest + kReadReply,
     {"request MODBUS 8", "noise 3", "reply MODBUS 9 CRC wrong answers 1", "request MODBUS 8",
      "reply MODBUS 9 answers 4"}},
    {"the expected reply cut short, then the next request",
     kReadRequest + hex("01 03 04 42 C8") + kReadRequest,
     {"request MODBUS 8", "reply MODBUS 5 cut answers 1", "request MODBUS 8"}},
    {"an exception with a wrong CRC",
     kReadRequest + hex("01 83 02 00 00") + kReadRequest,
     {"request MODBUS 8", "reply MODBUS 5 CRC wrong answers 1", "request MODBUS 8"}},
    {"noise that starts like the reply before the reply",
     kReadRequest + hex("01 03 04") + kReadReply,
     {"request MODBUS 8", "noise 3", "reply MODBUS 9 answers 1"}},
    {"HART identity query and reply with noise",
     kNoise + kIdentityQuery + hex("FF 00") + kIdentityReply,
     {"noise 3", "request HART 10", "noise 2", "reply HART 24 answers 2"}},
    {"a HART reply with a wrong check byte",
     kIdentityQuery + Bytes(kIdentityReply.begin(), kIdentityReply.end() - 1) + hex("00") + kIdentityQuery,
     {"request HART 10", "reply HART 24 CRC wrong answers 1", "request HART 10"}},
    {"a line stuck at FF", Bytes(40, 0xFF) + kReadRequest, {"noise 40", "request MODBUS 8"}},
    {"text queries, set commands and their replies",
     kQx1 + kQx1Reply + kSetAddress + text("ha") + kAcknowledged + kMeterCommand + text("QQS#CAMD01:OK#"),
     {"request text 8", "reply text 43 answers 1", "request text 12", "noise 2", "reply text 11 answers 3",
      "request text 19", "reply text 14 answers 6"}},
    {"a text reply without a head",
     kQx1 + text("QX1,ADR:005,BA1:30,BA2:41,MD:1,JTM:012#"),
     {"request text 8", "reply text 39 answers 1"}},
    {"all three kinds mixed with noise",
     kQx1 + kQx1Reply + kNoise + kIdentityQuery + kIdentityReply + kReadRequest + kNoise + kReadReply,
     {"request text 8", "reply text 43 answers 1", "noise 3", "request HART 10", "reply HART 24 answers 4",
      "request MODBUS 8", "noise 3", "reply MODBUS 9 answers 6"}},
};

TEST(BusFramer, findsTheFramesOfEachStreamHoweverItIsCut) {
    for (const StreamCase& c : kStreams) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(describeAll(frame(c.stream, {})), c.frames) << "whole";
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
            ASSERT_EQ(describeAll(frame(c.stream, {cut})), c.frames) << "cut at " << cut;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
            everyByte.push_back(cut);
        }
        EXPECT_EQ(describeAll(frame(c.stream, everyByte)), c.frames) << "byte by byte";
    }
}

TEST(BusFramer, framesKeepTheirBytes) {
    const std::vector<BusFrame> frames = frame(kNoise + kReadRequest + kReadReply, {5});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, kNoise);
    EXPECT_EQ(frames[1].bytes, kReadRequest);
    EXPECT_EQ(frames[2].bytes, kReadReply);
    EXPECT_EQ(*frames[2].request, kReadRequest);
}

// 9600 baud, no parity: 1042 us a character.
constexpr int64_t kCharacter = 1042;

TEST(BusFramer, aSilenceOnTheLineSeparatesNoiseButNotAFrameCutByDelivery) {
    BusFramer framer(BusLine::ForBaud(9600, false));
    std::vector<BusFrame> frames;
    // Noise, 20 ms of silence, more noise, then a request whose second half comes 16 ms late as a
    // USB adapter delivers it.
    framer.push(hex("A7 00"), 10'000, frames);
    framer.push(hex("13"), 30'000, frames);
    framer.push(std::span(kReadRequest).first(3), 40'000, frames);
    framer.push(std::span(kReadRequest).subspan(3), 56'000, frames);
    framer.finish(frames);
    EXPECT_EQ(describeAll(frames), (std::vector<std::string>{"noise 2", "noise 1", "request MODBUS 8"}));
}

TEST(BusFramer, aPauseGivesOutAnIncompleteFrameAsNoise) {
    BusFramer framer(BusLine::ForBaud(9600, false));
    std::vector<BusFrame> frames;
    framer.push(std::span(kReadRequest).first(5), 10'000, frames);
    EXPECT_TRUE(frames.empty());
    ASSERT_TRUE(framer.idleDeadline());
    framer.idle(*framer.idleDeadline() - 1, frames);
    EXPECT_TRUE(frames.empty());
    framer.idle(*framer.idleDeadline(), frames);
    EXPECT_EQ(describeAll(frames), std::vector<std::string>{"noise 5"});
    EXPECT_FALSE(framer.idleDeadline());
    // The line goes on with whole frames.
    framer.push(kReadRequest, 500'000, frames);
    EXPECT_EQ(describe(frames.back()), "request MODBUS 8");
}

// A line that sends nothing but noise (a flooding network peer) is given in bounded runs as it
// arrives, not held until it pauses: what the framer keeps stays small and no byte is lost.
TEST(BusFramer, endlessNoiseIsGivenInBoundedRunsAsItArrives) {
    struct Case {
        std::size_t bytes;
        std::size_t block;
    } cases[] = {{100, 100}, {4096, 4096}, {4097, 1}, {1 << 20, 4096}, {300'000, 65'536}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        BusFramer framer(BusLine::ForBaud(9600, false));
        std::vector<BusFrame> frames;
        const std::vector<uint8_t> noise(c.bytes, 0xF5);
        for (std::size_t at = 0; at < noise.size(); at += c.block) {
            framer.push(std::span(noise).subspan(at, std::min(c.block, noise.size() - at)), 10'000, frames);
        }
        std::size_t given = 0;
        for (const BusFrame& frame : frames) {
            given += frame.bytes.size();
        }
        // At most one run held back, and the longest frame's worth still being looked at.
        EXPECT_GE(given + 4096 + tools::kModbusMaxFrame, c.bytes);
        framer.finish(frames);
        given = 0;
        for (const BusFrame& frame : frames) {
            EXPECT_EQ(frame.role, traffic::BusRole::Noise);
            EXPECT_LE(frame.bytes.size(), 4096u);
            given += frame.bytes.size();
        }
        EXPECT_EQ(given, c.bytes);
    }
}

TEST(BusFramer, replyTimeFromTheRequestsLastByteToTheReplysFirst) {
    BusFramer framer(BusLine::ForBaud(9600, false));
    std::vector<BusFrame> frames;
    framer.push(kReadRequest, 100'000, frames);
    // The nine bytes of the reply were delivered at once, the last one at 150 ms.
    framer.push(kReadReply, 150'000, frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].endUs, 100'000);
    EXPECT_EQ(frames[0].startUs, 100'000 - 8 * kCharacter);
    EXPECT_EQ(frames[1].startUs, 150'000 - 9 * kCharacter);
    EXPECT_EQ(frames[1].replyUs, 150'000 - 9 * kCharacter - 100'000);
}

// A frame is seen whole when the delivery holding its last byte comes, however the bytes were cut
// into deliveries and however long the framer has run (its buffers compacted on the way).
TEST(BusFramer, aFrameIsSeenWhenTheDeliveryOfItsLastByteCame) {
    struct Delivery {
        std::vector<uint8_t> bytes;
        int64_t atUs;
    };
    const std::vector<uint8_t> both = [] {
        std::vector<uint8_t> v(kReadRequest.begin(), kReadRequest.end());
        v.insert(v.end(), kReadReply.begin(), kReadReply.end());
        return v;
    }();
    const std::vector<uint8_t> request(kReadRequest.begin(), kReadRequest.end());
    const std::vector<uint8_t> reply(kReadReply.begin(), kReadReply.end());
    const struct {
        const char* what;
        std::vector<Delivery> deliveries;
        std::vector<int64_t> seen; // per frame
    } cases[] = {
        {"each in a delivery of its own", {{request, 100'000}, {reply, 150'000}}, {100'000, 150'000}},
        // The request's line time goes back by the reply's nine characters; it was seen at 50 ms.
        {"request and reply in one delivery", {{both, 50'000}}, {50'000, 50'000}},
        {"the request cut in two", {{std::vector<uint8_t>(request.begin(), request.begin() + 3), 40'000},
                                    {std::vector<uint8_t>(request.begin() + 3, request.end()), 56'000},
                                    {reply, 80'000}},
         {56'000, 80'000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Enough traffic first that the framer drops what it gave out: 600 polls, 100 ms apart.
        BusFramer framer(BusLine::ForBaud(9600, false));
        std::vector<BusFrame> frames;
        for (int i = 0; i < 600; ++i) {
            framer.push(both, 1'000'000 + i * 100'000, frames);
        }
        const int64_t base = 1'000'000 + 600 * 100'000;
        frames.clear();
        for (const Delivery& d : c.deliveries) {
            framer.push(d.bytes, base + d.atUs, frames);
        }
        framer.finish(frames);
        ASSERT_EQ(frames.size(), c.seen.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            EXPECT_EQ(frames[f].seenUs, base + c.seen[f]) << f;
            EXPECT_LE(frames[f].endUs, frames[f].seenUs) << f;
        }
    }
}

TEST(BusFramer, aRandomStreamCutAtRandomIsFoundFrameByFrame) {
    busstreams::Generator generator(26);
    const busstreams::Stream stream = generator.make(3000, 30);
    std::mt19937 random(7);
    BusFramer framer;
    std::vector<BusFrame> frames;
    int64_t time = 0;
    for (std::size_t at = 0; at < stream.bytes.size();) {
        const std::size_t n = std::min<std::size_t>(std::uniform_int_distribution<std::size_t>(1, 64)(random),
                                                    stream.bytes.size() - at);
        framer.push(std::span(stream.bytes).subspan(at, n), time += 1000, frames);
        at += n;
    }
    framer.finish(frames);
    std::vector<const BusFrame*> good;
    std::size_t noise = 0;
    for (const BusFrame& f : frames) {
        if (f.role == BusRole::Noise) {
            noise += f.bytes.size();
        } else {
            ASSERT_EQ(f.check, BusCheck::Good) << "frame " << f.number;
            good.push_back(&f);
        }
    }
    for (std::size_t i = 0; i < std::min(good.size(), stream.frames.size()); ++i) {
        ASSERT_EQ(hexText(good[i]->bytes), hexText(stream.frames[i].bytes)) << "frame " << i;
        ASSERT_EQ(good[i]->role, stream.frames[i].request ? BusRole::Request : BusRole::Reply)
            << "frame " << i;
    }
    ASSERT_EQ(good.size(), stream.frames.size());
    EXPECT_EQ(noise, stream.noiseBytes);
}

} // namespace

namespace {

TEST(BusSummary, countsEachDevicesRequestsRepliesFaultsAndReplyTimes) {
    const Bytes slave2Read = withCrc(hex("02 03 00 00 00 01"));
    const Bytes slave2Reply = withCrc(hex("02 03 02 00 07"));
    BusFramer framer(BusLine::ForBaud(9600, false));
    std::vector<BusFrame> frames;
    int64_t time = 0;
    // Each piece delivered 20 ms after the one before.
    for (const Bytes& piece : {kReadRequest, kReadReply, kReadRequest, kException, kReadRequest,
                               hex("01 03 04 42 C8 00 00 00 00"), kReadRequest, slave2Read, kNoise,
                               slave2Reply, kBroadcast, kIdentityQuery, kIdentityReply, kReadRequest}) {
        framer.push(piece, time += 20'000, frames);
    }
    framer.finish(frames);
    traffic::BusSummary summary;
    for (const BusFrame& f : frames) {
        summary.add(f);
    }
    summary.finish();

    const std::vector<traffic::BusDeviceCounts> devices = summary.devices();
    ASSERT_EQ(devices.size(), 4u);
    const auto counts = [](const traffic::BusDeviceCounts& d) {
        return std::vector<uint64_t>{d.requests,  d.replies,      d.exceptions,
                                     d.crcErrors, d.withoutReply, d.timedReplies};
    };
    EXPECT_EQ(devices[0].device, "slave 0");
    EXPECT_EQ(counts(devices[0]), (std::vector<uint64_t>{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(devices[1].device, "slave 1");
    // Five requests: answered, refused, answered with a wrong CRC, not answered, and the last one.
    EXPECT_EQ(counts(devices[1]), (std::vector<uint64_t>{5, 2, 1, 1, 2, 3}));
    EXPECT_EQ(devices[2].device, "slave 2");
    EXPECT_EQ(counts(devices[2]), (std::vector<uint64_t>{1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(devices[3].device, "HART 0");
    EXPECT_EQ(counts(devices[3]), (std::vector<uint64_t>{1, 1, 0, 0, 0, 1}));
    // Each reply came one delivery (20 ms) after its request, less its own bytes on the line.
    EXPECT_EQ(devices[1].minReplyUs, 20'000 - 9 * kCharacter);
    EXPECT_EQ(devices[1].maxReplyUs, 20'000 - 5 * kCharacter);
    EXPECT_EQ(summary.noiseRuns(), 1u);
    EXPECT_EQ(summary.noiseBytes(), 3u);
    EXPECT_EQ(devices[0].functions, (std::map<uint8_t, uint64_t>{{16, 1}}));
    EXPECT_EQ(devices[1].functions, (std::map<uint8_t, uint64_t>{{3, 5}}));
    EXPECT_TRUE(devices[3].functions.empty());
}

} // namespace
