// A bench multimeter on a serial line, speaking SCPI as such meters do, its leads in one of the
// converter's output loops: a loop check reads the output's current from it as a production line
// would. Plain C++: command bytes in, reply bytes out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Commands, one per line (LF, CR LF or CR; several in one line separated by ";"), headers in long or
// short form in any case, a leading ":" allowed:
//   *IDN?                                 the identity: "manufacturer,model,serial,firmware"
//   MEASure:CURRent[:DC]? [range[,res]]   a DC current reading in amperes: "+1.20034E-02"
//   READ?                                 the same reading
//   CONFigure:CURRent[:DC] [range[,res]]  accepted (the meter measures DC current only)
//   SYSTem:ERRor[:NEXT]?                  the oldest error: '-113,"Undefined header"', '+0,"No error"'
//   *RST, *CLS, *OPC?, SYSTem:REMote, SYSTem:LOCal
// Replies of one line's queries are joined by ";" and end with CR LF. A command it does not know, or
// a parameter it cannot take, answers nothing and puts an error in the queue (20 deep, the last
// replaced by -350 "Queue overflow" when full), as a meter does.
class BenchMeter {
public:
    // `identity` is the *IDN? reply; readings get a normal noise of `noiseAmps` (standard
    // deviation) from a generator seeded with `seed`.
    BenchMeter(std::string identity, uint32_t seed, double noiseAmps);

    // Bytes from the meter's serial line; returns the replies of the lines they complete.
    // `measureAmps` is the current through the meter's leads, asked once per reading.
    std::string receive(std::string_view bytes, const std::function<double()>& measureAmps);

    // A line longer than this is thrown away whole (error -223 "Too much data").
    static constexpr std::size_t kMaxLine = 1024;
    static constexpr std::size_t kErrorQueueDepth = 20;

private:
    struct Error {
        int code;
        const char* text;
    };
    // One command of a line; appends a query's reply to `replies`.
    void execute(std::string_view command, std::vector<std::string>& replies,
                 const std::function<double()>& measureAmps);
    void pushError(Error error);
    std::string reading(const std::function<double()>& measureAmps);

    std::string identity_;
    std::minstd_rand random_;
    std::normal_distribution<double> noise_;
    double noiseAmps_;
    std::string line_;
    bool discarding_ = false; // the rest of an overlong line
    std::deque<Error> errors_;
    uint64_t errorsPushed_ = 0;
};

} // namespace sim
