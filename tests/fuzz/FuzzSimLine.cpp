// The simulated converter's side of the line over any bytes: the framer with silences where the
// first byte's seed puts them, and every frame it finds answered by the converter, its instrument
// or libmodbus. Every byte comes out in exactly one frame, in order; a MODBUS request is a whole
// burst with a good CRC, and a MODBUS reply has a good CRC and the converter's slave address.
#include <string>
#include <vector>

#include "sim/Converter.h"
#include "sim/LineFramer.h"
#include "sim/ModbusSide.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/ModbusCrc.h"

namespace {

bool crcGood(std::string_view frame) {
    if (frame.size() < 3) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
    const tools::CrcBytes crc = tools::ModbusCrc16({bytes, frame.size() - 2});
    return crc.low == bytes[frame.size() - 2] && crc.high == bytes[frame.size() - 1];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view stream = fuzzcheck::asText(data + 1, size - 1);
    for (const sim::ModbusFraming framing : {sim::ModbusFraming::Silence, sim::ModbusFraming::Content}) {
        sim::LineFramer framer(framing);
        sim::Converter converter;
        sim::ModbusSide modbus(sim::kHoldingRegisters);
        std::vector<sim::Frame> frames;
        std::vector<std::size_t> burstEnds; // where the silences fell, as offsets in the stream
        const auto take = [&](std::vector<sim::Frame> more) {
            for (sim::Frame& frame : more) {
                frames.push_back(std::move(frame));
            }
        };
        uint32_t state = data[0];
        for (std::size_t at = 0; at < stream.size();) {
            state = state * 1103515245u + 12345u;
            const std::size_t n = std::min<std::size_t>(1 + (state >> 16) % 23, stream.size() - at);
            take(framer.push(stream.substr(at, n)));
            at += n;
            if ((state & 0x300) == 0) {
                take(framer.endBurst());
                burstEnds.push_back(at);
            }
        }
        take(framer.flush());

        std::string joined;
        for (const sim::Frame& frame : frames) {
            fuzzcheck::check(!frame.bytes.empty(), "sim line: an empty frame");
            if (frame.kind == sim::FrameKind::Modbus) {
                fuzzcheck::check(crcGood(frame.bytes), "sim line: a MODBUS request with a bad CRC");
                const std::string reply =
                    modbus.reply(frame.bytes, converter.slaveAddress(), converter.holdingRegisters(1.0));
                fuzzcheck::check(reply.empty() || (crcGood(reply) && reply[0] == frame.bytes[0]),
                                 "sim line: a MODBUS reply that is not one");
            } else if (frame.kind == sim::FrameKind::Text) {
                fuzzcheck::check(converter.handleText(frame.bytes).ends_with('#'),
                                 "sim line: a text reply without '#'");
            } else if (frame.kind == sim::FrameKind::Hart) {
                converter.handleHart(frame.bytes, 1.0);
            }
            joined += frame.bytes;
        }
        fuzzcheck::check(joined == stream, "sim line: bytes lost, added or moved");
    }
    return 0;
}
