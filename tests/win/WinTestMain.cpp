// Entry point of the test programs that run under Wine: the application object is set up as the
// program sets it up, then every test runs on this thread, which is the UI thread.

#include "win/Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    Application.Initialize();
    Application.SetTitle("Zarnu");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
