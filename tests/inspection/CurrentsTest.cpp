// The loop check's arithmetic: the test value a range gives for a current, the current to expect from
// the value as sent, the error in percent of span and the tolerance's edges, and the points typed.
#include <gtest/gtest.h>

#include "inspection/Currents.h"

namespace {

using inspection::Verdict;

TEST(Currents, RangeToTestValueToErrorToVerdict) {
    struct Row {
        const char* what;
        double at4, at20, point;
        const char* testValue; // empty: not checked
        double expectedMa;
        double readingMa;
        double tolerance;
        const char* error; // in percent of span
        Verdict verdict;
    } rows[] = {
        {"factory range, 4 mA", 0, 100, 4, "0", 4.0, 4.0, 0.25, "+0.000", Verdict::Pass},
        {"factory range, 12 mA", 0, 100, 12, "50", 12.0, 12.2, 0.25, "+1.250", Verdict::Fail},
        {"factory range, 8 mA read low", 0, 100, 8, "25", 8.0, 7.98, 0.25, "-0.125", Verdict::Pass},
        {"exactly on the tolerance passes", 0, 100, 16, "75", 16.0, 16.04, 0.25, "+0.250", Verdict::Pass},
        {"just beyond it fails", 0, 100, 16, "75", 16.0, 16.0401, 0.25, "+0.251", Verdict::Fail},
        {"beyond it below", 0, 100, 20, "100", 20.0, 19.9599, 0.25, "-0.251", Verdict::Fail},
        {"a wider tolerance", 0, 100, 20, "100", 20.0, 20.1, 1.0, "+0.625", Verdict::Pass},
        {"a range that does not start at 0", -10, 20.5, 12, "5.25", 12.0, 12.0, 0.25, "+0.000",
         Verdict::Pass},
        {"its 4 mA point needs a value below 0", -10, 20.5, 4, "", 0, 0, 0.25, "", Verdict::NotChecked},
        {"a falling range", 100, 0, 8, "75", 8.0, 8.0, 0.25, "+0.000", Verdict::Pass},
        {"a value above 999.9", 0, 2000, 20, "", 0, 0, 0.25, "", Verdict::NotChecked},
        {"999.9 itself is taken", 0, 999.9, 20, "999.9", 20.0, 20.0, 0.25, "+0.000", Verdict::Pass},
        {"a range that maps nothing", 50, 50, 12, "", 0, 0, 0.25, "", Verdict::NotChecked},
        // 1/3 of the way goes out as 33.3333: the current to expect is that of the value sent.
        {"decimals cut", 0, 100, 9.333333, "33.3333", 9.333328, 9.333328, 0.25, "+0.000", Verdict::Pass},
        {"a small range keeps its decimals", 0, 1, 8, "0.25", 8.0, 8.0, 0.25, "+0.000", Verdict::Pass},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto planned = inspection::PlanPoints({row.at4, row.at20}, {row.point});
        ASSERT_EQ(planned.size(), 1u);
        const auto& p = planned[0];
        if (row.verdict == Verdict::NotChecked) {
            EXPECT_FALSE(p.notChecked.empty());
        } else {
            EXPECT_EQ(p.testValue, row.testValue);
            EXPECT_NEAR(p.expectedMa, row.expectedMa, 1e-6);
        }
        const auto judged = inspection::Judge(p, row.readingMa, row.tolerance);
        EXPECT_EQ(judged.verdict, row.verdict);
        if (judged.errorPercent) {
            EXPECT_EQ(inspection::PercentText(*judged.errorPercent), row.error);
        } else {
            EXPECT_EQ(std::string(row.error), "");
            EXPECT_FALSE(judged.note.empty());
        }
    }
}

TEST(Currents, AnOutputFailsOnOnePointAndIsNotCheckedWithoutAny) {
    const auto point = [](Verdict v) {
        inspection::PointResult r;
        r.verdict = v;
        return r;
    };
    EXPECT_EQ(inspection::OutputVerdict({point(Verdict::Pass), point(Verdict::Fail)}), Verdict::Fail);
    EXPECT_EQ(inspection::OutputVerdict({point(Verdict::NotChecked), point(Verdict::Pass)}), Verdict::Pass);
    EXPECT_EQ(inspection::OutputVerdict({point(Verdict::NotChecked)}), Verdict::NotChecked);
    EXPECT_EQ(inspection::OutputVerdict({}), Verdict::NotChecked);
    // A point without a reading is not checked, and says why.
    const auto planned = inspection::PlanPoints({0, 100}, {12});
    const auto judged = inspection::Judge(planned[0], std::nullopt, 0.25, "the meter did not answer");
    EXPECT_EQ(judged.verdict, Verdict::NotChecked);
    EXPECT_EQ(judged.note, "the meter did not answer");
}

TEST(Currents, PointsAndNumbersAsTyped) {
    struct Row {
        const char* text;
        std::vector<double> points; // empty: refused
    } rows[] = {
        {"4,8,12,16,20", {4, 8, 12, 16, 20}},
        {"4/12/20", {4, 12, 20}},
        {" 20 , 4 ", {20, 4}},
        {"12.5", {12.5}},
        {"3.9", {}},
        {"20.01", {}},
        {"4,4", {}},
        {"", {}},
        {"4,x", {}},
        {"nan", {}},
        {"inf", {}},
        {"1e1", {10}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        if (row.points.empty()) {
            EXPECT_THROW(inspection::ReadPoints(row.text), std::invalid_argument);
        } else {
            EXPECT_EQ(inspection::ReadPoints(row.text), row.points);
        }
    }
    EXPECT_EQ(inspection::TestValueText(-0.00001), "0");
    EXPECT_EQ(inspection::TestValueText(7.5), "7.5");
    EXPECT_FALSE(inspection::ReadNumber("+-1"));
    EXPECT_FALSE(inspection::ReadNumber("1,5"));
    EXPECT_EQ(inspection::ReadNumber("+1.22003E-02"), 0.0122003);
}

} // namespace
