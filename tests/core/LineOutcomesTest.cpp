#include "core/LineOutcomes.h"

#include "Verdicts.h"

#include <gtest/gtest.h>

using verdicts::Failed;
using verdicts::Passed;

namespace {

LineChange Row(std::optional<unsigned> ping, std::optional<ProxyVerdict> verdict = std::nullopt, bool hurry = false)
{
    return LineChange{true, false, ping, std::move(verdict), hurry};
}

} // namespace

TEST(LineOutcomes, AnEchoInTimeListsTheLineAtOnceAndHurriesItsCheck)
{
    LineOutcomes lines(2, LineOutcomes::Unproved::NoRow);
    EXPECT_EQ(lines.Echo(0, 40u), Row(40u, std::nullopt, true));
    const ProxyVerdict failed = Failed();
    EXPECT_EQ(lines.Verdict(0, failed), (LineChange{false, false, std::nullopt, failed}));
    // A check that came first lands in the row that the echo makes.
    EXPECT_EQ(lines.Verdict(1, Failed()), LineChange{});
    EXPECT_EQ(lines.Echo(1, 900u), Row(900u, Failed()));
}

TEST(LineOutcomes, AWorkingCheckListsALineWhoseEchoDidNotAnswerOrHasNotYet)
{
    LineOutcomes lines(3, LineOutcomes::Unproved::NoRow);
    const ProxyVerdict passed = Passed(120, false, Anonymity::Elite);
    EXPECT_EQ(lines.Echo(0, std::nullopt), LineChange{});
    EXPECT_EQ(lines.Verdict(0, passed), Row(std::nullopt, passed));
    // Its echo still out: the row comes now, and the ping is filled in when it comes in time.
    EXPECT_EQ(lines.Verdict(1, passed), Row(std::nullopt, passed));
    EXPECT_EQ(lines.Echo(1, 75u), (LineChange{false, false, 75u}));
    EXPECT_TRUE(lines.Listed(1));
    // A proxy that carries only the tunnel works too.
    EXPECT_EQ(lines.Verdict(2, Failed(true)), Row(std::nullopt, Failed(true)));
    EXPECT_EQ(lines.Echo(2, std::nullopt), LineChange{});
}

TEST(LineOutcomes, ALineProvedByNeitherGetsNoRowOrABadOneOnceBothCame)
{
    for (const auto unproved : {LineOutcomes::Unproved::NoRow, LineOutcomes::Unproved::BadRow}) {
        LineOutcomes lines(2, unproved);
        const LineChange bad = unproved == LineOutcomes::Unproved::BadRow ? LineChange{true, true}
                                                                         : LineChange{};
        EXPECT_EQ(lines.Echo(0, std::nullopt), LineChange{});
        EXPECT_EQ(lines.Verdict(0, Failed()), bad);
        EXPECT_EQ(lines.Verdict(1, Failed()), LineChange{});
        EXPECT_EQ(lines.Echo(1, std::nullopt), bad);
        EXPECT_EQ(lines.Listed(1), unproved == LineOutcomes::Unproved::BadRow);
    }
}

TEST(LineOutcomes, ALineThatAnswersButWasNotReachedInTheKnocksTimeIsCheckedOnceMore)
{
    LineOutcomes lines(3, LineOutcomes::Unproved::BadRow);
    ProxyVerdict unreached = Failed();
    unreached.unreached = true;
    const ProxyVerdict passed = Passed(1900, false, Anonymity::Elite);
    // The verdict first: the echo's row asks for the second check, whose verdict is the row's.
    EXPECT_EQ(lines.Verdict(0, unreached), LineChange{});
    LineChange again = Row(700u);
    again.checkAgain = true;
    EXPECT_EQ(lines.Echo(0, 700u), again);
    EXPECT_EQ(lines.Verdict(0, passed), (LineChange{false, false, std::nullopt, passed}));
    // The echo first; a second check that does not reach it either is the row's verdict.
    EXPECT_EQ(lines.Echo(1, 700u), Row(700u, std::nullopt, true));
    EXPECT_EQ(lines.Verdict(1, unreached), (LineChange{false, false, std::nullopt, std::nullopt, false, true}));
    EXPECT_EQ(lines.Verdict(1, unreached), (LineChange{false, false, std::nullopt, unreached}));
    // Without an echo in time, a line not reached is bad at once.
    EXPECT_EQ(lines.Echo(2, std::nullopt), LineChange{});
    EXPECT_EQ(lines.Verdict(2, unreached), (LineChange{true, true}));
}

TEST(LineOutcomes, EveryLineIsListedOnceWhateverComesTwiceOrOutOfRange)
{
    LineOutcomes lines(1, LineOutcomes::Unproved::BadRow);
    EXPECT_EQ(lines.Echo(0, 10u), Row(10u, std::nullopt, true));
    EXPECT_EQ(lines.Echo(0, 10u), LineChange{});
    EXPECT_EQ(lines.Verdict(0, Failed()).addRow, false);
    EXPECT_EQ(lines.Verdict(0, Passed(1, true, Anonymity::Elite)), LineChange{});
    EXPECT_EQ(lines.Echo(5, 10u), LineChange{});
    EXPECT_EQ(lines.Verdict(5, Failed()), LineChange{});
    EXPECT_FALSE(lines.Listed(5));
}
