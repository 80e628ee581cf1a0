// vx538 monitor: a listen-only adapter on an RS485 bus (or a raw capture played again) framed by
// traffic/'s bus framer: a line (or a JSON object) per frame as it comes, with its time, bytes,
// direction, meaning and verdict, and per device a summary at the end. The port is opened read-only,
// so nothing can be transmitted whatever happens.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "serial/PosixPort.h"
#include "traffic/BusFramer.h"
#include "traffic/BusSummary.h"

namespace cli {

struct MonitorOptions {
    std::string port; // as typed ("ttyUSB1", "/dev/ttyUSB1"); empty with a replay
    uint32_t baud = 9600;
    std::string parity = "none";
    double seconds = 0; // --duration; 0: until Ctrl+C (a replay: to its end)
    bool json = false;
    std::string pcap;   // frames for Wireshark
    std::string raw;    // the byte stream with its times
    std::string replay; // a raw capture to frame again instead of a port
    std::string log;    // every frame in the window's traffic log format
};

struct MonitorOutcome {
    enum class End {
        Done,        // Ctrl+C, --duration or the replay's end
        CannotOpen,  // the port cannot be opened: nothing was heard
        CannotWrite, // a capture or log file cannot be made: nothing was heard
        CannotRead,  // the replay cannot be read or is no raw capture: nothing was framed
        PortLost,    // the port went away while listening
        BadReplay,   // the replay is no raw capture, or a line of it does not read
    };
    End end = End::Done;
    std::string error; // why, for every end but Done
    traffic::BusSummary summary;
};

// Listens (or replays) until `stop` is signalled, the duration has passed or the replay ends; each
// frame goes to `out` as it is framed (and to the capture files), diagnostics to `err`.
MonitorOutcome RunMonitor(const MonitorOptions& options, const serial::EventFd& stop, std::ostream& out,
                          std::ostream& err);

// One frame for people: "14:03:07.123  request  01 03 00 02 00 10 E4 06  MODBUS request, ...  [good]",
// a reply with its reply time after its direction, noise with its byte count. `epochUs` is when the
// frame started, in microseconds since 1970.
std::string FrameText(const traffic::BusFrame& frame, const traffic::Reading& reading, int64_t epochUs);
// The same for scripts, with a MODBUS read reply's registers and each pair of them as a float in both
// word orders.
nlohmann::ordered_json FrameJson(const traffic::BusFrame& frame, const traffic::Reading& reading,
                                 int64_t epochUs);

// The summary for people: a table, one device a row.
std::string SummaryText(const traffic::BusSummary& summary);
nlohmann::ordered_json SummaryJson(const traffic::BusSummary& summary);

} // namespace cli
