#include "HostTools.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include "core/ServiceUrl.h"
#include "net/LocalFile.h"
#include "verify/ProxyCheckPool.h"


#include <regex>
#include <set>

using namespace lists;

namespace {

class MainListTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
        Start();
    }

    // Refreshes from the service serving `list`; the list must have arrived whole.
    void Refresh(const std::string& list)
    {
        service.Serve("paidencrypt.txt", TestService::EncodedProxyList(list));
        main.Button5.Click();
        AwaitProbes();
        EXPECT_EQ(host::FileText(ExecutableDirectory() + "paidproxy.cfg"), TestService::EncodedProxyList(list))
            << "the list did not arrive";
    }

    // Puts rows into the main list the way completions do, in this order from the top.
    void ShowRows(const Rows& rows)
    {
        main.listrep1.Clear();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            main.listrep1.Insert(i, rows[i][0]);
            for (std::size_t column = 1; column < rows[i].size(); ++column)
                main.listrep1.AppendSubItem(i, rows[i][column]);
        }
    }

    TestService service;
};

bool IsPing(const std::string& text)
{
    return std::regex_match(text, std::regex("0|[1-9][0-9]{0,2}"));
}

TEST_F(MainListTest, ARefreshListsEveryAnsweringProxyOrderedByPing)
{
    main.txtRegEmail.SetText("alice");
    Refresh("127.0.0.1:8080;Germany\r\n"
            "\r\n"
            "127.0.0.2:3128\r\n"
            "no-such-proxy.invalid:80;Nowhere\n"
            "127.0.0.1:8080;Germany\r\n");

    EXPECT_TRUE(errors.empty());
    const Rows rows = ListedRows(main.listrep1);
    ASSERT_EQ(rows.size(), 3u);
    // The two answers from the same proxy first, by ping; the line without a country has its
    // ping in the country column, so it compares by caption and comes last.
    for (int i : {0, 1}) {
        EXPECT_EQ(rows[i][0], "127.0.0.1:8080");
        EXPECT_EQ(rows[i][1], "Germany");
        EXPECT_TRUE(IsPing(rows[i][2])) << rows[i][2];
    }
    EXPECT_LE(CompareText(rows[0][2], rows[1][2]), 0);
    EXPECT_EQ(rows[2][0], "127.0.0.2:3128");
    EXPECT_TRUE(IsPing(rows[2][1])) << rows[2][1];
    EXPECT_EQ(rows[2][2], "");

    // The list file holds the list as it was downloaded (Refresh checks it); the hidden box the
    // decoded lines.
    const auto requests = service.Requests(ProxyListPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].user, "alice");
    EXPECT_EQ(main.HostNames.Text(),
              "127.0.0.1:8080;Germany\r\n\r\n127.0.0.2:3128\r\nno-such-proxy.invalid:80;Nowhere\r\n"
              "127.0.0.1:8080;Germany\r\n");
}

TEST_F(MainListTest, ARoutersReportThatAProxyIsUnreachableListsNothing)
{
    const host::UnreachableRouter router;
    Refresh(std::string(host::UnreachableRouter::kAddress) + ":8080;Nowhere\r\n127.0.0.1:80;DE\r\n");
    const Rows rows = ListedRows(main.listrep1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "127.0.0.1:80");
}

// Notes what the main list has drawn in each row, as it draws it, and the drawn row that the
// user's click selects.
struct DrawnRows {
    static inline TForm1* window = nullptr;
    static inline std::vector<std::string> drawn;
    static inline bool clicked = false;
    static inline std::string drawnAtClick;

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR)
    {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (message == WM_NOTIFY && header->hwndFrom == window->listrep1.Handle()) {
            if (header->code == NM_CUSTOMDRAW) {
                const auto& draw = *reinterpret_cast<const NMLVCUSTOMDRAW*>(lParam);
                if (draw.nmcd.dwDrawStage == CDDS_PREPAINT)
                    return CDRF_NOTIFYITEMDRAW;
                const std::size_t item = draw.nmcd.dwItemSpec;
                if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT && item < window->listrep1.Count()) {
                    drawn.resize(std::max(drawn.size(), item + 1));
                    drawn[item] = window->listrep1.Row(item).Caption; // the texts it draws now
                }
            }
            const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
            if (header->code == LVN_ITEMCHANGED && !clicked && (change.uNewState & LVIS_SELECTED) &&
                change.iItem >= 0 && static_cast<std::size_t>(change.iItem) < drawn.size()) {
                clicked = true;
                drawnAtClick = drawn[change.iItem];
            }
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
};

// A probe whose reply took 1500 ms, sent nowhere: its completion adds no row but re-sorts the
// list. It signals `ran` once it waits for the hand-over.
class SlowReply : public TPingThread {
public:
    explicit SlowReply(HANDLE ran) : ran_(ran) {}

protected:
    void Execute() override
    {
        ReplyCount = 1;
        RoundTripMs = 1500;
        ReleaseSemaphore(ran_, 1, nullptr);
    }

private:
    HANDLE ran_;
};

TEST_F(MainListTest, ADoubleClickWhileCompletionsArriveUsesTheRowDrawnUnderThePointer)
{
    main.Show();
    DrawnRows::window = &main;
    SetWindowSubclass(main.Handle(), &DrawnRows::Procedure, 1, 0);
    // In the order of their captions, not yet of their pings.
    ShowRows({{"a:1", "DE", "7"}, {"b:1", "DE", "3"}, {"c:1", "DE", "9"}, {"d:1", "DE", "1"},
              {"e:1", "DE", "5"}, {"f:1", "DE", "2"}});
    for (std::size_t position = 0; position < 6; ++position)
        JudgeHttp(main.listrep1, position);
    ASSERT_TRUE(PumpMessagesUntil([] { return DrawnRows::drawn.size() == 6; }));

    // Completions that re-sort the list are waiting for the UI thread when the user clicks.
    const UniqueKernelHandle ran(CreateSemaphoreA(nullptr, 0, 3, nullptr));
    for (int i = 0; i < 3; ++i) {
        auto* probe = new SlowReply(ran.get());
        RegisterWorker(probe->ThreadID());
        probe->FreeOnTerminate = true;
        probe->OnTerminate = [this](WorkerThread& sender) { main.PingThreadTerminate(static_cast<TPingThread&>(sender)); };
        probe->Start();
    }
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(WaitForSingleObject(ran.get(), 10000), WAIT_OBJECT_0);

    const RECT row = main.listrep1.ItemBounds(2);
    const LPARAM point = MAKELPARAM(20, (row.top + row.bottom) / 2);
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        PostMessageA(main.listrep1.Handle(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, point);
    AwaitProbes();
    RemoveWindowSubclass(main.Handle(), &DrawnRows::Procedure, 1);

    ASSERT_TRUE(DrawnRows::clicked);
    EXPECT_EQ(DrawnRows::drawnAtClick, main.listrep1.Row(2).Caption);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), DrawnRows::drawnAtClick);
    EXPECT_EQ(main.Label1.Text(), DrawnRows::drawnAtClick);
}

// More lines than threads may run: the lines beyond wait and are probed as workers end.
TEST_F(MainListTest, ALongerListThanThreadsMayRunIsProbedWhole)
{
    const std::size_t previous = ProbeLauncher::BoundLiveWorkers(7);
    std::string list;
    for (int i = 1; i <= 60; ++i)
        list += "127.0.2." + std::to_string(i) + ":80;DE\r\n";
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(list));
    main.Button5.Click();
    EXPECT_LE(RunningWorkers(), 7u);
    PumpMessagesUntil([&] { return main.listrep1.Count() == 60; });
    ProbeLauncher::BoundLiveWorkers(previous);
    AwaitProbes();
    EXPECT_EQ(host::FileText(ExecutableDirectory() + "paidproxy.cfg"), TestService::EncodedProxyList(list));
    const Rows rows = ListedRows(main.listrep1);
    EXPECT_EQ(rows.size(), 60u);
    std::set<std::string> captions;
    for (const auto& row : rows)
        captions.insert(row[0]);
    EXPECT_EQ(captions.size(), 60u); // each line once
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainListTest, LongLinesStayWholeInTheHiddenBox)
{
    const std::string country(600, 'x');
    Refresh("127.0.0.5:80;" + country + "\r\n");
    const Rows rows = ListedRows(main.listrep1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "127.0.0.5:80");
    EXPECT_EQ(rows[0][1].size(), 511u); // as much as the control shows of a cell
}

TEST_F(MainListTest, ALineWithoutAHostGetsNoRow)
{
    Refresh(":8080;Nowhere\r\n  :3128;Nowhere\r\n\t:80;Nowhere\r\n127.0.0.1:80;DE\r\n");
    const Rows rows = ListedRows(main.listrep1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "127.0.0.1:80");
}

TEST_F(MainListTest, WithoutTheServiceTheListEmptiesSilently)
{
    ShowRows({{"127.0.0.9:80", "Old", "5"}});
    _putenv_s("ZARNU_SERVICE_HOST", "127.0.0.1:1"); // nothing listens there
    main.Button5.Click();
    EXPECT_TRUE(ListedRows(main.listrep1).empty());
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainListTest, OnlyRepliesUnderASecondAddARowButEveryReplySorts)
{
    ShowRows({{"b:1", "X", "5"}, {"a:1", "X", "40"}});
    main.PingThreadTerminate(*FinishedProbe("c:1;Y", 0, 0, "Y"));
    EXPECT_EQ(ListedRows(main.listrep1)[0][0], "b:1"); // no reply: not even sorted

    main.PingThreadTerminate(*FinishedProbe("c:1;Y", 1, 1000, "Y"));
    EXPECT_EQ(ListedRows(main.listrep1), (Rows{{"b:1", "X", "5"}, {"a:1", "X", "40"}})); // as numbers

    main.PingThreadTerminate(*FinishedProbe("c:1;Y", 1, 999, "Y"));
    main.PingThreadTerminate(*FinishedProbe("d:1", 1, 0, ""));
    main.PingThreadTerminate(*FinishedProbe("e:1;Two\r\nLines", 1, 120, "Two\r\nLines"));
    EXPECT_EQ(ListedRows(main.listrep1), (Rows{{"b:1", "X", "5"},
                                               {"a:1", "X", "40"},
                                               {"c:1", "Y", "999"},
                                               {"d:1", "0", ""},         // by caption
                                               {"e:1", "Two", "Lines"}})); // letters after digits
    EXPECT_EQ(main.listrep1.Row(4).SubItems, (std::vector<std::string>{"Two", "Lines", "120"}));
}

TEST_F(MainListTest, ACompletionAfterTheUserBeganToCloseAddsNothing)
{
    CompleteAfterTermination([this](TPingThread& probe) { main.PingThreadTerminate(probe); }, "127.0.0.1:80;DE");
    EXPECT_TRUE(ListedRows(main.listrep1).empty());
}

TEST_F(MainListTest, HeaderClicksSortAscendingEveryTime)
{
    ShowRows({{"9.9.9.9:80", "AT", "35"}, {"10.0.0.1:80", "DE", "120"}});
    ClickColumn(main.Handle(), main.listrep1, 0);
    EXPECT_EQ(ListedRows(main.listrep1)[0][0], "10.0.0.1:80");
    ClickColumn(main.Handle(), main.listrep1, 1);
    EXPECT_EQ(ListedRows(main.listrep1)[0][0], "9.9.9.9:80");
    ClickColumn(main.Handle(), main.listrep1, 1);
    EXPECT_EQ(ListedRows(main.listrep1)[0][0], "9.9.9.9:80");
}

TEST_F(MainListTest, TheSelectionFollowsItsRow)
{
    ShowRows({{"a:1", "X", "5"}, {"b:1", "X", "7"}});
    SelectItem(main.listrep1, 1);
    main.PingThreadTerminate(*FinishedProbe("c:1;X", 1, 6, "X"));
    EXPECT_EQ(ListedRows(main.listrep1)[1][0], "c:1");
    EXPECT_EQ(SelectedItem(main.listrep1), 2);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Delete");
    EXPECT_EQ(ListedRows(main.listrep1), (Rows{{"a:1", "X", "5"}, {"c:1", "X", "6"}}));
    EXPECT_EQ(SelectedItem(main.listrep1), -1);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Delete"); // nothing selected
    EXPECT_EQ(ListedRows(main.listrep1).size(), 2u);
}

TEST_F(MainListTest, UsingAProxyRoutesTheBrowserThroughItAndStoppingUndoesIt)
{
    ShowRows({{"127.0.0.7:3128", "Spain", "12"}, {"127.0.0.8:80", "7"}});
    JudgeHttp(main.listrep1, 0);
    JudgeHttp(main.listrep1, 1);
    DoubleClickItem(main.listrep1, 0); // nothing selected yet
    EXPECT_FALSE(raw::Get(SettingsKey, "ProxyEnable"));
    EXPECT_EQ(main.Label1.Text(), "[unknown]");

    SelectItem(main.listrep1, 0);
    DoubleClickItem(main.listrep1, 0);
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "127.0.0.7:3128");
    EXPECT_EQ(main.Label1.Text(), "127.0.0.7:3128");
    EXPECT_EQ(main.Label2.Text(), "Spain");

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Use This Proxy");
    EXPECT_EQ(main.Label2.Text(), "Spain\r\n12\r\n");

    SelectItem(main.listrep1, 1);
    DoubleClickItem(main.listrep1, 1);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "127.0.0.8:80");
    EXPECT_EQ(main.Label2.Text(), "7"); // no country: the ping is the first sub-item

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), ":");
    EXPECT_EQ(main.Label1.Text(), "[unknown]");
    EXPECT_EQ(main.Label2.Text(), "[unknown]");
    EXPECT_EQ(checker.Label2.Text(), "[unknown]");
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainListTest, ARegistryFailureIsShownAndTheLabelsKeepTheirText)
{
    ShowRows({{"127.0.0.7:3128", "Spain", "12"}});
    SelectItem(main.listrep1, 0);
    raw::BreakKey(SettingsKey);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Use This Proxy");
    raw::RestoreKey(SettingsKey);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(main.Label1.Text(), "127.0.0.7:3128");
}

TEST_F(MainListTest, CopyPutsTheCaptionOnTheClipboardUnlessAnotherWindowHoldsIt)
{
    ShowRows({{"127.0.0.7:3128", "Spain", "12"}});
    SelectItem(main.listrep1, 0);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Copy to Clipboard");
    EXPECT_EQ(ClipboardText(), "127.0.0.7:3128");
    EXPECT_TRUE(errors.empty());

    // Another thread holds the clipboard open meanwhile.
    const UniqueKernelHandle opened(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    struct Events { HANDLE opened, release; } events{opened.get(), release.get()};
    const UniqueKernelHandle holder(CreateThread(nullptr, 0, [](void* parameter) -> DWORD {
        auto& e = *static_cast<Events*>(parameter);
        OpenClipboard(nullptr);
        SetEvent(e.opened);
        WaitForSingleObject(e.release, 10000);
        CloseClipboard();
        return 0;
    }, &events, 0, nullptr));
    WaitForSingleObject(opened.get(), 10000);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Copy to Clipboard");
    SetEvent(release.get());
    WaitForSingleObject(holder.get(), 10000);
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot open clipboard."});
}

// The status bar: how far a refresh has got while it runs, what it found once it has ended, and
// that a second click dropped the first.
TEST_F(MainListTest, TheStatusBarFollowsARefreshAndSumsItUp)
{
    const unsigned previousLimit = ProxyCheckPool::LimitChecksTo(1000);
    std::string lines;
    for (int i = 0; i < 300; ++i)
        lines += "127.0.1." + std::to_string(i % 250) + ":" + std::to_string(8080 + i / 250) + ";Here\r\n";
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(lines));
    main.Button5.Click();
    EXPECT_EQ(main.StatusBar1.Text(), "0 of 300 probed, 0 listed");
    // Shown (the window itself is not shown in these tests).
    const auto progressShown = [&] { return (GetWindowLongPtrA(main.StatusBar1.Progress(), GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_TRUE(progressShown());

    const std::regex progress("([0-9]+) of 300 (probed, [0-9]+ listed|lines checked, 0 work)");
    const std::regex summary("300 probed in [0-9]+\\.[0-9] s: ([0-9,]+) answered, 0 work \\(0 elite, 0 anonymous, "
                             "0 transparent\\), 0 carry HTTPS");
    std::set<std::string> seen;
    const auto awaitSummary = [&] {
        return PumpMessagesUntil([&] {
            const std::string text = main.StatusBar1.Text();
            seen.insert(text);
            return std::regex_match(text, summary);
        });
    };
    EXPECT_TRUE(awaitSummary()) << main.StatusBar1.Text();
    EXPECT_NE(main.StatusBar1.Text().find(": 300 answered"), std::string::npos);
    for (const std::string& text : seen)
        EXPECT_TRUE(std::regex_match(text, progress) || std::regex_match(text, summary)) << text;
    EXPECT_FALSE(progressShown());

    main.Button5.Click();
    main.Button5.Click();
    EXPECT_EQ(main.StatusBar1.Text(), "The earlier command was dropped and a new one began. 0 of 300 probed, 0 listed");
    EXPECT_TRUE(awaitSummary()) << main.StatusBar1.Text();
    EXPECT_TRUE(errors.empty());
    ProxyCheckPool::LimitChecksTo(previousLimit);
}

TEST_F(MainListTest, ARefreshThatFindsNothingOrNoListSaysSoInTheStatusBar)
{
    Refresh("no-such-proxy.invalid:80;Nowhere\r\nnor-this.invalid:80;Nowhere\r\n");
    EXPECT_TRUE(PumpMessagesUntil([&] { return main.StatusBar1.Text().rfind("No proxy answered: 2 probed in ", 0) == 0; }))
        << main.StatusBar1.Text();

    service.Serve("paidencrypt.txt", "Not here", "status 404");
    main.Button5.Click();
    EXPECT_EQ(main.StatusBar1.Text(), "The proxy list could not be fetched: the service answered 404");
    _putenv_s("ZARNU_SERVICE_HOST", "127.0.0.1:1"); // nothing listens there
    main.Button5.Click();
    EXPECT_EQ(main.StatusBar1.Text(), "The proxy list could not be fetched: no connection to the service");
    PumpMessagesUntil([] { return false; }, 300); // it stays so
    EXPECT_EQ(main.StatusBar1.Text(), "The proxy list could not be fetched: no connection to the service");
    EXPECT_TRUE(errors.empty());
}

} // namespace
