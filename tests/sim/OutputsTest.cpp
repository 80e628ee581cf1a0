// The analog outputs as currents: a value through a range to 4-20 mA with the stage's own error on
// top, and what the converter drives in each working mode.
#include <gtest/gtest.h>

#include <bit>
#include <optional>

#include "sim/Converter.h"
#include "sim/Faults.h"
#include "sim/Outputs.h"

namespace {

constexpr double kTolerance = 1e-9;

} // namespace

TEST(Outputs, AValueThroughItsRangeWithTheStagesErrorIsTheCurrent) {
    const struct {
        const char* name;
        double at4mA, at20mA, value;
        sim::OutputTrim trim;
        double milliamps;
    } cases[] = {
        {"the 4 mA end", 0, 100, 0, {}, 4.0},
        {"a quarter of the span", 0, 100, 25, {}, 8.0},
        {"the middle", 0, 100, 50, {}, 12.0},
        {"the 20 mA end", 0, 100, 100, {}, 20.0},
        {"a range below zero", -10, 20.5, 5.25, {}, 12.0},
        {"a falling range", 100, 0, 25, {}, 16.0},
        {"a zero offset moves every point alike", 0, 100, 50, {0.2, 1.0}, 12.2},
        {"a span factor leaves 4 mA where it is", 0, 100, 0, {0.0, 1.01}, 4.0},
        {"... and moves 20 mA the most", 0, 100, 100, {0.0, 1.01}, 20.16},
        {"offset and span together", 0, 100, 75, {-0.05, 0.99}, 15.83},
        {"above the range the output saturates", 0, 100, 150, {}, 20.5},
        {"below the range likewise", 0, 100, -50, {}, 3.8},
        {"an empty range drives the failure signal", 50, 50, 50, {}, 3.6},
        {"a range that is no number likewise", 0, std::numeric_limits<double>::quiet_NaN(), 1, {}, 3.6},
        {"no stage drives below zero", 0, 100, 0, {-16.0, 1.0}, 0.0},
        {"nor above what the loop allows", 0, 100, 100, {16.0, 2.0}, 24.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(sim::DrivenCurrent(sim::RangeCurrent(c.value, c.at4mA, c.at20mA), c.trim), c.milliamps,
                    kTolerance)
            << c.name;
    }
    EXPECT_EQ(sim::DrivenCurrent(std::nullopt, {0.5, 1.2}), 0.0) << "an output that drives nothing";
}

// Test current output mode drives each output's test value through its range; the other modes its
// variable; a closed output and the outputs the totalizer takes drive nothing.
TEST(Outputs, WhatTheConverterDrivesInEachWorkingMode) {
    constexpr double kAt = 30.0;
    const auto pressure = [] { return double{sim::Instrument().variables(kAt)[0].value}; };
    const struct {
        const char* name;
        std::vector<std::string> commands;
        int output;
        std::optional<double> milliamps;
    } cases[] = {
        {"a test value in test current output mode", {"QQS#MD:2#", "QQQ#AV3O:25.0#"}, 3, 8.0},
        {"a test value over another range",
         {"QQS#DA2:2,41A40000,C1200000#", "QQS#MD:2#", "QQQ#AV1O:5.25#"},
         1,
         12.0},
        {"a closed output tested all the same", {"QQS#MD:2#", "QQQ#AV6O:100#"}, 6, 20.0},
        {"test mode without a test value: the value 0", {"QQS#MD:2#"}, 0, 4.0},
        {"outside test mode the test value is kept but the variable drives",
         {"QQQ#AV0O:25.0#", "QQS#DA1:1,43480000,00000000#"},
         0,
         4.0 + 16.0 * pressure() / 200.0},
        {"single meter mode likewise",
         {"QQS#MD:1#", "QQS#DA1:1,43480000,00000000#"},
         0,
         4.0 + 16.0 * pressure() / 200.0},
        {"a closed output drives nothing", {}, 5, std::nullopt},
        {"the totalizer takes DOUTA4 to DOUTA7", {"QQS#DL:3#", "QQS#MD:2#", "QQQ#AV4O:50#"}, 4, std::nullopt},
        {"... but not DOUTA3", {"QQS#DL:3#", "QQS#MD:2#", "QQQ#AV3O:50#"}, 3, 12.0},
    };
    for (const auto& c : cases) {
        sim::Converter converter;
        for (const std::string& command : c.commands) {
            ASSERT_TRUE(converter.handleText(command).ends_with(":OK#")) << c.name << ": " << command;
        }
        const std::optional<double> target = converter.outputTarget(c.output, kAt);
        ASSERT_EQ(target.has_value(), c.milliamps.has_value()) << c.name;
        if (target) {
            EXPECT_NEAR(*target, *c.milliamps, 1e-4) << c.name;
        }
    }
}

// The control lines of the outputs' errors and the meter's leads; a bad line changes nothing.
TEST(Outputs, ControlLinesOfTheOutputsAndTheMeter) {
    const std::pair<const char*, bool> cases[] = {
        {"output-error 0:-0.5", true},  {"output-error 7:+16", true},   {"output-gain 4:0.5", true},
        {"meter-output 7", true},       {"output-error 8:0.1", false},  {"output-error 3", false},
        {"output-error 3:16.1", false}, {"output-error 3:nan", false},  {"output-gain 3:0", false},
        {"output-gain 3:2.5", false},   {"output-error 3:0.1x", false}, {"meter-output 8", false},
    };
    for (const auto& [line, taken] : cases) {
        sim::Faults faults;
        const std::string before = sim::Describe(faults);
        const std::string error = sim::ApplyControl(faults, line);
        EXPECT_EQ(error.empty(), taken) << line << ": " << error;
        EXPECT_EQ(sim::Describe(faults) == before, !taken) << line << ": " << sim::Describe(faults);
    }
}
