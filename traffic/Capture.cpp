// The pcap and raw capture files of the bus monitor.
#include "traffic/Capture.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <pcap/pcap.h>

namespace traffic {

namespace {

constexpr int kRawVersion = 1;
constexpr std::string_view kRawMagic = "vx538-raw";
constexpr std::string_view kRawComment = "# vx538 monitor raw capture: one delivery of the port a line, "
                                         "microseconds since the start, then its bytes";
// The longest frame a pcap record holds; a MODBUS RTU frame is at most 256 bytes.
constexpr int kSnapLength = 65535;

std::string systemError(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

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

std::string atLine(std::size_t number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

bool skipped(std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    return w.empty() || w[0].starts_with('#');
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
    header.parity = std::string(w[7]);
    return {};
}

// "<us> <hex> <hex>..."; an empty text when it reads.
std::string parseChunk(std::string_view line, int64_t lastTimeUs, RawChunk& chunk) {
    const std::vector<std::string_view> w = words(line);
    if (!readNumber(w[0], chunk.timeUs) || chunk.timeUs < 0) {
        return "\"" + std::string(w[0]) + "\" is no time in microseconds";
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
            return "\"" + std::string(w[i]) + "\" is no byte in two hex digits";
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
    pcap_ = pcap_open_dead(kPcapLinkType, kSnapLength);
    if (!pcap_) {
        return path + ": libpcap cannot make a capture of link type " + std::to_string(kPcapLinkType);
    }
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (!dumper_) {
        const std::string why = pcap_geterr(pcap_);
        close();
        return why;
    }
    path_ = path;
    return {};
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
    if (pcap_dump_flush(dumper_) != 0) {
        const std::string why = path_ + ": writing the capture failed";
        close();
        return why;
    }
    return {};
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
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line = std::to_string(timeUs);
    line.reserve(line.size() + 3 * bytes.size() + 1);
    for (uint8_t b : bytes) {
        line += ' ';
        line += kDigits[b >> 4];
        line += kDigits[b & 0x0F];
    }
    line += '\n';
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

RawCaptureReader::~RawCaptureReader() {
    if (file_) {
        std::fclose(file_);
    }
    std::free(buffer_);
}

bool RawCaptureReader::readLine(std::string& line) {
    const ssize_t n = ::getline(&buffer_, &bufferSize_, file_);
    if (n < 0) {
        if (std::ferror(file_)) {
            error_ = systemError(path_);
        }
        return false;
    }
    ++lineNumber_;
    line.assign(buffer_, static_cast<std::size_t>(n));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return true;
}

std::string RawCaptureReader::open(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        return systemError(path);
    }
    return open(file, path);
}

std::string RawCaptureReader::open(std::FILE* file, const std::string& name) {
    if (file_) {
        std::fclose(file_);
    }
    file_ = file;
    path_ = name;
    std::string line;
    while (readLine(line)) {
        if (!skipped(line)) {
            const std::string why = parseHeader(line, header_);
            return why.empty() ? why : name + ": " + atLine(lineNumber_, why);
        }
    }
    return error_.empty() ? name + ": not a vx538 raw capture (no header line)" : error_;
}

bool RawCaptureReader::next(RawChunk& chunk) {
    std::string line;
    while (error_.empty() && readLine(line)) {
        if (skipped(line)) {
            continue;
        }
        if (const std::string why = parseChunk(line, lastTimeUs_, chunk); !why.empty()) {
            error_ = path_ + ": " + atLine(lineNumber_, why);
            return false;
        }
        lastTimeUs_ = chunk.timeUs;
        return true;
    }
    return false;
}

RawCapture ParseRawCapture(std::string_view text) {
    RawCapture capture;
    // The reader works on a stream; an empty text is a stream without lines.
    static char empty[1] = {'\n'};
    std::FILE* stream =
        text.empty() ? fmemopen(empty, 1, "r") : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (!stream) {
        capture.error = std::string("text: ") + std::strerror(errno);
        return capture;
    }
    RawCaptureReader reader;
    capture.error = reader.open(stream, "text");
    capture.header = reader.header();
    RawChunk chunk;
    while (capture.error.empty() && reader.next(chunk)) {
        capture.chunks.push_back(chunk);
    }
    if (capture.error.empty()) {
        capture.error = reader.error();
    }
    return capture;
}

} // namespace traffic
