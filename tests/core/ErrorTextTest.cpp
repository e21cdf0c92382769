#include "core/ErrorText.h"

#include <gtest/gtest.h>

TEST(StandardErrorText, AppendsAFullStopOnlyAfterCharactersThatSortAfterIt)
{
    EXPECT_EQ(StandardErrorText("File access denied"), "File access denied.");
    EXPECT_EQ(StandardErrorText("I/O error 5"), "I/O error 5.");
    EXPECT_EQ(StandardErrorText("path/"), "path/.");   // '/' is the character right after '.'
    EXPECT_EQ(StandardErrorText("Done."), "Done.");    // '.' itself does not sort after '.'
    EXPECT_EQ(StandardErrorText("Invalid data type for 'Zarnuinfo'"),
              "Invalid data type for 'Zarnuinfo'");
    EXPECT_EQ(StandardErrorText("Stop!"), "Stop!");
    EXPECT_EQ(StandardErrorText("range -"), "range -");
    EXPECT_EQ(StandardErrorText("(x)"), "(x)");
    EXPECT_EQ(StandardErrorText("trailing "), "trailing ");
}

TEST(StandardErrorText, ComparesEightBitCharactersAsUnsigned)
{
    EXPECT_EQ(StandardErrorText("caf\xE9"), "caf\xE9.");
    EXPECT_EQ(StandardErrorText("\xFF"), "\xFF.");
}

TEST(StandardErrorText, LeavesAnEmptyMessageEmpty)
{
    EXPECT_EQ(StandardErrorText(""), "");
}
