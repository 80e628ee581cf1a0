// The pcap and raw capture files of the bus monitor.
#include "traffic/Capture.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <pcap/pcap.h>

#include "tools/Conversions.h"
#include "traffic/Meanings.h"

namespace traffic {

namespace {

constexpr int kRawVersion = 1;
constexpr std::string_view kRawMagic = "vx538-raw";
constexpr std::string_view kRawComment = "# vx538 monitor raw capture: one delivery of the port a line, "
                                         "microseconds since the start, then its bytes";
// The longest frame a pcap record holds; a MODBUS RTU frame is at most 256 bytes.
constexpr int kSnapLength = 65535;

// The words of a line, split at blanks.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t at = line.find_first_not_of(" \t"); at != line.npos;
         at = line.find_first_not_of(" \t", at)) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

// The whole text as a number (a byte: two hex digits in either case).
template <typename Number> bool readNumber(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// The latest time a capture may name, the end of the year 9999 in microseconds since 1970: beyond it
// a time no longer reads as a date.
constexpr int64_t kLatestEpochUs = 253'402'300'799'999'999;

// A word of the file as a message shows it: non-printable bytes escaped, at most 80 characters of it.
std::string shown(std::string_view word) {
    constexpr std::size_t kShown = 80;
    std::string text;
    std::size_t used = 0;
    for (; used < word.size(); ++used) {
        const std::string next = detail::Quoted(word.substr(used, 1));
        if (text.size() + next.size() > kShown) {
            break;
        }
        text += next;
    }
    if (used < word.size()) {
        text += "... (" + std::to_string(word.size()) + " bytes)";
    }
    return "\"" + text + "\"";
}

// "vx538-raw 1 start <us> baud <B> parity <P>"; an empty text when it reads.
std::string parseHeader(std::string_view line, RawCaptureHeader& header) {
    const std::vector<std::string_view> w = words(line);
    if (w.empty() || w[0] != kRawMagic) {
        return "not a vx538 raw capture (it starts with \"" + std::string(kRawMagic) + " 1\")";
    }
    int version = 0;
    if (w.size() < 2 || !readNumber(w[1], version) || version < 1) {
        return "no version number after \"" + std::string(kRawMagic) + "\"";
    }
    if (version > kRawVersion) {
        return "a raw capture of version " + std::to_string(version) + ", newer than this program reads (" +
               std::to_string(kRawVersion) + ")";
    }
    if (w.size() != 8 || w[2] != "start" || w[4] != "baud" || w[6] != "parity" ||
        !readNumber(w[3], header.startEpochUs) || !readNumber(w[5], header.baud) ||
        (w[7] != "none" && w[7] != "odd" && w[7] != "even")) {
        return "the header does not read as \"vx538-raw 1 start <microseconds> baud <B> parity "
               "none|odd|even\"";
    }
    if (header.startEpochUs < 0 || header.startEpochUs > kLatestEpochUs) {
        return "the start time " + shown(w[3]) +
               " is out of range (microseconds since 1970, before the year 10000)";
    }
    header.parity = std::string(w[7]);
    return {};
}

// "<us> <hex> <hex>..."; an empty text when it reads.
std::string parseChunk(std::string_view line, const RawCaptureHeader& header, int64_t lastTimeUs,
                       RawChunk& chunk) {
    const std::vector<std::string_view> w = words(line);
    if (!readNumber(w[0], chunk.timeUs) || chunk.timeUs < 0) {
        return shown(w[0]) + " is no time in microseconds";
    }
    if (chunk.timeUs > kLatestEpochUs - header.startEpochUs) {
        return "the time " + shown(w[0]) + " is out of range (after the year 9999)";
    }
    if (chunk.timeUs < lastTimeUs) {
        return "the time " + std::to_string(chunk.timeUs) + " goes back before " + std::to_string(lastTimeUs);
    }
    if (w.size() < 2) {
        return "a delivery without bytes";
    }
    chunk.bytes.resize(w.size() - 1);
    for (std::size_t i = 1; i < w.size(); ++i) {
        if (w[i].size() != 2 || !readNumber(w[i], chunk.bytes[i - 1], 16)) {
            return shown(w[i]) + " is no byte in two hex digits";
        }
    }
    return {};
}

} // namespace

// ---- pcap ----

PcapWriter::~PcapWriter() {
    close();
}

std::string PcapWriter::open(const std::string& path) {
    close();
    std::FILE* file = nullptr;
    if (std::string why = OpenForWriting(path, true, file); !why.empty()) {
        return path + ": " + why;
    }
    pcap_ = pcap_open_dead(kPcapLinkType, kSnapLength);
    if (!pcap_) {
        std::fclose(file);
        return path + ": libpcap cannot make a capture of link type " + std::to_string(kPcapLinkType);
    }
    dumper_ = pcap_dump_fopen(pcap_, file);
    if (!dumper_) {
        const std::string why = path + ": " + pcap_geterr(pcap_);
        std::fclose(file);
        close();
        return why;
    }
    path_ = path;
    // The file header goes out now, so a file that takes nothing is known before the first frame.
    return flush();
}

std::string PcapWriter::write(std::span<const uint8_t> frame, int64_t epochUs) {
    if (!dumper_) {
        return {};
    }
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(epochUs / 1'000'000);
    header.ts.tv_usec = static_cast<suseconds_t>(epochUs % 1'000'000);
    header.caplen = static_cast<bpf_u_int32>(std::min<std::size_t>(frame.size(), kSnapLength));
    header.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame.data());
    return flush();
}

std::string PcapWriter::flush() {
    errno = 0;
    if (pcap_dump_flush(dumper_) == 0) {
        return {};
    }
    const std::string why = path_ + ": " + (errno != 0 ? std::strerror(errno) : "the write failed");
    close();
    return why;
}

void PcapWriter::close() {
    if (dumper_) {
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }
    if (pcap_) {
        pcap_close(pcap_);
        pcap_ = nullptr;
    }
}

// ---- raw capture ----

std::string RawCaptureHeaderText(const RawCaptureHeader& header) {
    return std::string(kRawComment) + '\n' + std::string(kRawMagic) + ' ' + std::to_string(kRawVersion) +
           " start " + std::to_string(header.startEpochUs) + " baud " + std::to_string(header.baud) +
           " parity " + header.parity + '\n';
}

std::string RawCaptureLine(std::span<const uint8_t> bytes, int64_t timeUs) {
    std::string line = std::to_string(timeUs) + ' ' + tools::BytesToHexText(bytes);
    line.back() = '\n'; // in place of the blank after the last byte
    return line;
}

std::string RawCaptureWriter::open(const std::string& path, const RawCaptureHeader& header) {
    if (const std::string why = file_.open(path, {}, true); !why.empty()) {
        return path + ": " + why;
    }
    return writeLines(RawCaptureHeaderText(header));
}

std::string RawCaptureWriter::write(std::span<const uint8_t> bytes, int64_t timeUs) {
    return bytes.empty() ? std::string() : writeLines(RawCaptureLine(bytes, timeUs));
}

std::string RawCaptureWriter::writeLines(std::string_view lines) {
    const std::string why = file_.writeLine(lines.substr(0, lines.size() - 1)); // the line file ends it
    return why.empty() ? why : file_.path() + ": " + why;
}

RawCaptureParser::Line RawCaptureParser::take(std::string_view line, RawChunk& chunk) {
    if (!error_.empty()) {
        return Line::Failed;
    }
    ++lineNumber_;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    // Blank lines and comments are skipped.
    if (const std::vector<std::string_view> w = words(line); w.empty() || w[0].starts_with('#')) {
        return Line::Skipped;
    }
    if (!hasHeader_) {
        if (const std::string why = parseHeader(line, header_); !why.empty()) {
            fail(why);
            return Line::Failed;
        }
        hasHeader_ = true;
        return Line::Header;
    }
    if (const std::string why = parseChunk(line, header_, lastTimeUs_, chunk); !why.empty()) {
        fail(why);
        return Line::Failed;
    }
    lastTimeUs_ = chunk.timeUs;
    return Line::Chunk;
}

void RawCaptureParser::end() {
    if (error_.empty() && !hasHeader_) {
        error_ = name_ + ": not a vx538 raw capture (no header line)";
    }
}

void RawCaptureParser::tooLong() {
    if (error_.empty()) {
        ++lineNumber_;
        fail("longer than " + std::to_string(kMaxRawCaptureLine / (1024 * 1024)) +
             " MB; a raw capture's lines are a few kilobytes");
    }
}

void RawCaptureParser::fail(const std::string& why) {
    error_ = name_ + ": line " + std::to_string(lineNumber_) + ": " + why;
}

RawCapture ParseRawCapture(std::string_view text) {
    RawCapture capture;
    RawCaptureParser parser("text");
    RawChunk chunk;
    bool failed = false;
    while (!text.empty() && !failed) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (end > kMaxRawCaptureLine) {
            parser.tooLong();
            break;
        }
        const RawCaptureParser::Line read = parser.take(text.substr(0, end), chunk);
        failed = read == RawCaptureParser::Line::Failed;
        if (read == RawCaptureParser::Line::Chunk) {
            capture.chunks.push_back(chunk);
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    parser.end();
    capture.header = parser.header();
    capture.error = parser.error();
    return capture;
}

} // namespace traffic
