// Captures of a bus beside the traffic log formats: frames in a pcap file that Wireshark reads (link
// type 147, USER0, which Wireshark maps to its MODBUS RTU dissector with one setting), and the raw
// byte stream with its delivery times, which the bus framer can read again later.
#pragma once

#include <cstdint>
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

    // Creates (or replaces) `path` and writes the file header; a FIFO without a reader is refused,
    // never waited for. Returns an empty text, or the path and why it failed (the writer stays closed).
    std::string open(const std::string& path);
    bool isOpen() const { return dumper_ != nullptr; }
    // One frame stamped with `epochUs` (microseconds since 1970), flushed at once so a capture cut
    // short by a kill keeps every frame before it. Returns an empty text, or the path and why it
    // failed (the writer is closed then).
    std::string write(std::span<const uint8_t> frame, int64_t epochUs);
    void close();

private:
    std::string flush();

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

// The longest line a raw capture may have: a delivery of a few kilobytes takes three characters a
// byte. A longer line is refused by its number, so a file without line breaks is never held whole.
inline constexpr std::size_t kMaxRawCaptureLine = 1024 * 1024;

// Reads a raw capture line by line, so a long capture is never held whole: whoever reads the file or
// stream hands it each line. A file that is not one, a newer version than this reads, or a line that
// does not read (times going back or out of range, a byte that is not two hex digits) is refused with
// the line's number; nothing is guessed. Plain C++ without I/O.
class RawCaptureParser {
public:
    // `name` is what messages call the capture: its path, "standard input".
    explicit RawCaptureParser(std::string name) : name_(std::move(name)) {}

    enum class Line : uint8_t {
        Skipped, // a blank line or a comment
        Header,  // the header was read: header()
        Chunk,   // a delivery was read into the chunk given
        Failed,  // the line does not read: error(); every later line fails alike
    };
    // The next line, without its line break.
    Line take(std::string_view line, RawChunk& chunk);
    // The capture ended: an error when the header never came.
    void end();
    // The next line is longer than kMaxRawCaptureLine: refused by its number.
    void tooLong();

    bool hasHeader() const { return hasHeader_; }
    const RawCaptureHeader& header() const { return header_; }
    const std::string& error() const { return error_; }

private:
    // "<name>: line <n>: <why>" for the line read last.
    void fail(const std::string& why);

    std::string name_;
    RawCaptureHeader header_;
    bool hasHeader_ = false;
    std::string error_;
    std::size_t lineNumber_ = 0;
    int64_t lastTimeUs_ = 0;
};

// The reader's reading of a capture's text held in memory: the deliveries up to the first error.
struct RawCapture {
    RawCaptureHeader header;
    std::vector<RawChunk> chunks;
    std::string error;
};
RawCapture ParseRawCapture(std::string_view text);

} // namespace traffic
