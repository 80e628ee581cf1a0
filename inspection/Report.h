// The inspection report: data first, one JSON document that names things as the configuration file
// does, rendered for people as a self-contained HTML page or as Markdown (the window prints the HTML
// to PDF). Text in, text out; the callers do the file I/O.
//
// Format "vx538-inspection", version 1:
//   {
//     "format": "vx538-inspection", "version": 1, "written_by": "vx538 1.0",
//     "stage": "complete" | "as found",   an inspection paused after as found says so
//     "inspector": "A. Smith", "port": "/dev/ttyUSB0", "started": "...Z", "finished": "...Z",
//     "converter": { "device": "QQQ#QV:VX538-T-B#", "version": "VX538-T-B", "slave_address": "1" },
//     "instrument": { "read": true, "manufacturer": "0x26", "device_type": "0x0C", "device_id": "0A 1B 2C",
//                     "polling_address": 0, "note": "" },
//     "as_found": { "configuration": <the configuration file's object>, "check": {...}, "loop_check": {...}
//     }, "as_left":  { "configuration": {...}, "check": {...}, "loop_check": {...} },    each part optional
//     "differences": [ { "parameter": "ao3.20ma", "as_found": "100", "as_left": "99.5" } ],
//     "changes": [ <change log lines of the inspection> ],
//     "verdict": { "overall": "pass" | "fail" | "incomplete", "parts": { "converter": "pass", ... } }
//   }
// A check:      { "verdict", "summary", "tolerance", "rows": [ { "variable", "register", "source",
//                 "hart", "modbus", "unit", "verdict", "note" } ], "notes": [...] }
// A loop check: { "verdict", "summary", "tolerance", "points_ma": [...], "readings": "meter" | "file" |
//                 "typed", "meter": "<*IDN? reply>", "outputs": [ { "output", "name", "variable",
//                 "at_4ma", "at_20ma", "verdict", "note", "points": [ { "point_ma", "test_value",
//                 "expected_ma", "reading_ma", "error_percent", "verdict", "note" } ] } ], "notes": [...] }
// Verdicts are "pass", "fail" or "not checked".
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace inspection {

using Json = nlohmann::ordered_json;

inline constexpr std::string_view kReportFormat = "vx538-inspection";
inline constexpr int kReportVersion = 1;

class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An empty report of this program: format, version, writer.
Json NewReport(std::string writtenBy);

// Reads a report and checks what the renderers and a later "as left" rely on: JSON, the format, a
// version not newer than this program's, its parts of the right kinds. ReportError says what is wrong.
Json ReadReport(std::string_view text);

// The parts' verdicts (the latest of as left and as found for the check and the loop check) and the
// overall one, written into "verdict": fail when a part failed, incomplete when one could not be done.
void Conclude(Json& report);

// The parameters whose value differs between two configuration objects' "parameters", in the first
// one's order (then those only the second has): [ { "parameter", "as_found", "as_left" } ].
Json Differences(const Json& found, const Json& left);

// A self-contained HTML page (no script, no external file) and Markdown. Any report ReadReport takes
// renders; every text from it is escaped.
std::string ReportHtml(const Json& report);
std::string ReportMarkdown(const Json& report);

} // namespace inspection
