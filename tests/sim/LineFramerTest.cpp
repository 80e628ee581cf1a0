// The line framer: each kind of frame found whole, and garbage, cut and garbled frames skipped
// without losing the good frame behind them, however the bytes are chunked; MODBUS requests by the
// silences around them, or leniently by their content.
#include <gtest/gtest.h>

#include "sim/LineFramer.h"
#include "tests/sim/Bytes.h"

using namespace simtest;
using sim::Frame;
using sim::FrameKind;
using sim::LineFramer;
using sim::ModbusFraming;

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

// The bursts pushed in chunks, each ended by the silence after it; then the line goes quiet.
std::vector<std::string> frame(const std::vector<std::string>& bursts, std::size_t chunk,
                               ModbusFraming framing) {
    LineFramer framer(framing);
    std::vector<Frame> frames;
    for (const std::string& input : bursts) {
        for (std::size_t i = 0; i < input.size(); i += chunk) {
            auto more = framer.push(std::string_view(input).substr(i, chunk));
            frames.insert(frames.end(), more.begin(), more.end());
        }
        auto ended = framer.endBurst();
        frames.insert(frames.end(), ended.begin(), ended.end());
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
const std::string kStatus = modbusFrame("01 07");
const std::string kReadWrite = modbusFrame("01 17 00 00 00 02 00 04 00 01 02 00 2A");
const std::string kIdentification = modbusFrame("01 2B 0E 01 00");
const std::string kDiagnostics = modbusFrame("01 08 00 00 12 34");

struct Case {
    const char* name;
    std::string line;
    std::vector<std::string> frames;
};

} // namespace

// The lenient reading: every frame by its content wherever it stands, the whole line as one burst.
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
        {"the other public functions by the length their layout implies",
         kStatus + kReadWrite + kIdentification + kDiagnostics,
         {"modbus:" + kStatus, "modbus:" + kReadWrite, "modbus:" + kIdentification,
          "modbus:" + kDiagnostics}},
        {"a function whose layout says no length is not found by content",
         modbusFrame("01 41 00 01") + "QQQ#QV#",
         {"skip:" + modbusFrame("01 41 00 01"), "text:QQQ#QV#"}},
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
            EXPECT_EQ(frame({c.line}, chunk, ModbusFraming::Content), c.frames)
                << c.name << ", in chunks of " << chunk;
        }
    }
}

// As a slave frames MODBUS: a request is a whole burst between silences, whatever its function; text
// and HART frames are found by their content as ever, inside a burst or across two.
TEST(LineFramer, AModbusRequestIsABurstWholeAndABurstWithMoreIsOneBadFrame) {
    const std::string open = modbusFrame("01 41 00 01"); // a function whose layout says no length
    const std::string tooLong = withCrc("\x01\x10" + std::string(260, '\x00'));
    const struct {
        const char* name;
        std::vector<std::string> bursts;
        std::vector<std::string> frames;
    } cases[] = {
        {"a request alone in its burst", {kRead}, {"modbus:" + kRead}},
        {"requests of any function, one burst each",
         {open, kWriteMany},
         {"modbus:" + open, "modbus:" + kWriteMany}},
        {"garbage before a request", {"\x12\x34" + kRead}, {"skip:\x12\x34" + kRead}},
        {"two requests without the silence between them", {kRead + kRead}, {"skip:" + kRead + kRead}},
        {"a request with a byte after it", {kRead + 'U'}, {"skip:" + kRead + 'U'}},
        {"a cut request, then a whole one",
         {kRead.substr(0, 5), kRead},
         {"skip:" + kRead.substr(0, 5), "modbus:" + kRead}},
        {"a burst longer than any frame", {tooLong}, {"skip:" + tooLong}},
        {"text, then a request glued to it", {"QQQ#QX1#" + kRead}, {"text:QQQ#QX1#", "skip:" + kRead}},
        {"a request, then text in the next burst", {kRead, "QQQ#QX1#"}, {"modbus:" + kRead, "text:QQQ#QX1#"}},
        {"garbage before HART in one burst", {"x" + kIdentity}, {"skip:x", "hart:" + kIdentity}},
        {"a text frame across two bursts", {"QQQ#Q", "X1#"}, {"text:QQQ#QX1#"}},
        {"a HART frame never begins a request",
         {kIdentity, kVariables},
         {"hart:" + kIdentity, "hart:" + kVariables}},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{300}, std::size_t{1}, std::size_t{3}}) {
            EXPECT_EQ(frame(c.bursts, chunk, ModbusFraming::Silence), c.frames)
                << c.name << ", in chunks of " << chunk;
        }
    }
}

TEST(LineFramer, WaitsForTheRestOfAFrameUntilTheLineIsQuiet) {
    LineFramer framer(ModbusFraming::Content);
    EXPECT_TRUE(framer.push("QQQ#QX").empty());
    EXPECT_TRUE(framer.pending());
    EXPECT_EQ(describe(framer.push("1#")), std::vector<std::string>{"text:QQQ#QX1#"});
    EXPECT_FALSE(framer.pending());
    EXPECT_TRUE(framer.push(kIdentity.substr(0, 4)).empty());
    EXPECT_EQ(describe(framer.flush()), std::vector<std::string>{"skip:" + kIdentity.substr(0, 4)});
    EXPECT_FALSE(framer.pending());
}
