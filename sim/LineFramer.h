// Splits what arrives on the converter's serial line into frames. Three kinds of traffic share the
// line with nothing to tell them apart but their own shapes: the text command set, HART master frames
// and MODBUS RTU requests. Text and HART frames are found by their shapes: bytes that begin neither
// are garbage and are skipped one at a time, so a cut or garbled frame never swallows the good frame
// behind it. A MODBUS request is what a slave takes it for: a burst of bytes between two silences of
// 3.5 characters that is a request whole, with its CRC; anything else in a burst (garbage before a
// request, two requests without the silence between them) makes it one bad frame.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class FrameKind { Text, Hart, Modbus, Garbage };

// How MODBUS requests are found: by the silences around them, as a slave does; or, leniently, by
// their content wherever they stand (the length their function implies and the CRC), as text and
// HART frames are.
enum class ModbusFraming { Silence, Content };

struct Frame {
    FrameKind kind = FrameKind::Garbage;
    std::string bytes;
};

// Text: "QQQ#"/"QQS#"/"TAVRIK#" up to the next "#" (printable characters only, no second head inside,
// 255 bytes at most), or a read meter command "QQS#CAMD0n:e<NN," followed by NN raw bytes.
// HART: one or more 0xFF preambles, a delimiter of a master, slave or burst frame, the address,
// command, byte count, data and a matching check byte. MODBUS: slave address 0 to 247, at most 256
// bytes, a matching CRC; by content, a public function whose layout implies the request's length.
class LineFramer {
public:
    explicit LineFramer(ModbusFraming modbus = ModbusFraming::Silence) : modbus_(modbus) {}

    // Adds received bytes; returns every frame now complete, in line order, with runs of skipped
    // bytes as Garbage frames between them. Bytes pushed after endBurst (or first) begin a burst.
    std::vector<Frame> push(std::string_view bytes);

    // The line has been silent for 3.5 characters after the bytes pushed: their burst is over, and a
    // MODBUS request that began it is whole if the burst is.
    std::vector<Frame> endBurst();

    // The line has gone quiet: a frame still incomplete will never be finished. Its bytes are read
    // again one position further on, so a good frame that followed a cut one is still found.
    std::vector<Frame> flush();

    bool pending() const { return !buffer_.empty(); }
    // Whether a burst has begun that endBurst has not ended.
    bool inBurst() const { return burstOpen_; }

private:
    std::vector<Frame> drain(bool lineQuiet);

    ModbusFraming modbus_;
    std::string buffer_;
    // Where in the buffer the latest burst began, while that byte is still there.
    std::optional<std::size_t> burstStart_;
    bool burstOpen_ = false;
};

} // namespace sim
