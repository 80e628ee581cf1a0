// Where a loop check's readings come from besides a person: a bench multimeter's reply to
// MEAS:CURR:DC? (SCPI, amperes) and a file of readings taken earlier (CSV: output, point, mA).
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace inspection {

// What the meter is asked for one reading, and for its identity.
inline constexpr std::string_view kMeterReadCommand = "MEAS:CURR:DC?\n";
inline constexpr std::string_view kMeterIdentityCommand = "*IDN?\n";

// A meter's reply read as one current: `ma` set, or `problem` saying why the reply is none.
struct MeterReading {
    std::optional<double> ma;
    std::string problem;
};
// The reply to MEAS:CURR:DC?: one number in SCPI's numeric forms ("+1.22003E-02", "0.0120",
// "12.2E-3"), in amperes, blanks and the line end around it. SCPI's overload (9.9E37) and
// not-a-number (9.91E37) are said as such; anything else is no reading.
MeterReading ReadMeterReply(std::string_view reply);
// A reply of the meter as printable text without its line end, at most 120 characters ("*IDN?").
std::string MeterText(std::string_view reply);

class ReadingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Readings by output (0..7) and point (mA, to the microampere).
class Readings {
public:
    void add(int output, double pointMa, double readingMa);
    std::optional<double> find(int output, double pointMa) const;
    std::size_t size() const { return readings_.size(); }

private:
    static std::pair<int, long long> key(int output, double pointMa);
    std::map<std::pair<int, long long>, double> readings_;
};

// A readings file: lines "output,point,mA" (output 0 to 7, or DOUTA0 to DOUTA7), optionally a header
// line of words first, blank lines and lines starting with "#" skipped, fields separated by commas,
// semicolons or tabs. ReadingsError names the line and what is wrong; a point given twice for one
// output is wrong.
Readings ReadReadingsFile(std::string_view text);

} // namespace inspection
