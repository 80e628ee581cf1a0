// The line framer: each kind of frame found whole, and garbage, cut and garbled frames skipped
// without losing the good frame behind them, however the bytes are chunked.
#include <gtest/gtest.h>

#include "sim/LineFramer.h"
#include "tests/sim/Bytes.h"

using namespace simtest;
using sim::Frame;
using sim::FrameKind;
using sim::LineFramer;

namespace {

// Frames as "kind:bytes" for readable failures.
std::vector<std::string> describe(const std::vector<Frame>& frames) {
    std::vector<std::string> out;
    for (const Frame& f : frames) {
        const char* kind = f.kind == FrameKind::Text     ? "text"
                           : f.kind == FrameKind::Hart   ? "hart"
                           : f.kind == FrameKind::Modbus ? "modbus"
                                                         : "skip";
        out.push_back(std::string(kind) + ":" + f.bytes);
    }
    return out;
}

std::vector<std::string> frame(std::string input, std::size_t chunk) {
    LineFramer framer;
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < input.size(); i += chunk) {
        auto more = framer.push(std::string_view(input).substr(i, chunk));
        frames.insert(frames.end(), more.begin(), more.end());
    }
    auto rest = framer.flush();
    frames.insert(frames.end(), rest.begin(), rest.end());
    // Garbage runs may be reported in pieces when the bytes come in pieces; join neighbours.
    std::vector<Frame> joined;
    for (Frame& f : frames) {
        if (!joined.empty() && f.kind == FrameKind::Garbage && joined.back().kind == FrameKind::Garbage) {
            joined.back().bytes += f.bytes;
        } else {
            joined.push_back(std::move(f));
        }
    }
    return describe(joined);
}

const std::string kIdentity = hartFrame("02 80 00 00");
const std::string kVariables = hartFrame("82 A6 0C 0A 1B 2C 03 00", 1);
const std::string kRead = modbusFrame("01 03 00 00 00 12");
const std::string kWriteMany = modbusFrame("01 10 00 02 00 02 04 41 20 00 00");
const std::string kMeterCommand = std::string("QQS#CAMD01:1<03,") + hex("23 FF 51");

struct Case {
    const char* name;
    std::string line;
    std::vector<std::string> frames;
};

} // namespace

TEST(LineFramer, FindsEveryFrameAndSkipsWhatIsNone) {
    const Case cases[] = {
        {"text commands of every head",
         "QQQ#QX1#QQS#ADR:005#TAVRIK#PCBSN:00000123,102#",
         {"text:QQQ#QX1#", "text:QQS#ADR:005#", "text:TAVRIK#PCBSN:00000123,102#"}},
        {"a read meter command counts its raw bytes, '#' and 0xFF included",
         kMeterCommand + "QQQ#QX3#",
         {"text:" + kMeterCommand, "text:QQQ#QX3#"}},
        {"HART short and long frames, one preamble or several",
         kIdentity + kVariables,
         {"hart:" + kIdentity, "hart:" + kVariables}},
        {"MODBUS requests of fixed and counted length",
         kRead + kWriteMany,
         {"modbus:" + kRead, "modbus:" + kWriteMany}},
        {"garbage before a frame", "xyz" + kIdentity, {"skip:xyz", "hart:" + kIdentity}},
        {"a text frame cut by the next one", "QQS#ADR:0QQQ#QX1#", {"skip:QQS#ADR:0", "text:QQQ#QX1#"}},
        {"a text frame cut by a binary one", "QQQ#QX" + kRead, {"skip:QQQ#QX", "modbus:" + kRead}},
        {"a HART frame with a bad check byte, then a good one",
         kIdentity.substr(0, kIdentity.size() - 1) + "\x83" + kIdentity,
         {"skip:" + kIdentity.substr(0, kIdentity.size() - 1) + "\x83", "hart:" + kIdentity}},
        {"a cut HART frame, then a good one",
         kVariables.substr(0, 5) + kIdentity,
         {"skip:" + kVariables.substr(0, 5), "hart:" + kIdentity}},
        {"a MODBUS request with a bad CRC, then text",
         kRead.substr(0, 7) + std::string(1, '\0') + "QQQ#QX2#",
         {"skip:" + kRead.substr(0, 7) + std::string(1, '\0'), "text:QQQ#QX2#"}},
        {"a HART frame of a delimiter nobody sends",
         hex("FF FF 76 89 FD AD AF") + "QQQ#QV#",
         {"skip:" + hex("FF FF 76 89 FD AD AF"), "text:QQQ#QV#"}},
        {"a frame that never ends, given up when the line goes quiet", "QQS#ADR:00", {"skip:QQS#ADR:00"}},
    };
    for (const Case& c : cases) {
        for (std::size_t chunk : {c.line.size(), std::size_t{1}, std::size_t{3}}) {
            EXPECT_EQ(frame(c.line, chunk), c.frames) << c.name << ", in chunks of " << chunk;
        }
    }
}

TEST(LineFramer, WaitsForTheRestOfAFrameUntilTheLineIsQuiet) {
    LineFramer framer;
    EXPECT_TRUE(framer.push("QQQ#QX").empty());
    EXPECT_TRUE(framer.pending());
    EXPECT_EQ(describe(framer.push("1#")), std::vector<std::string>{"text:QQQ#QX1#"});
    EXPECT_FALSE(framer.pending());
    EXPECT_TRUE(framer.push(kIdentity.substr(0, 4)).empty());
    EXPECT_EQ(describe(framer.flush()), std::vector<std::string>{"skip:" + kIdentity.substr(0, 4)});
    EXPECT_FALSE(framer.pending());
}
