// The simulated bench meter's command reader over any bytes. The first byte seeds where the delivery
// cuts the rest. Replies are whole lines of printable characters ending in CR LF; they do not depend
// on where the bytes were cut; the error queue never holds more than a meter's twenty.
#include <string>
#include <string_view>

#include "sim/BenchMeter.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::string replies(std::string_view stream, uint8_t seed) {
    sim::BenchMeter meter("VX538-SIM,SIMULATED DMM,0,fuzz", 1, 0.0);
    const auto amps = [] { return 0.0120034; };
    std::string out;
    uint32_t state = seed;
    for (std::size_t at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        const std::size_t n =
            seed == 0 ? stream.size() : std::min<std::size_t>(1 + (state >> 16) % 29, stream.size() - at);
        out += meter.receive(stream.substr(at, n), amps);
        at += n;
    }
    // End whatever line is open, then read the whole error queue.
    out += meter.receive("\n", amps);
    std::size_t errors = 0;
    for (int i = 0; i < 25; ++i) {
        const std::string error = meter.receive("SYST:ERR?\n", amps);
        fuzzcheck::check(error.ends_with("\"\r\n"), "meter: an error reply that is not one line");
        if (!error.starts_with("+0,")) {
            ++errors;
        }
    }
    fuzzcheck::check(errors <= sim::BenchMeter::kErrorQueueDepth, "meter: more errors than the queue holds");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view stream = fuzzcheck::asText(data + 1, size - 1);
    const std::string whole = replies(stream, 0);
    fuzzcheck::check(whole.empty() || whole.ends_with("\r\n"), "meter: a reply without its line end");
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const auto c = static_cast<unsigned char>(whole[i]);
        const bool lineEnd = (c == '\r' && i + 1 < whole.size() && whole[i + 1] == '\n') ||
                             (c == '\n' && i > 0 && whole[i - 1] == '\r');
        fuzzcheck::check(lineEnd || (c >= 0x20 && c < 0x7F), "meter: a reply with a byte no meter sends");
    }
    fuzzcheck::check(replies(stream, data[0] == 0 ? 1 : data[0]) == whole,
                     "meter: the replies depend on where the bytes were cut");
    return 0;
}
