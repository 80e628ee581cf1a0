// The bus monitor's framer over any byte stream. The first byte seeds where the delivery cuts the
// rest. Every byte comes out in exactly one frame, in order; a frame called good holds its CRC or
// check byte; the frames do not depend on where the stream was cut; every frame reads as one line.
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/ModbusCrc.h"
#include "tools/ModbusLayout.h"
#include "traffic/BusFramer.h"

namespace {

using traffic::BusFrame;

std::vector<BusFrame> frameInChunks(std::span<const uint8_t> stream, uint8_t seed, traffic::BusLine line) {
    traffic::BusFramer framer(line);
    std::vector<BusFrame> frames;
    std::size_t at = 0;
    int64_t time = 0;
    uint32_t state = seed;
    while (at < stream.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t n = seed == 0 ? stream.size() - at
                                        : std::min<std::size_t>(1 + (state >> 16) % 17, stream.size() - at);
        time += 1000;
        framer.push(stream.subspan(at, n), time, frames);
        if ((state & 0x100) != 0) {
            framer.idle(time + line.quietUs / 2 + 500, frames);
        }
        at += n;
    }
    framer.finish(frames);
    return frames;
}

bool sameFrames(const std::vector<BusFrame>& a, const std::vector<BusFrame>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].bytes != b[i].bytes || a[i].kind != b[i].kind || a[i].role != b[i].role ||
            a[i].check != b[i].check || a[i].requestNumber != b[i].requestNumber) {
            return false;
        }
    }
    return true;
}

void checkFrames(std::span<const uint8_t> stream, const std::vector<BusFrame>& frames) {
    std::vector<uint8_t> joined;
    uint64_t number = 0;
    for (const BusFrame& frame : frames) {
        fuzzcheck::check(!frame.bytes.empty(), "framer: an empty frame");
        fuzzcheck::check(frame.number == ++number, "framer: frames not numbered in order");
        fuzzcheck::check(frame.startUs <= frame.endUs, "framer: a frame ends before it starts");
        joined.insert(joined.end(), frame.bytes.begin(), frame.bytes.end());
        if (frame.kind == traffic::BusKind::Modbus && frame.check == traffic::BusCheck::Good) {
            const std::span<const uint8_t> b = frame.bytes;
            fuzzcheck::check(b.size() >= 4, "framer: a MODBUS frame shorter than four bytes");
            const tools::CrcBytes crc = tools::ModbusCrc16(b.first(b.size() - 2));
            fuzzcheck::check(crc.low == b[b.size() - 2] && crc.high == b.back(),
                             "framer: a good frame's CRC fails");
            // Framed by the one table of layouts: the length its function implies, or its first CRC.
            const tools::ModbusLayout layout = tools::ModbusFrameLength(
                b, frame.role == traffic::BusRole::Request ? tools::ModbusRole::Request
                                                           : tools::ModbusRole::Reply);
            fuzzcheck::check(layout.is == tools::ModbusLayout::Is::Known && layout.length == b.size(),
                             "framer: a frame's length is not the one its layout gives");
        }
        if (frame.requestNumber > 0) {
            fuzzcheck::check(frame.requestNumber < frame.number && frame.request,
                             "framer: a reply before its request");
        }
        const traffic::Reading reading = traffic::ReadBusFrame(frame);
        fuzzcheck::check(!reading.meaning.empty(), "framer: a frame without meaning");
        fuzzcheck::check(reading.meaning.find_first_of("\n\r\t") == std::string::npos,
                         "framer: not one line");
        fuzzcheck::check(!traffic::BusDevice(frame).empty() || frame.kind == traffic::BusKind::Noise,
                         "framer: a frame without device");
    }
    fuzzcheck::check(joined.size() == stream.size() &&
                         std::equal(joined.begin(), joined.end(), stream.begin()),
                     "framer: bytes lost, added or moved");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const uint8_t> stream(data + 1, size - 1);
    const std::vector<BusFrame> whole = frameInChunks(stream, 0, {});
    checkFrames(stream, whole);
    const std::vector<BusFrame> cut = frameInChunks(stream, data[0] == 0 ? 1 : data[0], {});
    checkFrames(stream, cut);
    fuzzcheck::check(sameFrames(whole, cut), "framer: the frames depend on where the stream was cut");
    // A known line speed adds gaps between deliveries, and a short quiet time pauses that end
    // incomplete frames: still every byte once, in order.
    traffic::BusLine line = traffic::BusLine::ForBaud(9600, true);
    line.quietUs = 1500;
    checkFrames(stream, frameInChunks(stream, data[0], line));
    return 0;
}
