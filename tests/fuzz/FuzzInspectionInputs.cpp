// The inspection's readers of outside text: a bench meter's reply, a readings file, a change log and a
// report (with its renderers, which must take whatever the reader accepts).
#include <cmath>

#include "inspection/ChangeLog.h"
#include "inspection/Readings.h"
#include "inspection/Report.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);

    const inspection::MeterReading reading = inspection::ReadMeterReply(text);
    check(reading.ma.has_value() != !reading.problem.empty(), "meter: a reading and a problem, or neither");
    check(!reading.ma || std::isfinite(*reading.ma), "meter: a reading that is no number");
    check(inspection::MeterText(text).size() <= 120, "meter: its text too long");

    try {
        const inspection::Readings readings = inspection::ReadReadingsFile(text);
        check(readings.size() <= size, "readings: more than lines");
    } catch (const inspection::ReadingsError&) {
    }

    const inspection::ChangeLogText log = inspection::ReadChangeLog(text);
    for (const inspection::Change& change : log.changes) {
        // A change read back writes as a line that reads back as itself.
        const std::string line = inspection::ChangeLine(change);
        check(!line.empty() && line.back() == '\n', "change log: a line without its end");
        check(line.find('\n') == line.size() - 1, "change log: a line across lines");
        const auto again = inspection::ReadChangeLine(line);
        check(again.has_value() && *again == change, "change log: a line that does not read back");
    }

    try {
        const inspection::Json report = inspection::ReadReport(text);
        const std::string html = inspection::ReportHtml(report);
        check(html.find("<script") == std::string::npos, "report: a script in the page");
        (void)inspection::ReportMarkdown(report);
    } catch (const inspection::ReportError&) {
    }
    return 0;
}
