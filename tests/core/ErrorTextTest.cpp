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

#include "core/IoErrorText.h"

TEST(IoErrorText, NamesCommonFailuresAndGivesTheCodeOtherwise)
{
    EXPECT_EQ(IoErrorText(5), "File access denied");
    EXPECT_EQ(IoErrorText(3), "Path not found");
    EXPECT_EQ(IoErrorText(112), "Disk full");
    EXPECT_EQ(IoErrorText(1117), "I/O error 1117");
    EXPECT_EQ(IoErrorText(4294967295u), "I/O error 4294967295");
}
