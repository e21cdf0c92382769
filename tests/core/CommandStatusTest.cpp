#include "core/CommandStatus.h"
#include "core/ProxyWorks.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandStatus, ASpeedTestSaysHowFarItGotAndTheFastest)
{
    EXPECT_EQ(SpeedText({2, 5, 1, 300}, {}), "Testing speed: 2 of 5 proxies");
    EXPECT_EQ(SpeedText({5, 5, 4, 2345}, {}), "Speed tested: 5 proxies, 4 carried the test page, the fastest at 2,345 kB/s");
    EXPECT_EQ(SpeedText({1, 1, 0, 0}, {}), "Speed tested: 1 proxy, none carried the test page");
    EXPECT_EQ(SpeedText({0, 0, 0, 0}, {}).rfind("No proxy to test", 0), 0u);
    EXPECT_EQ(SpeedKBps(2000000, 10000), 200u);
    EXPECT_EQ(SpeedKBps(5000, 0), 5000u);
}

TEST(CommandStatus, SaysHowFarACommandGotAndWhatItFoundInTheUsersDigits)
{
    const NumberStyle german{".", ","};
    EXPECT_EQ(GroupedNumber(0, {}), "0");
    EXPECT_EQ(GroupedNumber(999, {}), "999");
    EXPECT_EQ(GroupedNumber(10000, {}), "10,000");
    EXPECT_EQ(GroupedNumber(1234567, german), "1.234.567");

    CommandTally tally;
    tally.lines = 10000;
    tally.probed = 1234;
    tally.answered = 50;
    tally.listed = 56; // six found working whose echo did not answer
    EXPECT_EQ(ProbingText(tally, {}), "1,234 of 10,000 probed, 56 listed");
    tally.probed = 10000;
    tally.answered = 815;
    tally.checks = 10000;
    tally.Count(true, Anonymity::Elite, true);
    tally.Count(true, Anonymity::Transparent, false);
    tally.Count(true, Anonymity::Unknown, false);
    tally.Count(false, std::nullopt, true); // a tunnel without the page
    EXPECT_EQ(CheckingText(tally, {}), "4 of 10,000 lines checked, 3 work");
    EXPECT_EQ(SummaryText(tally, 16.54, german),
              "10.000 probed in 16,5 s: 815 answered, 3 work (1 elite, 0 anonymous, 1 transparent), 2 carry HTTPS");

    CommandTally nothing;
    nothing.lines = nothing.probed = 3;
    EXPECT_EQ(SummaryText(nothing, 4.06, {}), "No proxy answered: 3 probed in 4.1 s");
    nothing.checks = nothing.checked = 3;
    nothing.Count(true, Anonymity::Elite, false); // behind a filter of echoes
    EXPECT_EQ(SummaryText(nothing, 4.06, {}),
              "3 probed in 4.1 s: 0 answered, 1 work (1 elite, 0 anonymous, 0 transparent), 0 carry HTTPS");
    nothing = CommandTally{};
    nothing.lines = nothing.probed = 3;
    nothing.answered = nothing.checks = nothing.checked = 2;
    EXPECT_EQ(SummaryText(nothing, 4.06, {}),
              "3 probed in 4.1 s: 2 answered, 0 work (0 elite, 0 anonymous, 0 transparent), 0 carry HTTPS");
}

} // namespace
