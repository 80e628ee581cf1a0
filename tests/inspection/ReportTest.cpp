// The inspection report's document: its verdicts by part and overall, what a report read back must
// be, the differences between as found and as left, and its pages' escaping.
#include <gtest/gtest.h>

#include "inspection/Report.h"

namespace {

using inspection::Json;

TEST(Report, VerdictsByPartAndOverall) {
    const Json configuration = {{"parameters", {{"mode", "transparent"}}}};
    const Json identified = {{"version", "VX538-T-B"}};
    struct Row {
        const char* what;
        Json report;
        const char* overall;
        Json parts;
    } rows[] = {
        {"everything read and passing",
         {{"converter", identified},
          {"instrument", {{"read", true}}},
          {"as_found", {{"configuration", configuration}, {"check", {{"verdict", "pass"}}}}},
          {"as_left", {{"configuration", configuration}}}},
         "pass",
         {{"converter", "pass"}, {"instrument", "pass"}, {"configuration", "pass"}, {"check", "pass"}}},
        {"a failed loop check fails the whole",
         {{"converter", identified},
          {"as_found", {{"configuration", configuration}, {"loop_check", {{"verdict", "fail"}}}}},
          {"as_left", {{"configuration", configuration}}}},
         "fail",
         {{"converter", "pass"}, {"configuration", "pass"}, {"loop_check", "fail"}}},
        {"as left's check is the later word",
         {{"converter", identified},
          {"as_found", {{"configuration", configuration}, {"check", {{"verdict", "fail"}}}}},
          {"as_left", {{"configuration", configuration}, {"check", {{"verdict", "pass"}}}}}},
         "pass",
         {{"converter", "pass"}, {"configuration", "pass"}, {"check", "pass"}}},
        {"no as left on a complete run: incomplete",
         {{"converter", identified}, {"as_found", {{"configuration", configuration}}}},
         "incomplete",
         {{"converter", "pass"}, {"configuration", "not checked"}}},
        {"paused as found: the configuration as found is enough",
         {{"stage", "as found"}, {"converter", identified}, {"as_found", {{"configuration", configuration}}}},
         "pass",
         {{"converter", "pass"}, {"configuration", "pass"}}},
        {"a converter that did not answer, an instrument not read",
         {{"converter", {{"version", "not read"}}},
          {"instrument", {{"read", false}}},
          {"as_found", {{"configuration", configuration}}},
          {"as_left", {{"configuration", configuration}}}},
         "incomplete",
         {{"converter", "not checked"}, {"instrument", "not checked"}, {"configuration", "pass"}}},
        {"a fail outweighs what is incomplete",
         {{"converter", {{"version", ""}}}, {"as_found", {{"check", {{"verdict", "fail"}}}}}},
         "fail",
         {{"converter", "not checked"}, {"configuration", "not checked"}, {"check", "fail"}}},
        {"a part without a verdict was not checked",
         {{"converter", identified},
          {"as_found", {{"configuration", configuration}, {"loop_check", Json::object()}}},
          {"as_left", {{"configuration", configuration}}}},
         "incomplete",
         {{"converter", "pass"}, {"configuration", "pass"}, {"loop_check", "not checked"}}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.what);
        inspection::Conclude(row.report);
        EXPECT_EQ(row.report["verdict"]["overall"], row.overall);
        EXPECT_EQ(Json(row.report["verdict"]["parts"]), row.parts);
    }
}

TEST(Report, ReadBackOnlyWhatTheRenderersCanTake) {
    struct Row {
        const char* text;
        const char* problem; // empty: read
    } rows[] = {
        {R"({"format":"vx538-inspection","version":1})", ""},
        {R"({"format":"vx538-inspection","version":1,"as_found":{"loop_check":{"outputs":[{"points":[]}]}}})",
         ""},
        {"", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {R"({"format":"vx538-configuration","version":1})", "format is not"},
        {R"({"format":"vx538-inspection"})", "no version"},
        {R"({"format":"vx538-inspection","version":"1"})", "no version"},
        {R"({"format":"vx538-inspection","version":2})", "newer than this program reads"},
        {R"({"format":"vx538-inspection","version":1,"changes":{}})", "changes is not a list"},
        {R"({"format":"vx538-inspection","version":1,"as_left":[]})", "as_left is not an object"},
        {R"({"format":"vx538-inspection","version":1,"as_found":{"check":{"rows":3}}})",
         "as_found.check.rows"},
        {R"({"format":"vx538-inspection","version":1,"as_found":{"loop_check":{"outputs":[1]}}})",
         "no output"},
        {R"({"format":"vx538-inspection","version":1,"as_found":{"configuration":{"parameters":[]}}})",
         "configuration.parameters"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        if (!*row.problem) {
            EXPECT_NO_THROW(inspection::ReadReport(row.text));
            continue;
        }
        try {
            inspection::ReadReport(row.text);
            ADD_FAILURE() << "read";
        } catch (const inspection::ReportError& error) {
            EXPECT_NE(std::string(error.what()).find(row.problem), std::string::npos) << error.what();
        }
    }
}

TEST(Report, DifferencesInTheFirstOnesOrderThenWhatOnlyTheSecondHas) {
    const Json found = {{"mode", "transparent"}, {"rs485.baud", 9600}, {"ao3.20ma", 100}, {"gone", "x"}};
    const Json left = {{"mode", "transparent"}, {"rs485.baud", 19200}, {"ao3.20ma", 100}, {"new", "y"}};
    const Json expected = Json::parse(R"([
        {"parameter":"rs485.baud","as_found":"9600","as_left":"19200"},
        {"parameter":"gone","as_found":"x","as_left":"not read"},
        {"parameter":"new","as_found":"not read","as_left":"y"}])");
    EXPECT_EQ(Json(inspection::Differences(found, left)), expected);
    EXPECT_TRUE(inspection::Differences(found, found).empty());
    EXPECT_EQ(inspection::Differences(Json(), left).size(), 4u) << "nothing as found: everything differs";
}

TEST(Report, PagesEscapeEveryTextFromTheReport) {
    Json report = inspection::NewReport("vx538 test");
    report["inspector"] = "<script>alert(1)</script> & Sons | *bold*";
    inspection::Conclude(report);
    const std::string html = inspection::ReportHtml(report);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&amp; Sons"), std::string::npos);
    const std::string markdown = inspection::ReportMarkdown(report);
    EXPECT_EQ(markdown.find("& Sons | *bold*"), std::string::npos)
        << "a table cell's bar and emphasis stay text";
}

} // namespace
