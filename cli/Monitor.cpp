// vx538 monitor: the listening (or replaying) loop, and the frames and summary as text and JSON.
#include "cli/Monitor.h"

#include <cstdio>
#include <vector>

#include "cli/Line.h"
#include "serial/PortUrl.h"
#include "tools/RegisterValues.h"
#include "traffic/BusListen.h"
#include "traffic/Capture.h"
#include "traffic/EventFormat.h"
#include "traffic/LineFile.h"
#include "traffic/Recorder.h"

namespace cli {

namespace {

using Json = nlohmann::ordered_json;
using traffic::BusFrame;
using traffic::BusKind;
using traffic::BusRole;

constexpr uint8_t kExceptionBit = 0x80;

std::string hexOf(const std::vector<uint8_t>& bytes) {
    return traffic::HexText({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::string milliseconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000);
    return text;
}

double millisecondsValue(int64_t us) {
    return static_cast<double>(us) / 1000;
}

// The registers of a MODBUS read reply (functions 3, 4 and 23), as far as its bytes hold them.
std::vector<uint16_t> replyRegisters(const BusFrame& frame) {
    const std::vector<uint8_t>& b = frame.bytes;
    if (frame.kind != BusKind::Modbus || frame.role != BusRole::Reply || b.size() < 5 ||
        (b[1] & kExceptionBit) != 0 || (b[1] != 3 && b[1] != 4 && b[1] != 23)) {
        return {};
    }
    const std::size_t data = std::min<std::size_t>(b[2], b.size() - 3);
    return tools::RegistersFromBytes(std::span(b).subspan(3, data));
}

Json floatsOf(const std::vector<uint16_t>& registers, tools::WordOrder order) {
    Json values = Json::array();
    for (std::size_t i = 0; i + 1 < registers.size(); i += 2) {
        const std::array<uint16_t, 2> pair = {registers[i], registers[i + 1]};
        values.push_back(tools::FloatOf(pair, order));
    }
    return values;
}

// Where the monitor's output and capture files go, frame by frame.
class Sink {
public:
    Sink(const MonitorOptions& options, std::ostream& out, std::ostream& err, traffic::BusSummary& summary)
        : options_(options), out_(out), err_(err), summary_(summary) {}

    // Opens the capture files; the reason one cannot be made, otherwise empty. `source` names the
    // port (or the replayed file) in the --log file.
    std::string open(const traffic::RawCaptureHeader& header, std::string source) {
        startEpochUs_ = header.startEpochUs;
        source_ = std::move(source);
        if (!options_.log.empty()) {
            if (std::string why = log_.open(options_.log, traffic::TextHeader()); !why.empty()) {
                return options_.log + ": " + why;
            }
        }
        if (!options_.pcap.empty()) {
            if (std::string why = pcap_.open(options_.pcap); !why.empty()) {
                return why;
            }
        }
        if (!options_.raw.empty()) {
            if (std::string why = raw_.open(options_.raw, header); !why.empty()) {
                return why;
            }
        }
        return {};
    }

    void delivered(std::span<const uint8_t> bytes, int64_t timeUs) {
        if (raw_.isOpen()) {
            report(raw_.write(bytes, timeUs));
        }
    }

    void take(std::vector<BusFrame>& frames) {
        for (const BusFrame& frame : frames) {
            const int64_t epochUs = startEpochUs_ + frame.startUs;
            const traffic::Reading reading = traffic::ReadBusFrame(frame);
            summary_.add(frame);
            // Wireshark reads the pcap file as MODBUS RTU: HART and text frames would only show there
            // as malformed MODBUS, so they stay in the monitor's own output.
            if (pcap_.isOpen() && frame.kind == BusKind::Modbus) {
                report(pcap_.write(frame.bytes, epochUs));
            }
            if (log_.isOpen()) {
                report(log_.writeLine(traffic::TextLine(traffic::BusEvent(frame, source_, epochUs / 1000))));
            }
            if (options_.json) {
                out_
                    << FrameJson(frame, reading, epochUs).dump(-1, ' ', false, Json::error_handler_t::replace)
                    << '\n';
            } else {
                out_ << FrameText(frame, reading, epochUs) << '\n';
            }
        }
        if (!frames.empty()) {
            out_.flush();
        }
        frames.clear();
    }

private:
    // A capture file that fails is closed and said so once; the monitor goes on without it.
    void report(const std::string& why) {
        if (!why.empty()) {
            err_ << "vx538: monitor: " << why << "; the capture stops here\n" << std::flush;
        }
    }

    const MonitorOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    traffic::BusSummary& summary_;
    traffic::PcapWriter pcap_;
    traffic::RawCaptureWriter raw_;
    traffic::LineFile log_;
    std::string source_;
    int64_t startEpochUs_ = 0;
};

void listen(const MonitorOptions& options, const serial::EventFd& stop, Sink& sink, MonitorOutcome& outcome,
            std::ostream& err) {
    const serial::TParity parity = ParityNamed(options.parity).value_or(serial::TParity::None);
    traffic::BusListen listen(options.port, options.baud, parity);
    const serial::OpenOutcome opened = listen.open();
    if (opened.result != serial::OpenResult::Opened) {
        outcome.end = MonitorOutcome::End::CannotOpen;
        outcome.error = OpenFailureMessage(listen.path(), opened);
        return;
    }
    if (std::string why = sink.open({listen.startEpochUs(), options.baud, options.parity}, listen.path());
        !why.empty()) {
        outcome.end = MonitorOutcome::End::CannotWrite;
        outcome.error = why;
        return;
    }
    err << "vx538: listening on " << listen.path();
    if (!listen.isNetwork()) {
        err << " (read-only) at " << options.baud << " baud, parity " << options.parity;
    } else if (serial::serverKeepsLineSettings(listen.path())) {
        err << " (receive only; raw TCP: the server's own line settings apply, frames timed for "
            << options.baud << " baud)";
    } else {
        err << " (receive only: no line data is sent) at " << options.baud << " baud, parity "
            << options.parity;
    }
    err << "; Ctrl+C ends\n" << std::flush;
    const int64_t endUs = options.seconds > 0 ? static_cast<int64_t>(options.seconds * 1e6) : -1;
    const traffic::BusListen::End end = listen.run(
        stop, endUs, [&](std::span<const uint8_t> bytes, int64_t timeUs) { sink.delivered(bytes, timeUs); },
        [&](std::vector<BusFrame>& frames) { sink.take(frames); });
    if (end == traffic::BusListen::End::Lost) {
        outcome.end = MonitorOutcome::End::PortLost;
        outcome.error =
            listen.path() + ": " +
            (listen.isNetwork() ? serial::lostLineWords(listen.path()) : "the port went away (unplugged?)");
    }
}

void replay(const MonitorOptions& options, const serial::EventFd& stop, Sink& sink, MonitorOutcome& outcome) {
    traffic::RawCaptureReader reader;
    if (std::string why = reader.open(options.replay); !why.empty()) {
        outcome.end = MonitorOutcome::End::CannotRead;
        outcome.error = why;
        return;
    }
    const traffic::RawCaptureHeader& header = reader.header();
    if (std::string why = sink.open(header, options.replay); !why.empty()) {
        outcome.end = MonitorOutcome::End::CannotWrite;
        outcome.error = why;
        return;
    }
    traffic::BusFramer framer(traffic::BusLine::ForBaud(header.baud, header.parity != "none"));
    std::vector<BusFrame> frames;
    traffic::RawChunk chunk;
    const int64_t endUs = options.seconds > 0 ? static_cast<int64_t>(options.seconds * 1e6) : -1;
    while (!stop.isSignalled() && reader.next(chunk)) {
        if (endUs >= 0 && chunk.timeUs > endUs) {
            break;
        }
        // The pause before this delivery ends what was held, as it did while listening.
        framer.idle(chunk.timeUs, frames);
        sink.delivered(chunk.bytes, chunk.timeUs);
        framer.push(chunk.bytes, chunk.timeUs, frames);
        sink.take(frames);
    }
    framer.finish(frames);
    sink.take(frames);
    if (!reader.error().empty()) {
        outcome.end = MonitorOutcome::End::BadReplay;
        outcome.error = reader.error();
    }
}

} // namespace

MonitorOutcome RunMonitor(const MonitorOptions& options, const serial::EventFd& stop, std::ostream& out,
                          std::ostream& err) {
    MonitorOutcome outcome;
    Sink sink(options, out, err, outcome.summary);
    if (options.replay.empty()) {
        listen(options, stop, sink, outcome, err);
    } else {
        replay(options, stop, sink, outcome);
    }
    outcome.summary.finish();
    return outcome;
}

std::string FrameText(const BusFrame& frame, const traffic::Reading& reading, int64_t epochUs) {
    std::string line = traffic::TimeOfDayText(epochUs / 1000);
    const std::string direction(traffic::BusRoleText(frame.role));
    line += "  " + direction + std::string(8 - direction.size(), ' ');
    const std::string replyTime = frame.replyUs >= 0 ? milliseconds(frame.replyUs) : std::string();
    line += std::string(10 - std::min<std::size_t>(10, replyTime.size()), ' ') + replyTime;
    line += "  " + hexOf(frame.bytes) + "  " + reading.meaning;
    if (frame.role != BusRole::Noise) {
        line += "  [" + std::string(traffic::VerdictText(reading.verdict)) + "]";
    }
    return line;
}

Json FrameJson(const BusFrame& frame, const traffic::Reading& reading, int64_t epochUs) {
    Json object;
    object["number"] = frame.number;
    object["time"] = traffic::DateTimeText(epochUs / 1000);
    object["epoch_us"] = epochUs;
    object["direction"] = traffic::BusRoleText(frame.role);
    if (frame.role != BusRole::Noise) {
        object["protocol"] = traffic::BusKindText(frame.kind);
        object["device"] = traffic::BusDevice(frame);
    }
    object["length"] = frame.bytes.size();
    object["bytes"] = hexOf(frame.bytes);
    object["meaning"] = reading.meaning;
    if (frame.role != BusRole::Noise) {
        object["verdict"] = traffic::VerdictText(reading.verdict);
    }
    if (frame.requestNumber > 0) {
        object["answers"] = frame.requestNumber;
        object["reply_ms"] = millisecondsValue(frame.replyUs);
    }
    if (frame.kind == BusKind::Modbus && frame.bytes.size() >= 2) {
        object["slave"] = frame.bytes[0];
        object["function"] = frame.bytes[1] & ~kExceptionBit;
        if ((frame.bytes[1] & kExceptionBit) != 0 && frame.bytes.size() >= 3) {
            object["exception"] = frame.bytes[2];
        }
    }
    if (const std::vector<uint16_t> registers = replyRegisters(frame); !registers.empty()) {
        object["registers"] = registers;
        object["floats"] = {{tools::WordOrderName(tools::WordOrder::HighWordFirst),
                             floatsOf(registers, tools::WordOrder::HighWordFirst)},
                            {tools::WordOrderName(tools::WordOrder::LowWordFirst),
                             floatsOf(registers, tools::WordOrder::LowWordFirst)}};
    }
    return object;
}

std::string SummaryText(const traffic::BusSummary& summary) {
    std::string text = "summary: " + std::to_string(summary.frames()) + " frames";
    if (summary.noiseRuns() > 0) {
        text += ", noise " + std::to_string(summary.noiseBytes()) + " bytes in " +
                std::to_string(summary.noiseRuns()) + (summary.noiseRuns() == 1 ? " run" : " runs");
    }
    text += '\n';
    const std::vector<traffic::BusDeviceCounts> devices = summary.devices();
    if (devices.empty()) {
        return text;
    }
    char row[256];
    std::snprintf(row, sizeof row, "%-22s %9s %8s %11s %11s %9s  %s\n", "device", "requests", "replies",
                  "exceptions", "CRC errors", "no reply", "reply time min / mean / max");
    text += row;
    for (const traffic::BusDeviceCounts& d : devices) {
        std::string times = "-";
        if (d.timedReplies > 0) {
            char t[96];
            std::snprintf(t, sizeof t, "%.1f / %.1f / %.1f ms", millisecondsValue(d.minReplyUs),
                          d.meanReplyUs() / 1000, millisecondsValue(d.maxReplyUs));
            times = t;
        }
        std::snprintf(row, sizeof row, "%-22s %9llu %8llu %11llu %11llu %9llu  %s\n", d.device.c_str(),
                      static_cast<unsigned long long>(d.requests), static_cast<unsigned long long>(d.replies),
                      static_cast<unsigned long long>(d.exceptions),
                      static_cast<unsigned long long>(d.crcErrors),
                      static_cast<unsigned long long>(d.withoutReply), times.c_str());
        text += row;
    }
    return text;
}

Json SummaryJson(const traffic::BusSummary& summary) {
    Json devices = Json::array();
    for (const traffic::BusDeviceCounts& d : summary.devices()) {
        Json device = {{"device", d.device},        {"requests", d.requests},
                       {"replies", d.replies},      {"exceptions", d.exceptions},
                       {"crc_errors", d.crcErrors}, {"without_reply", d.withoutReply}};
        if (d.timedReplies > 0) {
            device["reply_ms"] = {{"min", millisecondsValue(d.minReplyUs)},
                                  {"mean", d.meanReplyUs() / 1000},
                                  {"max", millisecondsValue(d.maxReplyUs)}};
        }
        devices.push_back(device);
    }
    return {{"frames", summary.frames()},
            {"noise_runs", summary.noiseRuns()},
            {"noise_bytes", summary.noiseBytes()},
            {"devices", devices}};
}

} // namespace cli
