// vx538 monitor: listen to an RS485 bus through a listen-only adapter (or frame a raw capture again)
// and print every frame as it comes, then a summary per device. See cli/Monitor.h.
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Main.h"
#include "cli/Monitor.h"

namespace cli {

namespace {

class Monitor : public Command {
public:
    Monitor()
        : Command("monitor",
                  "listen to a bus read-only (-p PORT of a listen-only adapter, or rfc2217:// or "
                  "socket:// of a device server): every frame with its meaning, then a summary per device") {}
    void define(CLI::App& app) override {
        app.footer(
            "A local port is opened read-only: nothing can be transmitted. On a network port\n"
            "(rfc2217://HOST:PORT, socket://HOST:PORT) no line data is ever sent: RFC 2217 carries\n"
            "--baud and --parity as Telnet control to the server; socket:// keeps the server's own\n"
            "settings. One line per frame (with --json one object, the summary last): time, direction,\n"
            "reply time, bytes, meaning and verdict. Ctrl+C or --duration ends it with the summary (exit\n"
            "status 0); 3 when the port cannot be opened, 4 when it goes away while listening (an\n"
            "adapter unplugged, a connection dropped), 8 when a file cannot be written or the replay\n"
            "does not read.\n");
        app.add_option("--duration", options_.seconds, "stop after S seconds (default: at Ctrl+C)")
            ->type_name("S")
            ->check(CLI::PositiveNumber);
        app.add_option("--pcap", options_.pcap,
                       "write the MODBUS frames to FILE for Wireshark (link type 147, USER0; see the README)")
            ->type_name("FILE");
        app.add_option("--raw", options_.raw, "keep the byte stream with its times in FILE, for --replay")
            ->type_name("FILE");
        app.add_option("--replay", options_.replay, "frame a --raw FILE again instead of listening on a port")
            ->type_name("FILE");
    }
    bool usesPorts() const override { return false; }

    std::optional<int> runLive(const Globals& globals, const Environment& env) const override {
        MonitorOptions options = options_;
        options.baud = globals.baud;
        options.parity = globals.parity;
        options.json = globals.json;
        options.log = globals.log;
        if (options.replay.empty()) {
            if (globals.ports.size() != 1 || !globals.portsFrom.empty()) {
                env.err << "vx538: monitor listens on one port: give -p PORT once (or --replay FILE)\n";
                return code::Usage;
            }
            options.port = globals.ports.front();
        } else if (!globals.ports.empty() || !globals.portsFrom.empty()) {
            env.err << "vx538: monitor --replay reads a file, not a port: leave -p out\n";
            return code::Usage;
        }
        using End = MonitorOutcome::End;
        const MonitorOutcome outcome = RunMonitor(options, env.stop, env.out, env.err);
        if (outcome.end == End::CannotOpen || outcome.end == End::CannotWrite ||
            outcome.end == End::CannotRead) {
            env.err << "vx538: " << outcome.error << "\n";
            return outcome.end == End::CannotOpen ? code::PortUnusable : code::BadFile;
        }
        if (options.json) {
            env.out << Utf8Json({{"summary", SummaryJson(outcome.summary)}})
                           .dump(-1, ' ', false, Json::error_handler_t::replace)
                    << "\n";
        } else {
            env.out << SummaryText(outcome.summary);
        }
        env.out << std::flush;
        if (!outcome.error.empty()) {
            env.err << "vx538: " << outcome.error << "\n";
        }
        switch (outcome.end) {
        case End::PortLost:
            return code::NoReply; // lost during the run, as for every other command
        case End::BadReplay:
            return code::BadFile;
        default:
            return code::Done;
        }
    }

private:
    MonitorOptions options_;
};

} // namespace

std::unique_ptr<Command> MakeMonitor() {
    return std::make_unique<Monitor>();
}

} // namespace cli
