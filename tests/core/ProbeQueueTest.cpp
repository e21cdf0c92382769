#include "core/ProbeQueue.h"

#include <gtest/gtest.h>

namespace {

// A platform with room for `room` threads, of which the test frees some.
struct Platform {
    int room = 0;
    std::vector<std::string> started;
    ProbeQueue::Starter starter()
    {
        return [this](const ProbeQueue::Line& line) {
            if (room == 0)
                return false;
            --room;
            started.push_back(line.text + std::to_string(line.number) + (line.again ? " again" : ""));
            return true;
        };
    }
};

TEST(ProbeQueue, EveryLineStartsOnceInOrderAsRoomAppears)
{
    Platform platform{2};
    ProbeQueue queue;
    queue.StartAll({"a", "b", "c", "d", "e"}, platform.starter());
    EXPECT_EQ(platform.started, (std::vector<std::string>{"a0", "b1"}));
    EXPECT_EQ(queue.Waiting(), 3u);

    EXPECT_EQ(queue.StartWaiting(platform.starter()), 0u); // still no room
    platform.room = 1;
    EXPECT_EQ(queue.StartWaiting(platform.starter()), 1u);
    platform.room = 10;
    EXPECT_EQ(queue.StartWaiting(platform.starter()), 2u);
    EXPECT_EQ(platform.started, (std::vector<std::string>{"a0", "b1", "c2", "d3", "e4"}));
    EXPECT_EQ(queue.Waiting(), 0u);
}

TEST(ProbeQueue, ANewCommandDropsTheLinesStillWaiting)
{
    Platform platform{1};
    ProbeQueue queue;
    queue.StartAll({"a", "b", "c"}, platform.starter());
    platform.room = 1;
    queue.StartAll({"x", "y"}, platform.starter());
    platform.room = 5;
    queue.StartWaiting(platform.starter());
    EXPECT_EQ(platform.started, (std::vector<std::string>{"a0", "x0", "y1"}));
}

TEST(ProbeQueue, AStepStartsNoMoreThanItsShareAndALostLineGoesFirst)
{
    Platform platform{10};
    ProbeQueue queue;
    EXPECT_EQ(queue.StartAll({"a", "b", "c", "d", "e"}, platform.starter(), 2), 2u);
    EXPECT_EQ(queue.Waiting(), 3u);
    EXPECT_EQ(queue.StartWaiting(platform.starter(), 2), 2u);
    queue.PutBack("b", 1); // its probe was lost: ahead of the line that waits
    EXPECT_EQ(queue.StartWaiting(platform.starter(), 3), 2u);
    EXPECT_EQ(platform.started, (std::vector<std::string>{"a0", "b1", "c2", "d3", "b1 again", "e4"}));
}

} // namespace
