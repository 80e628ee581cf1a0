// The bench meter's SCPI: what each line gets back, the error queue a meter keeps, and its noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "sim/BenchMeter.h"

namespace {

const std::string kIdentity = "VX538-SIM,SIMULATED DMM,0,test";

// 12.0034 mA through the leads, no noise.
std::string ask(sim::BenchMeter& meter, std::string_view bytes) {
    return meter.receive(bytes, [] { return 0.0120034; });
}

} // namespace

TEST(BenchMeter, EachLineGetsWhatABenchMeterAnswers) {
    const struct {
        const char* name;
        std::vector<std::string> lines; // sent in order; the replies of the last are checked
        std::string reply;
    } cases[] = {
        {"identity", {"*IDN?\n"}, kIdentity + "\r\n"},
        {"a DC current reading in amperes", {"MEAS:CURR:DC?\n"}, "+1.20034E-02\r\n"},
        {"long forms, any case, a leading colon, CR LF", {":measure:Current:dc?\r\n"}, "+1.20034E-02\r\n"},
        {"DC is the default", {"MEAS:CURR?\n"}, "+1.20034E-02\r\n"},
        {"range and resolution taken", {"MEAS:CURR:DC? 0.1,MIN\n"}, "+1.20034E-02\r\n"},
        {"READ? after CONF", {"CONF:CURR:DC AUTO\n", "READ?\n"}, "+1.20034E-02\r\n"},
        {"two queries in one line", {"*IDN?;MEAS:CURR:DC?\n"}, kIdentity + ";+1.20034E-02\r\n"},
        {"commands answer nothing", {"*RST;*CLS;SYST:REM\n"}, ""},
        {"an empty error queue", {"SYST:ERR?\n"}, "+0,\"No error\"\r\n"},
        {"an unknown header", {"MEAS:VOLT:DC?\n", "SYST:ERR?\n"}, "-113,\"Undefined header\"\r\n"},
        {"a query sent as a command", {"MEAS:CURR:DC\n", "SYST:ERR?\n"}, "-113,\"Undefined header\"\r\n"},
        {"a parameter nobody takes", {"*IDN? 1\n", "SYST:ERR:NEXT?\n"}, "-108,\"Parameter not allowed\"\r\n"},
        {"a range that is none",
         {"MEAS:CURR:DC? lots\n", "SYST:ERR?\n"},
         "-224,\"Illegal parameter value\"\r\n"},
        {"an unknown header answers nothing", {"FETCH:ALL?\n"}, ""},
        {"the line stops at its first error", {"BOGUS;*IDN?\n"}, ""},
        {"errors are read oldest first",
         {"A?\n", "*IDN? 1\n", "SYST:ERR?\n"},
         "-113,\"Undefined header\"\r\n"},
        {"*CLS empties the queue", {"A?\n", "*CLS\n", "SYST:ERR?\n"}, "+0,\"No error\"\r\n"},
        {"a line longer than a meter takes",
         {std::string(3000, 'M') + "\n", "SYST:ERR?\n"},
         "-223,\"Too much data\"\r\n"},
        {"after it the next line is read", {std::string(3000, 'M') + "\n", "*CLS;*OPC?\n"}, "1\r\n"},
    };
    for (const auto& c : cases) {
        sim::BenchMeter meter(kIdentity, 1, 0.0);
        std::string reply;
        for (const std::string& line : c.lines) {
            reply = ask(meter, line);
        }
        EXPECT_EQ(reply, c.reply) << c.name;
    }
}

TEST(BenchMeter, ALineInPiecesIsOneLineAndAFullQueueSaysItOverflowed) {
    sim::BenchMeter meter(kIdentity, 1, 0.0);
    EXPECT_EQ(ask(meter, "MEAS:CU"), "");
    EXPECT_EQ(ask(meter, "RR:DC?"), "");
    EXPECT_EQ(ask(meter, "\r\n*IDN?\n"), "+1.20034E-02\r\n" + kIdentity + "\r\n");

    for (int i = 0; i < 25; ++i) {
        ask(meter, "NOPE\n");
    }
    std::vector<std::string> errors;
    for (int i = 0; i < 21; ++i) {
        errors.push_back(ask(meter, "SYST:ERR?\n"));
    }
    EXPECT_EQ(errors[0], "-113,\"Undefined header\"\r\n");
    EXPECT_EQ(errors[19], "-350,\"Queue overflow\"\r\n") << "the last place of a full queue";
    EXPECT_EQ(errors[20], "+0,\"No error\"\r\n");
}

// A reading carries the meter's own noise, within a few deviations of the current and the same
// again from the same seed.
TEST(BenchMeter, ReadingsCarryASmallSeededNoise) {
    const auto readings = [](uint32_t seed) {
        sim::BenchMeter meter(kIdentity, seed, 1e-6);
        std::vector<double> values;
        for (int i = 0; i < 200; ++i) {
            values.push_back(std::strtod(ask(meter, "MEAS:CURR:DC?\n").c_str(), nullptr));
        }
        return values;
    };
    const std::vector<double> values = readings(7);
    double squares = 0;
    for (double v : values) {
        EXPECT_LT(std::abs(v - 0.0120034), 6e-6);
        squares += (v - 0.0120034) * (v - 0.0120034);
    }
    EXPECT_NEAR(std::sqrt(squares / values.size()), 1e-6, 3e-7) << "the deviation asked for";
    EXPECT_EQ(readings(7), values);
    EXPECT_NE(readings(8), values);
}
