#include "core/WindowLayout.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowLayout, ALayoutComesBackAsItWasKept)
{
    const WindowLayout layout{1280, 720, true, {200, 150, 75, 60, 50, 75, 120, 60, 80}, {0, 8, 1, 2, 3, 4, 5, 6, 7}};
    const std::string text = FormatWindowLayout(layout);
    EXPECT_EQ(text, "1280 720 1|200,150,75,60,50,75,120,60,80|0,8,1,2,3,4,5,6,7");
    EXPECT_EQ(ParseWindowLayout(text, 9), layout);
    EXPECT_EQ(ParseWindowLayout("445 600 0|0,1|1,0", 2), (WindowLayout{445, 600, false, {0, 1}, {1, 0}}));
}

// A profile holds whatever was written there: nothing but a layout for this window's list is taken.
TEST(WindowLayout, AnythingElseIsNoLayout)
{
    for (const char* text : {"", "445 600 0|1,2|0,1,2", "445 600 0|1,2", "445 600|1,2|0,1", "445 600 2|1,2|0,1",
                             "0 600 0|1,2|0,1", "445 32768 0|1,2|0,1", "445 600 0|1,99999|0,1", "445 600 0|1,-2|0,1",
                             "445 600 0|1,2|0,0", "445 600 0|1,2|0,2", "445 600 0|1,2|1,0|", " 445 600 0|1,2|0,1",
                             "445 600 0|1,,2|0,1", "445 600 0|1,2|0,1,"})
        EXPECT_EQ(ParseWindowLayout(text, 2), std::nullopt) << text;
    EXPECT_EQ(ParseWindowLayout("445 600 0|1|0", 0), std::nullopt);
}

} // namespace
