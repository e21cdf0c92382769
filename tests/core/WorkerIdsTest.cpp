#include "core/WorkerIds.h"

#include <gtest/gtest.h>

TEST(WorkerIds, SlotsCountFromOneAndOutOfRangeNumbersDoNothing)
{
    WorkerIds ids;
    EXPECT_EQ(ids.Clear(1), 0u); // empty registry
    ids.Register(101);
    ids.Register(102);
    EXPECT_EQ(ids.Clear(0), 0u);
    EXPECT_EQ(ids.Clear(3), 0u);
    EXPECT_EQ(ids.Clear(-1), 0u);
    EXPECT_EQ(ids.Length(), 2u);
    EXPECT_EQ(ids.At(1), 101u);
    EXPECT_EQ(ids.At(2), 102u);
}

TEST(WorkerIds, ClearingTheLastOccupiedSlotShrinksToNothing)
{
    WorkerIds ids;
    ids.Register(101);
    ids.Register(102);
    ids.Register(103);
    EXPECT_EQ(ids.Clear(2), 102u);
    EXPECT_EQ(ids.Length(), 3u); // a cleared slot stays until all are clear
    EXPECT_EQ(ids.Clear(2), 0u); // already empty
    EXPECT_EQ(ids.Clear(1), 101u);
    EXPECT_EQ(ids.Clear(3), 103u);
    EXPECT_EQ(ids.Length(), 0u);
    ids.Register(104);
    EXPECT_EQ(ids.At(1), 104u); // numbering starts again at 1
}

TEST(WorkerIds, ForgettingACompletedWorkerEmptiesOnlyItsSlot)
{
    WorkerIds ids;
    ids.Register(101);
    ids.Register(102);
    ids.Forget(999); // not registered
    ids.Forget(101);
    EXPECT_EQ(ids.Length(), 2u);
    EXPECT_EQ(ids.At(1), 0u);
    EXPECT_EQ(ids.At(2), 102u);
    EXPECT_EQ(ids.Clear(1), 0u); // a stop request never reaches the completed worker's id
    ids.Forget(102);
    EXPECT_EQ(ids.Length(), 0u);
}
