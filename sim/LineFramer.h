// Splits what arrives on the converter's serial line into frames. Three kinds of traffic share the
// line with nothing to tell them apart but their own shapes: the text command set, HART master frames
// and MODBUS RTU requests. Bytes that begin none of them are garbage and are skipped one at a time,
// so a cut or garbled frame never swallows the good frame behind it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class FrameKind { Text, Hart, Modbus, Garbage };

struct Frame {
    FrameKind kind = FrameKind::Garbage;
    std::string bytes;
};

// Text: "QQQ#"/"QQS#"/"TAVRIK#" up to the next "#" (printable characters only, no second head inside,
// 255 bytes at most), or a read meter command "QQS#CAMD0n:e<NN," followed by NN raw bytes.
// HART: one or more 0xFF preambles, a delimiter of a master, slave or burst frame, the address,
// command, byte count, data and a matching check byte. MODBUS: slave address 0 to 247, function 1 to
// 6, 15 or 16, its length and a matching CRC.
class LineFramer {
public:
    // Adds received bytes; returns every frame now complete, in line order, with runs of skipped
    // bytes as Garbage frames between them.
    std::vector<Frame> push(std::string_view bytes);

    // The line has gone quiet: a frame still incomplete will never be finished. Its bytes are read
    // again one position further on, so a good frame that followed a cut one is still found.
    std::vector<Frame> flush();

    bool pending() const { return !buffer_.empty(); }

private:
    std::vector<Frame> drain(bool lineQuiet);
    std::string buffer_;
};

} // namespace sim
