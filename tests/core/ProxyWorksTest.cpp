#include "core/ProxyWorks.h"

#include <gtest/gtest.h>

namespace {

constexpr WatchTimes kFloor{3000, 1000};

TEST(ProxyWorks, APageWithinTheLimitWorks)
{
    EXPECT_TRUE(Works(0u, 10000));
    EXPECT_TRUE(Works(10000u, 10000));
    EXPECT_FALSE(Works(10001u, 10000));
    EXPECT_FALSE(Works(std::nullopt, 10000));
}

// The watch's limit follows the proxy's own speed: a near proxy gets the floor, a far one the time
// it needs, none more than the list's limit, and one never checked the list's limit itself.
TEST(ProxyWorks, TheWatchsLimitFollowsTheProxysOwnSpeed)
{
    EXPECT_EQ(WatchTimesFor(20u, kFloor, 10000).limitMs, 3000u);
    EXPECT_EQ(WatchTimesFor(20u, kFloor, 10000).doubtMs, 1000u);
    EXPECT_EQ(WatchTimesFor(3411u, kFloor, 10000).limitMs, 7822u);
    EXPECT_EQ(WatchTimesFor(3411u, kFloor, 10000).doubtMs, 3911u);
    EXPECT_EQ(WatchTimesFor(6000u, kFloor, 10000).limitMs, 10000u);
    EXPECT_EQ(WatchTimesFor(std::nullopt, kFloor, 10000).limitMs, 10000u);
    EXPECT_EQ(WatchTimesFor(std::nullopt, kFloor, 10000).doubtMs, 1000u);
    // Shortened for tests: the list's limit bounds the floor too.
    EXPECT_EQ(WatchTimesFor(20u, kFloor, 2000).limitMs, 2000u);
    EXPECT_LE(WatchTimesFor(20u, {1000, 3000}, 2000).doubtMs, 2000u);
}

// One meaning of "works": a proxy that a list found working at any speed within the list's limit
// passes every check of the watch at that speed, the checks that join a doubtful one included,
// with time to spare.
TEST(ProxyWorks, WhatAListFoundWorkingTheWatchNeverCallsDeadForItsSpeed)
{
    for (const unsigned listLimit : {2000u, 10000u})
        for (unsigned web = 0; web + 1500 <= listLimit; web += 50) {
            const WatchTimes watch = WatchTimesFor(web, kFloor, listLimit);
            SCOPED_TRACE(std::to_string(web) + " ms of " + std::to_string(listLimit));
            EXPECT_LE(watch.limitMs, listLimit);
            EXPECT_TRUE(Works(web + (watch.limitMs - web) / 2, watch.limitMs)) << "half as slow again passes";
            EXPECT_LE(watch.doubtMs, watch.limitMs);
            if (watch.doubtMs > web) { // a joined check still has the proxy's own time
                EXPECT_GE(watch.limitMs - watch.doubtMs, web);
            }
        }
}

// A check that has not connected gives up early only while nine in ten of its peers connect
// within a second.
TEST(ProxyWorks, AnUnconnectedCheckGivesUpEarlyOnlyWhileItsPeersConnectQuickly)
{
    ConnectTimes times;
    for (int i = 0; i < 7; ++i)
        times.Add(20);
    EXPECT_FALSE(times.Quick()) << "too few to tell";
    times.Add(900);
    EXPECT_TRUE(times.Quick());
    times.Add(2500); // one in nine slow
    EXPECT_FALSE(times.Quick());
    for (int i = 0; i < 64; ++i)
        times.Add(30);
    EXPECT_TRUE(times.Quick()) << "only the latest count";
    for (int i = 0; i < 7; ++i)
        times.Add(1500);
    EXPECT_FALSE(times.Quick()) << "seven slow in the latest sixty-four";
}

} // namespace
