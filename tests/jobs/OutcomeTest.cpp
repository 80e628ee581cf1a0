// An outcome's kind follows the interpreter's verdict, and the frame it names stays inside the block.
#include <gtest/gtest.h>

#include "jobs/Job.h"

namespace {

TEST(Outcome, KindFollowsTheVerdictOfEveryReading) {
    using traffic::Verdict;
    using Kind = jobs::Outcome::Kind;
    const struct {
        Verdict verdict;
        Kind kind;
    } rows[] = {
        {Verdict::Good, Kind::Whole},          {Verdict::Acknowledged, Kind::Whole},
        {Verdict::Refused, Kind::Refused},     {Verdict::Exception, Kind::Refused},
        {Verdict::Cut, Kind::Cut},             {Verdict::ChecksumWrong, Kind::Damaged},
        {Verdict::Echo, Kind::Unexpected},     {Verdict::Unexpected, Kind::Unexpected},
        {Verdict::None, Kind::Unexpected},
    };
    for (const auto& row : rows) {
        traffic::Reading reading;
        reading.verdict = row.verdict;
        EXPECT_EQ(jobs::ReceivedOutcome("x", reading).kind, row.kind) << jobs::OutcomeText(row.kind);
        EXPECT_EQ(jobs::ReceivedOutcome("", reading).kind, Kind::Silence);
    }
}

TEST(Outcome, FrameIsThePlacedReplyAndNothingBeyondTheBlock) {
    traffic::Reading reading;
    reading.verdict = traffic::Verdict::Good;
    reading.frameOffset = 2;
    reading.frameLength = 3;
    EXPECT_EQ(jobs::ReceivedOutcome("..abc.", reading).frame(), "abc");
    EXPECT_EQ(jobs::ReceivedOutcome("..ab", reading).frame(), "");
}

} // namespace
