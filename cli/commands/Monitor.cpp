// vx538 monitor: a listen-only adapter on an RS485 bus (or a raw capture played again) framed by
// traffic/'s bus framer: a line (or a JSON object) per frame as it comes, with its time, bytes,
// direction, meaning and verdict, and per device a summary at the end. The port is opened read-only,
// so nothing can be transmitted whatever happens.
#include <cstdio>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/ModbusLayout.h"
#include "cli/Command.h"
#include "cli/Main.h"
#include "serial/PortUrl.h"
#include "tools/Bytes.h"
#include "tools/RegisterValues.h"
#include "traffic/BusListen.h"
#include "traffic/BusSummary.h"
#include "traffic/Capture.h"
#include "traffic/EventFormat.h"
#include "traffic/LineFile.h"
#include "traffic/Recorder.h"

namespace cli::commands {

namespace {

using traffic::BusFrame;
using traffic::BusKind;
using traffic::BusRole;


struct MonitorOptions {
    double seconds = 0; // --duration; 0: until Ctrl+C (a replay: to its end)
    std::string pcap;   // frames for Wireshark
    std::string raw;    // the byte stream with its times
    std::string replay; // a raw capture to frame again instead of a port

    // --duration in microseconds from the start; -1: none.
    int64_t endUs() const { return seconds > 0 ? static_cast<int64_t>(seconds * 1e6) : -1; }
};

// How a listen or replay that got going ended: Ctrl+C, --duration or the replay's end (Done), the
// port gone while listening (NoReply) or a replay line that does not read (BadFile), and why.
struct Monitored {
    int exit = code::Done;
    std::string error;
    traffic::BusSummary summary;
};

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
        (b[1] & tools::kModbusExceptionBit) != 0 || (b[1] != 3 && b[1] != 4 && b[1] != 23)) {
        return {};
    }
    const std::size_t data = std::min<std::size_t>(b[2], b.size() - 3);
    return tools::RegistersFromBytes(std::span(b).subspan(3, data));
}

// One frame for people: "14:03:07.123  request  01 03 00 02 00 10 E4 06  MODBUS request, ...  [good]",
// a reply with its reply time after its direction, noise with its byte count. `epochUs` is when the
// frame started, in microseconds since 1970.
std::string frameText(const BusFrame& frame, const traffic::Reading& reading, int64_t epochUs) {
    std::string line = traffic::TimeOfDayText(epochUs / 1000);
    const std::string direction(traffic::BusRoleText(frame.role));
    line += "  " + direction + std::string(8 - direction.size(), ' ');
    const std::string replyTime = frame.replyUs >= 0 ? milliseconds(frame.replyUs) : std::string();
    line += std::string(10 - std::min<std::size_t>(10, replyTime.size()), ' ') + replyTime;
    line += "  " + traffic::HexText(tools::asText(frame.bytes)) + "  " + reading.meaning;
    if (frame.role != BusRole::Noise) {
        line += "  [" + std::string(traffic::VerdictText(reading.verdict)) + "]";
    }
    return line;
}

// The same for scripts, with a MODBUS read reply's registers and each pair of them as a float in both
// word orders.
Json frameJson(const BusFrame& frame, const traffic::Reading& reading, int64_t epochUs) {
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
    object["bytes"] = traffic::HexText(tools::asText(frame.bytes));
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
        object["function"] = frame.bytes[1] & ~tools::kModbusExceptionBit;
        if ((frame.bytes[1] & tools::kModbusExceptionBit) != 0 && frame.bytes.size() >= 3) {
            object["exception"] = frame.bytes[2];
        }
    }
    if (const std::vector<uint16_t> registers = replyRegisters(frame); !registers.empty()) {
        object["registers"] = registers;
        for (const tools::WordOrder order :
             {tools::WordOrder::HighWordFirst, tools::WordOrder::LowWordFirst}) {
            Json& floats = object["floats"][std::string(tools::WordOrderName(order))] = Json::array();
            for (std::size_t at = 0; at + 1 < registers.size(); at += 2) {
                floats.push_back(
                    tools::FloatOf(std::array<uint16_t, 2>{registers[at], registers[at + 1]}, order));
            }
        }
    }
    return object;
}

// The summary for people: a table, one device a row.
std::string summaryText(const traffic::BusSummary& summary) {
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

Json summaryJson(const traffic::BusSummary& summary) {
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

// Where the monitor's output and capture files go, frame by frame.
class Sink {
public:
    Sink(const MonitorOptions& options, const Globals& globals, std::ostream& out, std::ostream& err,
         traffic::BusSummary& summary)
        : options_(options), globals_(globals), out_(out), err_(err), summary_(summary) {}

    // Opens the capture files; Failure(BadFile) when one cannot be made. `source` names the port (or
    // the replayed file) in the --log file.
    void open(const traffic::RawCaptureHeader& header, std::string source) {
        startEpochUs_ = header.startEpochUs;
        source_ = std::move(source);
        const auto check = [](const std::string& why) {
            if (!why.empty()) {
                throw Failure(code::BadFile, why);
            }
        };
        if (!globals_.log.empty()) {
            if (std::string why = log_.open(globals_.log, traffic::TextHeader()); !why.empty()) {
                check(globals_.log + ": " + why);
            }
        }
        if (!options_.pcap.empty()) {
            check(pcap_.open(options_.pcap));
        }
        if (!options_.raw.empty()) {
            check(raw_.open(options_.raw, header));
        }
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
            if (globals_.json) {
                out_
                    << frameJson(frame, reading, epochUs).dump(-1, ' ', false, Json::error_handler_t::replace)
                    << '\n';
            } else {
                out_ << frameText(frame, reading, epochUs) << '\n';
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
    const Globals& globals_;
    std::ostream& out_;
    std::ostream& err_;
    traffic::BusSummary& summary_;
    traffic::PcapWriter pcap_;
    traffic::RawCaptureWriter raw_;
    traffic::LineFile log_;
    std::string source_;
    int64_t startEpochUs_ = 0;
};

// Listens on the port until `stop`, --duration or the port goes away. Failure(PortUnusable) when it
// cannot be opened, Failure(BadFile) when a capture file cannot be made: nothing was heard then.
void listen(const MonitorOptions& options, const Globals& globals, const Environment& env, Sink& sink,
            Monitored& monitored) {
    const serial::TParity parity = ParityNamed(globals.parity).value_or(serial::TParity::None);
    traffic::BusListen listen(globals.ports.front(), globals.baud, parity);
    const serial::OpenOutcome opened = listen.open();
    if (opened.result != serial::OpenResult::Opened) {
        throw Failure(code::PortUnusable, OpenFailureMessage(listen.path(), opened));
    }
    sink.open({listen.startEpochUs(), globals.baud, globals.parity}, listen.path());
    std::ostream& err = env.err;
    err << "vx538: listening on " << listen.path();
    if (!listen.isNetwork()) {
        err << " (read-only) at " << globals.baud << " baud, parity " << globals.parity;
    } else if (serial::serverKeepsLineSettings(listen.path())) {
        err << " (receive only; raw TCP: the server's own line settings apply, frames timed for "
            << globals.baud << " baud)";
    } else {
        err << " (receive only: no line data is sent) at " << globals.baud << " baud, parity "
            << globals.parity;
    }
    err << "; Ctrl+C ends\n" << std::flush;
    const int64_t endUs = options.endUs();
    const traffic::BusListen::End end = listen.run(
        env.stop, endUs,
        [&](std::span<const uint8_t> bytes, int64_t timeUs) { sink.delivered(bytes, timeUs); },
        [&](std::vector<BusFrame>& frames) { sink.take(frames); });
    if (end == traffic::BusListen::End::Lost) {
        monitored.exit = code::NoReply; // lost during the run, as for every other command
        monitored.error =
            listen.path() + ": " +
            (listen.isNetwork() ? serial::lostLineWords(listen.path()) : "the port went away (unplugged?)");
    }
}

// Frames a raw capture again. Failure(BadFile) when it cannot be read or a capture file cannot be
// made: nothing was framed then.
void replay(const MonitorOptions& options, const serial::EventFd& stop, Sink& sink, Monitored& monitored) {
    traffic::RawCaptureReader reader;
    if (std::string why = reader.open(options.replay); !why.empty()) {
        throw Failure(code::BadFile, why);
    }
    const traffic::RawCaptureHeader& header = reader.header();
    sink.open(header, options.replay);
    traffic::BusFramer framer(traffic::BusLine::ForBaud(header.baud, header.parity != "none"));
    std::vector<BusFrame> frames;
    traffic::RawChunk chunk;
    const int64_t endUs = options.endUs();
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
        monitored.exit = code::BadFile;
        monitored.error = reader.error();
    }
}

int monitor(const MonitorOptions& options, const Globals& globals, const Environment& env) {
    if (options.replay.empty() && (globals.ports.size() != 1 || !globals.portsFrom.empty())) {
        throw Failure(code::Usage, "monitor listens on one port: give -p PORT once (or --replay FILE)");
    }
    if (!options.replay.empty() && (!globals.ports.empty() || !globals.portsFrom.empty())) {
        throw Failure(code::Usage, "monitor --replay reads a file, not a port: leave -p out");
    }
    Monitored monitored;
    Sink sink(options, globals, env.out, env.err, monitored.summary);
    if (options.replay.empty()) {
        listen(options, globals, env, sink, monitored);
    } else {
        replay(options, env.stop, sink, monitored);
    }
    monitored.summary.finish();
    if (globals.json) {
        env.out << JsonLine({{"summary", summaryJson(monitored.summary)}}) << "\n";
    } else {
        env.out << summaryText(monitored.summary);
    }
    env.out << std::flush;
    if (!monitored.error.empty()) {
        env.err << "vx538: " << monitored.error << "\n";
    }
    return monitored.exit;
}

} // namespace

Run Monitor(CLI::App& app) {
    app.description("listen to a bus read-only (-p PORT of a listen-only adapter, or rfc2217:// or "
                    "socket:// of a device server): every frame with its meaning, then a summary per device");
    const auto o = std::make_shared<MonitorOptions>();
    app.footer("A local port is opened read-only: nothing can be transmitted. On a network port\n"
               "(rfc2217://HOST:PORT, socket://HOST:PORT) no line data is ever sent: RFC 2217 carries\n"
               "--baud and --parity as Telnet control to the server; socket:// keeps the server's own\n"
               "settings. One line per frame (with --json one object, the summary last): time, direction,\n"
               "reply time, bytes, meaning and verdict. Ctrl+C or --duration ends it with the summary (exit\n"
               "status 0); 3 when the port cannot be opened, 4 when it goes away while listening (an\n"
               "adapter unplugged, a connection dropped), 8 when a file cannot be written or the replay\n"
               "does not read.\n");
    app.add_option("--duration", o->seconds, "stop after S seconds (default: at Ctrl+C)")
        ->type_name("S")
        ->check(CLI::PositiveNumber);
    app.add_option("--pcap", o->pcap,
                   "write the MODBUS frames to FILE for Wireshark (link type 147, USER0; see the README)")
        ->type_name("FILE");
    app.add_option("--raw", o->raw, "keep the byte stream with its times in FILE, for --replay")
        ->type_name("FILE");
    app.add_option("--replay", o->replay, "frame a --raw FILE again instead of listening on a port")
        ->type_name("FILE");
    return {
        .live = [o](const Globals& globals, const Environment& env) { return monitor(*o, globals, env); }};
}

} // namespace cli::commands
