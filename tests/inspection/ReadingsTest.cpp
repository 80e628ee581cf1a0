// Readings from a bench meter's reply and from a file: a number, or a reason it is none.
#include <gtest/gtest.h>

#include "inspection/Readings.h"

namespace {

TEST(Readings, MeterRepliesAsCurrents) {
    struct Row {
        const char* reply;
        std::optional<double> ma;
        const char* problem; // in the reason, when no reading
    } rows[] = {
        {"+1.22003E-02\r\n", 12.2003, ""},
        {"1.2E-2", 12.0, ""},
        {"  +0.004000\n", 4.0, ""},
        {"-1.60000E-02\r\n", -16.0, ""}, // leads reversed: a reading all the same
        {"+9.90000E+37\r\n", {}, "overload"},
        {"-9.9E37", {}, "overload"},
        {"9.91E37", {}, "no number"},
        {"", {}, "empty"},
        {"\r\n", {}, "empty"},
        {"-113,\"Undefined header\"\r\n", {}, "no reading"},
        {"+1.2E-02;+1.3E-02", {}, "no reading"},
        {"1.2E-02,1.3E-02", {}, "no reading"},
        {"NAN", {}, "no reading"},
        {"1e999", {}, "no reading"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply);
        const auto reading = inspection::ReadMeterReply(row.reply);
        if (row.ma) {
            ASSERT_TRUE(reading.ma);
            EXPECT_NEAR(*reading.ma, *row.ma, 1e-9);
            EXPECT_TRUE(reading.problem.empty());
        } else {
            EXPECT_FALSE(reading.ma);
            EXPECT_NE(reading.problem.find(row.problem), std::string::npos) << reading.problem;
        }
    }
    EXPECT_EQ(inspection::MeterText("VX538-SIM,SIMULATED DMM,0,1.0\r\n"), "VX538-SIM,SIMULATED DMM,0,1.0");
    // At most 120 characters, the cut said; a reply of exactly 120 is shown whole.
    EXPECT_EQ(inspection::MeterText(std::string(300, 'x')), std::string(117, 'x') + "...");
    EXPECT_EQ(inspection::MeterText(std::string(120, 'x')), std::string(120, 'x'));
}

TEST(Readings, FilesOfReadings) {
    struct Row {
        const char* what;
        const char* text;
        const char* error; // empty: read
        std::size_t count;
    } rows[] = {
        {"with a header", "output,point,mA\n3,4,4.2\n3,8,8.2\r\n", "", 2},
        {"by the row's name, other separators", "DOUTA3;12;12.2\n# a comment\n\nao3\t16\t16.2\n", "", 2},
        {"empty", "", "", 0},
        {"two fields", "3,4\n", "line 1: expected three fields", 0},
        {"an output beyond 7", "8,4,4.0\n", "line 1: '8' is no output", 0},
        {"a header after data", "3,4,4.0\noutput,point,mA\n", "line 2: 'output' is no output", 0},
        {"a point outside 4 to 20", "3,21,21.0\n", "line 1: '21' is no point", 0},
        {"no reading", "3,4,\n", "line 1: '' is no reading", 0},
        {"twice", "3,4,4.0\n3,4.000,4.1\n", "line 2: DOUTA3 at 4.000 mA is given twice", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (*row.error) {
            try {
                inspection::ReadReadingsFile(row.text);
                ADD_FAILURE() << "read";
            } catch (const inspection::ReadingsError& e) {
                EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
            }
            continue;
        }
        EXPECT_EQ(inspection::ReadReadingsFile(row.text).size(), row.count);
    }
    const auto readings = inspection::ReadReadingsFile("3,12,12.2\n");
    EXPECT_EQ(readings.find(3, 12.0), 12.2);
    EXPECT_FALSE(readings.find(3, 8.0));
    EXPECT_FALSE(readings.find(2, 12.0));
}

} // namespace
