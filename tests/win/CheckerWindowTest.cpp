#include "EchoReplies.h"
#include "HostTools.h"
#include "ListTestSupport.h"

#include "probe/AsyncEcho.h"

#include <regex>

using namespace lists;

namespace {

class CheckerWindowTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Start();
    }

    void Check(const std::string& pasted)
    {
        checker.HostNames.SetText(pasted);
        checker.Button5.Click();
        AwaitProbes();
    }

    // Shows the checker modally and closes it again from its title bar.
    void ShowAndClose()
    {
        PostMessageA(checker.Handle(), WM_CLOSE, 0, 0);
        main.Button6.Click();
        EXPECT_FALSE(checker.Visible());
    }
};

TEST_F(CheckerWindowTest, EveryLineGetsItsPingOrBadProxy)
{
    Check("127.0.0.1:80\r\n"
          "no-such-proxy.invalid:80\r\n"
          " 127.0.0.3:8080;Spain \r\n"
          "\r\n"
          "127.0.0.1:80\r\n");
    const Rows rows = ListedRows(checker.ListView1);
    ASSERT_EQ(rows.size(), 4u);
    const std::regex ping("0|[1-9][0-9]{0,2}");
    // Pings first (as text), rows with equal pings by caption, "BAD PROXY" last.
    EXPECT_EQ(rows[3], (std::vector<std::string>{"no-such-proxy.invalid:80", "BAD PROXY"}));
    std::vector<std::string> captions;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::regex_match(rows[i][1], ping)) << rows[i][1];
        captions.push_back(rows[i][0]);
    }
    std::sort(captions.begin(), captions.end());
    EXPECT_EQ(captions, (std::vector<std::string>{" 127.0.0.3:8080;Spain ", "127.0.0.1:80", "127.0.0.1:80"}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(CheckerWindowTest, ALineWithoutAHostIsBadNotThisMachine)
{
    Check(" \r\n\t\r\n:8080\r\n  :3128  \r\n");
    Rows rows = ListedRows(checker.ListView1);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (Rows{{"\t", "BAD PROXY"}, {" ", "BAD PROXY"}, {"  :3128  ", "BAD PROXY"}, {":8080", "BAD PROXY"}}));
}

// Workers whose thread is ended before their completion, as the platform ends a thread it cannot
// serve: the first time the line is probed again, the second time it is answered as failed. A
// line that names its host (an address's echo is sent without a thread) has a worker of its own.
TEST_F(CheckerWindowTest, AProbeLostWithItsThreadIsProbedAgainOnceThenAnsweredAsFailed)
{
    const EchoRepliesOff silence; // the probes wait until they are ended
    const std::size_t probedAgain = ProbeLauncher::LinesProbedAgain();
    long requests = EchoRequestsReceived();
    checker.HostNames.SetText("localhost:80");
    checker.Button5.Click();
    std::uint32_t ended = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The line's worker (a new one the second time), once it waits for its answer: ended
        // earlier, it could leave a lock of the platform's taken for good.
        ASSERT_TRUE(PumpMessagesUntil(
            [&] { return RunningWorkers() == 1 && RegisteredWorkerId(1) != ended && EchoRequestsReceived() > requests; },
            5000))
            << "attempt " << attempt;
        requests = EchoRequestsReceived();
        ended = RegisteredWorkerId(1);
        const UniqueKernelHandle thread(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, ended));
        ASSERT_TRUE(thread);
        TerminateThread(thread.get(), 1);
        ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    }
    ASSERT_TRUE(PumpMessagesUntil([&] { return checker.ListView1.Count() == 1; }, 2000));
    EXPECT_EQ(RunningWorkers(), 0u);
    EXPECT_EQ(ListedRows(checker.ListView1), (Rows{{"localhost:80", "BAD PROXY"}}));
    EXPECT_EQ(ProbeLauncher::LinesProbedAgain(), probedAgain + 1);
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
}

TEST_F(CheckerWindowTest, AProxyThatARouterReportsUnreachableIsBad)
{
    const host::UnreachableRouter router;
    const std::string line = std::string(host::UnreachableRouter::kAddress) + ":8080";
    Check(line);
    EXPECT_EQ(ListedRows(checker.ListView1), (Rows{{line, "BAD PROXY"}}));
}

TEST_F(CheckerWindowTest, ANewCheckDropsTheLinesStillWaitingAndProbesItsOwnWhole)
{
    const std::size_t previous = ProbeLauncher::BoundLiveWorkers(5);
    std::string first, second;
    for (int i = 1; i <= 40; ++i) {
        first += "127.0.3." + std::to_string(i) + ":80\r\n";
        second += "127.0.4." + std::to_string(i) + ":80\r\n";
    }
    checker.HostNames.SetText(first);
    checker.Button5.Click(); // five start, the rest wait
    checker.HostNames.SetText(second);
    checker.Button5.Click();
    const auto fromSecond = [&] {
        int count = 0;
        for (std::size_t i = 0; i < checker.ListView1.Count(); ++i)
            count += checker.ListView1.Row(i).Caption.rfind("127.0.4.", 0) == 0;
        return count;
    };
    // Late rows of the first check's five running workers arrive as usual; none of its waiting
    // lines is started any more.
    PumpMessagesUntil([&] { return fromSecond() == 40 && RegisteredWorkerSlots() == 0; });
    ProbeLauncher::BoundLiveWorkers(previous);
    const Rows rows = ListedRows(checker.ListView1);
    EXPECT_EQ(fromSecond(), 40);
    EXPECT_LE(rows.size(), 45u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(CheckerWindowTest, PingsOfASecondOrMoreAreBadProxies)
{
    checker.PingThreadTerminate(*FinishedProbe("a:1", 1, 1000));
    checker.PingThreadTerminate(*FinishedProbe("b:1", 1, 999));
    checker.PingThreadTerminate(*FinishedProbe("c:1", 1, 120));
    checker.PingThreadTerminate(*FinishedProbe("d:1", 0, 0));
    EXPECT_EQ(ListedRows(checker.ListView1),
              (Rows{{"c:1", "120"}, {"b:1", "999"}, {"a:1", "BAD PROXY"}, {"d:1", "BAD PROXY"}}));
    CompleteAfterTermination([this](TPingThread& probe) { checker.PingThreadTerminate(probe); }, "e:1");
    EXPECT_EQ(ListedRows(checker.ListView1).size(), 4u);
}

TEST_F(CheckerWindowTest, AnEmptyBoxKeepsTheRowsAndEmptyLinesClearThem)
{
    Check("127.0.0.1:80");
    ASSERT_EQ(ListedRows(checker.ListView1).size(), 1u);
    Check("");
    EXPECT_EQ(ListedRows(checker.ListView1).size(), 1u);
    Check("\r\n\r\n");
    EXPECT_TRUE(ListedRows(checker.ListView1).empty());
}

TEST_F(CheckerWindowTest, TextRowsAndLabelStayBetweenShowingsAndLateRowsArriveHidden)
{
    checker.HostNames.SetText("127.0.0.1:80\r\n127.0.0.2:80");
    checker.Button5.Click(); // the probes end while the window is closed
    ShowAndClose();
    AwaitProbes();
    EXPECT_EQ(ListedRows(checker.ListView1).size(), 2u);

    SelectItem(checker.ListView1, 0);
    DoubleClickItem(checker.ListView1, 0);
    const std::string used = checker.Label2.Text();
    EXPECT_EQ(used, ListedRows(checker.ListView1)[0][0]); // the proxy in use
    ShowAndClose();
    EXPECT_EQ(checker.HostNames.Text(), "127.0.0.1:80\r\n127.0.0.2:80");
    EXPECT_EQ(ListedRows(checker.ListView1).size(), 2u);
    EXPECT_EQ(checker.Label2.Text(), used);
}

TEST_F(CheckerWindowTest, UsingAProxyWritesTheWholeLineAndLeavesTheMainLabels)
{
    checker.PingThreadTerminate(*FinishedProbe(" 127.0.0.3:8080;Spain ", 1, 4));
    JudgeHttp(checker.ListView1, 0);
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Use This Proxy"); // nothing selected
    EXPECT_FALSE(raw::Get(SettingsKey, "ProxyServer"));

    SelectItem(checker.ListView1, 0);
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Use This Proxy");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), " 127.0.0.3:8080;Spain ");
    EXPECT_EQ(checker.Label2.Text(), " 127.0.0.3:8080;Spain ");
    EXPECT_EQ(main.Label1.Text(), "[unknown]");

    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Stop Hide My IP");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), ":");
    EXPECT_EQ(checker.Label2.Text(), "[unknown]");

    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Copy to Clipboard");
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Delete");
    EXPECT_TRUE(ListedRows(checker.ListView1).empty());
    EXPECT_TRUE(errors.empty());
}

// The program is ending while echoes are out: their answers complete nothing, and the launcher
// must not be left holding probes that are gone (its end would write into them).
TEST(ProbeLauncherEnd, EchoesAnsweredAfterTheEndCompleteNothingAndAreLetGo)
{
    Application.ResetTermination();
    ProbeLauncher launcher;
    std::vector<std::string> lines;
    for (int i = 1; i <= 20; ++i)
        lines.push_back("127.0.5." + std::to_string(i) + ":80");
    int completions = 0;
    const std::size_t outstanding = AsyncEcho::Outstanding();
    launcher.Launch(lines, false, [&](TPingThread&) { ++completions; });
    // Every echo is answered, and the completions wait for this thread, which handles no message
    // yet.
    Sleep(100);
    for (int i = 0; i < 300 && AsyncEcho::Outstanding() != outstanding; ++i)
        Sleep(10);
    ASSERT_EQ(AsyncEcho::Outstanding(), outstanding);
    Application.MarkTerminating();
    EXPECT_TRUE(PumpMessagesUntil([&] { return !launcher.Busy(); }, 5000));
    EXPECT_EQ(completions, 0);
    Application.ResetTermination();
}

} // namespace
