// Captures of a bus beside the traffic log formats: frames in a pcap file that Wireshark reads (link
// type 147, USER0, which Wireshark maps to its MODBUS RTU dissector with one setting), and the raw
// byte stream with its delivery times, which the bus framer can read again later.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/LineFile.h"

struct pcap;
struct pcap_dumper;

namespace traffic {

// The link type of the pcap files: DLT_USER0.
inline constexpr int kPcapLinkType = 147;

class PcapWriter {
public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates (or replaces) `path`. Returns an empty text, or why it failed (the writer stays closed).
    std::string open(const std::string& path);
    bool isOpen() const { return dumper_ != nullptr; }
    // One frame stamped with `epochUs` (microseconds since 1970), flushed at once so a capture cut
    // short by a kill keeps every frame before it. Returns an empty text, or why it failed.
    std::string write(std::span<const uint8_t> frame, int64_t epochUs);
    void close();

private:
    pcap* pcap_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    std::string path_;
};

// What a raw capture's first line records: when its time 0 was (microseconds since 1970) and the
// line's settings, so a replay shows the times and character timing of the capture.
struct RawCaptureHeader {
    int64_t startEpochUs = 0;
    uint32_t baud = 0;           // 0: not known
    std::string parity = "none"; // none, odd or even
};

// One delivery of the port: its bytes and when they came, in microseconds since the start.
struct RawChunk {
    int64_t timeUs = 0;
    std::vector<uint8_t> bytes;
};

// The raw capture file: a text file, one delivery a line, so it can be read and cut with a text
// editor: a comment, the header line "vx538-raw 1 start <us> baud <B> parity <P>", then lines of
// "<us since the start> <bytes as hex pairs>".
// The header lines and the line of one delivery, as the writer writes them.
std::string RawCaptureHeaderText(const RawCaptureHeader& header);
std::string RawCaptureLine(std::span<const uint8_t> bytes, int64_t timeUs);

class RawCaptureWriter {
public:
    // Creates (or replaces) `path` and writes the header. Returns an empty text, or why it failed.
    std::string open(const std::string& path, const RawCaptureHeader& header);
    bool isOpen() const { return file_.isOpen(); }
    // Appends one delivery, flushed at once. Returns an empty text, or why it failed (and closes).
    std::string write(std::span<const uint8_t> bytes, int64_t timeUs);

private:
    // Writes a text of whole lines; the path before why it failed.
    std::string writeLines(std::string_view lines);

    LineFile file_;
};

// Reads a raw capture delivery by delivery, so a long capture is never held whole. A file that is
// not one, a newer version than this reads, or a line that does not read (times going back, a byte
// that is not two hex digits) is refused with the line's number; nothing is guessed.
class RawCaptureReader {
public:
    RawCaptureReader() = default;
    ~RawCaptureReader();
    RawCaptureReader(const RawCaptureReader&) = delete;
    RawCaptureReader& operator=(const RawCaptureReader&) = delete;

    // Opens `path` and reads its header. Returns an empty text, or why it cannot be read.
    std::string open(const std::string& path);
    // The same on a stream the reader takes over (closes), named `name` in its messages.
    std::string open(std::FILE* stream, const std::string& name);
    const RawCaptureHeader& header() const { return header_; }
    // The next delivery; false at the end of the file or at a line that does not read (error()).
    bool next(RawChunk& chunk);
    const std::string& error() const { return error_; }

private:
    bool readLine(std::string& line);

    std::FILE* file_ = nullptr;
    std::string path_;
    RawCaptureHeader header_;
    std::string error_;
    std::size_t lineNumber_ = 0;
    int64_t lastTimeUs_ = 0;
    char* buffer_ = nullptr;
    std::size_t bufferSize_ = 0;
};

// The reader's reading of a capture's text held in memory: the deliveries up to the first error.
struct RawCapture {
    RawCaptureHeader header;
    std::vector<RawChunk> chunks;
    std::string error;
};
RawCapture ParseRawCapture(std::string_view text);

} // namespace traffic
