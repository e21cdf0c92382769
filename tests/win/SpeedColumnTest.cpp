#include "RateLimitedForward.h"
#include "WatchSupport.h"

#include <iostream>

namespace {

// "Test Speed" downloads the service's speed page through every working proxy in its kind: one
// behind a line of 200 kB/s shows that rate, an unhindered one more, and the speed column puts
// the fastest first. The tests' limit is 3 s, not 10 s: a rate shows as well in less.
class SpeedColumnTest : public WatchTest {
protected:
    void SetUp() override
    {
        WatchTest::SetUp();
        previousSpeedLimit = ProxyListView::LimitSpeedTestsTo(3000);
    }
    void TearDown() override
    {
        ProxyListView::LimitSpeedTestsTo(previousSpeedLimit);
        WatchTest::TearDown();
    }
    unsigned previousSpeedLimit = 0;
};

TEST_F(SpeedColumnTest, EachWorkingProxyShowsItsRateAndTheFastestSortsFirst)
{
    Proxy(1);
    Proxy(2);
    const RateLimitedForward slowLine{"127.0.0.103", 8888, Host(2), 200000};
    const host::Microsocks socks{"127.0.0.104", 1080, "bob", "pass:word"};
    const std::string slow = "127.0.0.103:8888", fast = Host(1), withAccount = "bob@127.0.0.104:1080";
    Refresh(slow + ";DE\r\n" + fast + ";DE\r\n127.0.0.104:1080:bob:pass:word;DE\r\n", 3);
    const int speedColumn = main.listrep1.ColumnCount() - 1;
    EXPECT_EQ(main.listrep1.ColumnCaption(speedColumn), "Speed (kB/s)");

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Test Speed");
    EXPECT_EQ(main.StatusBar1.Text().rfind("Testing speed: 0 of 3 proxies", 0), 0u) << main.StatusBar1.Text();
    ASSERT_TRUE(PumpMessagesUntil([&] { return main.StatusBar1.Text().rfind("Speed tested:", 0) == 0; }, 15000))
        << main.StatusBar1.Text();
    EXPECT_EQ(main.StatusBar1.Text().rfind("Speed tested: 3 proxies, 3 carried the test page, the fastest at ", 0), 0u)
        << main.StatusBar1.Text();
    std::map<std::string, unsigned> speeds;
    for (int item = 0; item < main.listrep1.ItemCount(); ++item)
        speeds[main.listrep1.ItemText(item, 0)] = std::stoul("0" + main.listrep1.ItemText(item, speedColumn));
    std::cout << "speeds: limited " << speeds[slow] << " kB/s, unlimited " << speeds[fast] << " kB/s, SOCKS 5 with an account "
              << speeds[withAccount] << " kB/s\n";
    EXPECT_GE(speeds[slow], 160u);
    EXPECT_LE(speeds[slow], 240u);
    EXPECT_GT(speeds[fast], 240u);
    EXPECT_GT(speeds[withAccount], 240u);

    main.listrep1ColumnClick(speedColumn);
    EXPECT_EQ(ListedRows(main.listrep1).back()[0], slow) << "the slowest sorts last";
    EXPECT_TRUE(errors.empty());
}

} // namespace
