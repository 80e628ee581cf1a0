// The instrument's identity, a read meter command's fields, the register map and a live poll against
// the simulated converter, a fault at a chosen request per row: nothing from a reply that was not
// whole and good, and every missed reply said as what it was.
#include <gtest/gtest.h>

#include "jobs/Instrument.h"
#include "jobs/LivePoll.h"
#include "tests/jobs/ModelLine.h"

namespace {

using jobstest::Fault;
using Kind = jobs::Outcome::Kind;

std::optional<Kind> kindOf(const std::optional<jobs::Stop>& stop) {
    return stop ? std::optional(stop->kind) : std::nullopt;
}

TEST(LivePollJob, AMissedPollIsMarkedWithWhatCameNeverAsZeros) {
    // clang-format off
    const struct {
        std::optional<Fault> fault;
        std::optional<Kind> missed;
        bool ended;
    } rows[] = {
        {{}, {}, false},
        {Fault::Silent, Kind::Silence, false},
        {Fault::WrongCheck, Kind::Damaged, false},
        {Fault::Refusal, Kind::Refused, false},
        {Fault::Split, Kind::Cut, false},
        {Fault::Garbage, Kind::Unexpected, false},
        {Fault::LineLost, Kind::LineLost, true},
    };
    // clang-format on
    profile::Mapping mapping;
    mapping.slaveAddress = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.missed ? std::string(jobs::OutcomeText(*row.missed)) : "no fault");
        jobstest::ModelLine line;
        if (row.fault) {
            line.fault(1, *row.fault);
        }
        jobs::LivePollJob poll(mapping);
        line.run(poll);
        EXPECT_EQ(kindOf(poll.result().missed), row.missed);
        EXPECT_EQ(poll.result().sample.has_value(), !row.missed);
        EXPECT_EQ(poll.result().ended(), row.ended);
        if (poll.result().sample) {
            EXPECT_NEAR((*poll.result().sample)[0], 101.3, 2.6) << "variable 1, the pressure";
        }
    }
}

// Requests of each: QX1, QX3, QX4, then the instrument's.
TEST(InstrumentJobs, ReplyFieldsAndTheMapTakeNothingFromABadReply) {
    // clang-format off
    const struct {
        const char* what;
        std::optional<std::pair<int, Fault>> fault;
        std::optional<Kind> fieldsStop; // the reply fields' stop
        std::optional<Kind> mapProblem; // the register map's instrument problem (the map still stands)
        bool mapStands;
        const char* instrumentWords;
    } rows[] = {
        {"no fault", {}, {}, {}, true, ""},
        {"the instrument silent", std::pair{4, Fault::Silent}, Kind::Silence, Kind::Silence, true, "did not answer"},
        {"a wrong check byte", std::pair{4, Fault::WrongCheck}, Kind::Damaged, Kind::Damaged, true,
         "answered, but CRC or check byte wrong"},
        {"a cut reply", std::pair{4, Fault::Split}, Kind::Cut, Kind::Cut, true, "answered, but cut short"},
        {"the line lost at the parse format", std::pair{3, Fault::LineLost}, Kind::LineLost, {}, false, "not asked"},
        {"the line lost at the instrument", std::pair{4, Fault::LineLost}, Kind::LineLost, Kind::LineLost, false,
         "not reached: line lost"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine fieldsLine;
        jobstest::ModelLine mapLine;
        if (row.fault) {
            fieldsLine.fault(row.fault->first, row.fault->second);
            mapLine.fault(row.fault->first, row.fault->second);
        }
        jobs::ReplyFieldsJob fields({});
        fieldsLine.run(fields);
        EXPECT_EQ(kindOf(fields.result().stop), row.fieldsStop);
        EXPECT_EQ(fields.result().fields.empty(), row.fieldsStop.has_value()) << "fields from a bad reply";

        jobs::RegisterMapJob map("5");
        mapLine.run(map);
        const jobs::MapResult& m = map.result();
        EXPECT_EQ(kindOf(m.instrumentProblem), row.mapProblem);
        EXPECT_EQ(!m.rows.empty(), row.mapStands);
        EXPECT_EQ(m.instrument.has_value(), !row.mapProblem && row.mapStands);
        EXPECT_EQ(m.instrumentWords(), row.instrumentWords);
        if (row.mapStands && !row.mapProblem) {
            EXPECT_EQ(m.rows[1].unit, "KPa") << "variable 1's unit, from the instrument's reply";
        }
    }
}

TEST(InstrumentJobs, IdentityAndVariables) {
    // clang-format off
    const struct {
        std::optional<std::pair<int, Fault>> fault;
        std::optional<Kind> stop;
        bool identity, variables;
        const char* says;
    } rows[] = {
        {{}, {}, true, true, ""},
        {std::pair{1, Fault::WrongCheck}, Kind::Damaged, false, false, "no good reply to HART command 0"},
        {std::pair{1, Fault::Silent}, Kind::Silence, false, false, "only in transparent mode"},
        {std::pair{2, Fault::Silent}, Kind::Silence, true, false, "no reply to HART command 3"},
        {std::pair{1, Fault::LineLost}, Kind::LineLost, false, false, "not reached: HART command 3"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        jobstest::ModelLine line;
        if (row.fault) {
            line.fault(row.fault->first, row.fault->second);
        }
        jobs::IdentityJob job({.variables = true});
        line.run(job);
        const jobs::IdentityResult& r = job.result();
        EXPECT_EQ(kindOf(r.stop), row.stop);
        EXPECT_EQ(r.identity.has_value(), row.identity);
        EXPECT_EQ(r.variables.has_value(), row.variables);
        if (r.stop) {
            EXPECT_NE(r.stop->sentence().find(row.says), std::string::npos) << r.stop->sentence();
        }
    }
}

} // namespace
