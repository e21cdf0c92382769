#include "CheckSupport.h"
#include "HostTools.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include "core/ServiceUrl.h"
#include "verify/ProxyCheckPool.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>

using namespace lists;

namespace {

// Real proxies of every kind a public list holds, each on an address of its own, hostile ones
// that forge, replay or rewrite the service's page, and the service standing in for its HTTPS
// side too. Every row ends with the verdict it earns and its look.
class VerdictTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
        previousLimit = ProxyCheckPool::LimitChecksTo(3000);
        CheckEngine engine;
        replaying.Serve("replay.page", checks::PageThrough(engine, elite.Host(), service.Host()));
        Start();
    }

    void TearDown() override
    {
        ProxyCheckPool::LimitChecksTo(previousLimit);
        WindowTest::TearDown();
    }

    // The text colour the list draws a row in.
    static COLORREF RowColour(HWND window, const ProxyListView& list, int item)
    {
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr = {list.Handle(), static_cast<UINT_PTR>(GetDlgCtrlID(list.Handle())), static_cast<UINT>(NM_CUSTOMDRAW)};
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(item);
        draw.clrText = CLR_DEFAULT;
        SendMessageA(window, WM_NOTIFY, draw.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
        return draw.clrText;
    }

    // Waits for every one of `rows` rows' verdicts, then checks each against what its proxy is.
    void ExpectVerdicts(HWND window, ProxyListView& list, std::size_t rows)
    {
        ASSERT_TRUE(PumpMessagesUntil(
            [&] {
                const Rows verdicts = ListedVerdicts(list);
                return verdicts.size() == rows &&
                       std::all_of(verdicts.begin(), verdicts.end(), [](const auto& row) { return !row[2].empty(); });
            },
            30000))
            << "not every verdict arrived";
        const std::map<std::string, std::string> expected = {
            {elite.Host(), "elite"},   {anonymous.Host(), "anonymous"},  {transparent.Host(), "transparent"},
            {noTunnel.Host(), "no tunnel"}, {"127.0.0.86:8888", "nothing"}, {hanging.Host(), "nothing"},
            {service.Host(), "nothing"}, {forging.Host(), "nothing"},   {replaying.Host(), "nothing"},
            {rewriting.Host(), "nothing"}};
        const Rows verdicts = ListedVerdicts(list);
        for (int item = 0; item < static_cast<int>(verdicts.size()); ++item) {
            const std::vector<std::string>& row = verdicts[item];
            const std::string proxy = row[0].substr(0, row[0].find(';'));
            SCOPED_TRACE(proxy);
            const std::string kind = expected.at(proxy);
            const bool web = kind != "nothing";
            EXPECT_EQ(row[1] == "fails", !web) << row[1];
            if (web) {
                EXPECT_TRUE(std::all_of(row[1].begin(), row[1].end(), ::isdigit)) << row[1];
            }
            EXPECT_EQ(row[2], web && kind != "no tunnel" ? "yes" : "no");
            EXPECT_EQ(row[3], !web ? "" : kind == "no tunnel" ? "anonymous" : kind);
            EXPECT_EQ(list.ItemText(item, TypeColumn(list)), web ? "HTTP" : "") << "its type";
            const COLORREF colour = RowColour(window, list, item);
            EXPECT_EQ(colour, !web ? GetSysColor(COLOR_GRAYTEXT) : kind == "transparent" ? RGB(192, 0, 0) : CLR_DEFAULT);
        }
    }

    // Once the command has ended, the status bar sums up the verdicts: the ten proxies, and
    // `unanswered` more lines that got no echo.
    static void ExpectSummary(const StatusBar& bar, int unanswered = 0)
    {
        const std::regex summary(std::to_string(kRows + unanswered) +
                                 " probed in [0-9]+\\.[0-9] s: 10 answered, 4 work \\(1 elite, 2 anonymous, 1 transparent\\), "
                                 "3 carry HTTPS");
        EXPECT_TRUE(PumpMessagesUntil([&] { return std::regex_match(bar.Text(), summary); }, 2000)) << bar.Text();
    }

    // Every proxy as a list line, one per line.
    std::string ProxyLines() const
    {
        std::string lines;
        for (const std::string& proxy : {elite.Host(), anonymous.Host(), transparent.Host(), noTunnel.Host(),
                                         std::string("127.0.0.86:8888"), hanging.Host(), service.Host(),
                                         forging.Host(), replaying.Host(), rewriting.Host()})
            lines += proxy + "\r\n";
        return lines;
    }
    static constexpr std::size_t kRows = 10;

    unsigned previousLimit = kProxyCheckLimitMs;
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    const TestService hanging{"127.0.0.85", {"--never-answer", "yes"}};
    const TestService forging{"127.0.0.92", {"--hostile", "forge"}};
    TestService replaying{"127.0.0.93", {"--hostile", "replay"}};
    const TestService rewriting{"127.0.0.94", {"--hostile", "rewrite"}};
    const host::Tinyproxy elite{"127.0.0.81", 8888, {"DisableViaHeader Yes"}};
    const host::Tinyproxy anonymous{"127.0.0.82", 8888};
    const host::Tinyproxy transparent{"127.0.0.83", 8888, {"XTinyproxy Yes"}};
    const host::Tinyproxy noTunnel{"127.0.0.84", 8888, {"ConnectPort 563"}};
};

TEST_F(VerdictTest, EveryRowOfTheMainListGetsItsVerdict)
{
    // The browser identity the user chose is the one the checks show.
    raw::SetText(AgentKey, "Platform", "Windows NT 6.1");
    raw::SetText(AgentKey, "Version", "MSIE 9.0");
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(ProxyLines()));
    const std::size_t before = service.Requests(IpCheckPagePath).size(); // the replayed page's recording
    main.Button5.Click();
    ExpectVerdicts(main.Handle(), main.listrep1, kRows);
    EXPECT_TRUE(errors.empty());
    ExpectSummary(main.StatusBar1);
    EXPECT_EQ(checker.StatusBar1.Text(), "") << "the checker ran no command";
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Copy Working Proxies");
    EXPECT_EQ(ClipboardText(), elite.Host() + "\r\n" + anonymous.Host() + "\r\n" + noTunnel.Host() + "\r\n" +
                                   transparent.Host());
    const std::vector<TestService::Request> pages = service.Requests(IpCheckPagePath);
    for (auto request = pages.begin() + static_cast<std::ptrdiff_t>(before); request != pages.end(); ++request)
        if (request->from != "127.0.0.1") {
            EXPECT_EQ(request->userAgent, "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)") << request->from;
        }
}

TEST_F(VerdictTest, EveryAnsweringLineOfTheCheckerGetsItsVerdict)
{
    checker.HostNames.SetText(ProxyLines() + "no-such-proxy.invalid:80");
    checker.Button5.Click();
    AwaitProbes();
    // The line that got no answer and failed its check shows no verdict.
    const Rows bad = ListedCells(checker.ListView1, 0, TypeColumn(checker.ListView1) + 1);
    const auto badRow = std::find_if(bad.begin(), bad.end(), [](const auto& row) { return row[1] == "BAD PROXY"; });
    ASSERT_NE(badRow, bad.end());
    EXPECT_EQ((std::vector<std::string>(badRow->begin() + 2, badRow->end())), (std::vector<std::string>{"", "", "", "", ""}));
    checker.ListView1.Delete(static_cast<std::size_t>(badRow - bad.begin()));
    ExpectVerdicts(checker.Handle(), checker.ListView1, kRows);
    EXPECT_TRUE(errors.empty());
    ExpectSummary(checker.StatusBar1, 1);
    EXPECT_EQ(main.StatusBar1.Text(), "") << "the main window ran no command";
    EXPECT_TRUE(checker.PopupMenu1.ItemEnabled(4));
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Copy Working Proxies");
    EXPECT_EQ(ClipboardText(), elite.Host() + "\r\n" + anonymous.Host() + "\r\n" + noTunnel.Host() + "\r\n" +
                                   transparent.Host());
}

// A proxy that leaves from another address than it listens on, in another country than its
// line says: both lists show where the user appears, the labels too once it is in use, and the
// detailed copy tells it all.
TEST_F(VerdictTest, WhereTheUserAppearsIsShownInBothListsTheLabelsAndTheDetailedCopy)
{
    const host::Tinyproxy leaving{"127.0.0.95", 8888, {"DisableViaHeader Yes", "Bind 127.0.0.96"}};
    service.Serve("places.txt", "127.0.0.96|JP Japan|AS64500 Zarnu Test Net\n127.0.0.81|DE Germany|AS64501 Other Net\n");
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(leaving.Host() + ";US\r\n" + elite.Host() + ";Germany\r\n"));
    main.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return AllVerdictsIn(main.listrep1) && main.listrep1.Count() == 2; }, 30000));
    std::map<std::string, std::vector<std::string>> shown;
    for (const auto& row : ListedCells(main.listrep1, 0, TypeColumn(main.listrep1) + 1))
        shown[row[0]] = row;
    ASSERT_EQ(shown.count(leaving.Host()) + shown.count(elite.Host()), 2u)
        << testing::PrintToString(ListedCells(main.listrep1, 0, TypeColumn(main.listrep1) + 1));
    EXPECT_EQ(shown[leaving.Host()][1], "Japan (listed: US)");
    EXPECT_EQ(shown[leaving.Host()][6], "Japan, 127.0.0.96");
    EXPECT_EQ(shown[elite.Host()][1], "Germany") << "the list was right";
    EXPECT_EQ(shown[elite.Host()][6], "Germany") << "its own address is no news";

    // Both are elite with HTTPS: which goes first is a matter of their web times.
    const auto lines = [](std::string text) {
        std::vector<std::string> split;
        for (std::size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
            split.push_back(text.substr(0, end));
        split.push_back(text);
        std::sort(split.begin(), split.end());
        return split;
    };
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Copy Working Proxies with Details");
    EXPECT_EQ(lines(ClipboardText()),
              lines(elite.Host() + "\t127.0.0.81\tGermany\telite\tyes\t" + shown[elite.Host()][3] + "\r\n" +
                    leaving.Host() + "\t127.0.0.96\tJapan\telite\tyes\t" + shown[leaving.Host()][3]));
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Copy Working Proxies");
    EXPECT_EQ(lines(ClipboardText()), lines(elite.Host() + "\r\n" + leaving.Host())) << "the plain copy is as it was";

    const Rows listed = ListedRows(main.listrep1);
    const int leavingItem = listed[0][0] == leaving.Host() ? 0 : 1;
    SelectItem(main.listrep1, leavingItem);
    DoubleClickItem(main.listrep1, leavingItem);
    EXPECT_EQ(main.Label2.Text(), "Japan");
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Use This Proxy");
    EXPECT_TRUE(main.Label2.Text().rfind("Japan\r\n", 0) == 0) << main.Label2.Text();
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");

    // The checker has no country column: its "Exit" column tells.
    checker.HostNames.SetText(leaving.Host() + "\r\n");
    checker.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return AllVerdictsIn(checker.ListView1) && checker.ListView1.Count() == 1; }, 30000));
    EXPECT_EQ(ListedCells(checker.ListView1, 0, TypeColumn(checker.ListView1) + 1)[0][5], "Japan, 127.0.0.96");
    EXPECT_TRUE(errors.empty());
}

// A user behind a proxy of their own, which reaches the service from another address than the
// machine's: a proxy that passes on the machine's own address is still seen through.
TEST_F(VerdictTest, APassedOnAddressIsSeenThroughWhereTheUserHasAProxyOfTheirOwn)
{
    const host::Tinyproxy users{"127.0.0.78", 8888};
    raw::SetNumber(SettingsKey, "ProxyEnable", 1);
    raw::SetText(SettingsKey, "ProxyServer", users.Host());
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(transparent.Host() + ";Here\r\n"));
    main.Button5.Click();
    checker.HostNames.SetText(transparent.Host());
    checker.Button5.Click();
    for (auto [window, list] : {std::pair{main.Handle(), &main.listrep1}, {checker.Handle(), &checker.ListView1}}) {
        ASSERT_TRUE(PumpMessagesUntil([&] {
            const Rows verdicts = ListedVerdicts(*list);
            return verdicts.size() == 1 && !verdicts[0][3].empty();
        })) << "no verdict";
        EXPECT_EQ(ListedVerdicts(*list)[0][3], "transparent");
        EXPECT_EQ(RowColour(window, *list, 0), RGB(192, 0, 0));
    }
    EXPECT_TRUE(errors.empty());
}

// SOCKS proxies among pasted lines: each row says its proxy's type, the copy names the SOCKS
// ones with their scheme, and the summary counts the types.
TEST_F(VerdictTest, SocksProxiesShowTheirTypeInTheCopyAndTheSummary)
{
    const host::Microsocks socks5{"127.0.0.101", 1080};
    const host::Dante socks4{"127.0.0.103", 1080, host::Dante::Socks4Only};
    checker.HostNames.SetText(socks5.Host() + "\r\n" + socks4.Host() + "\r\n" + elite.Host() + "\r\n");
    checker.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return AllVerdictsIn(checker.ListView1) && checker.ListView1.Count() == 3; }, 30000));
    std::map<std::string, std::string> types;
    for (const auto& row : ListedCells(checker.ListView1, 0, TypeColumn(checker.ListView1) + 1))
        types[row[0]] = row.back();
    EXPECT_EQ(types, (std::map<std::string, std::string>{
                         {socks5.Host(), "SOCKS5"}, {socks4.Host(), "SOCKS4"}, {elite.Host(), "HTTP"}}));
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Copy Working Proxies");
    const std::string copied = ClipboardText();
    for (const std::string& line : {"socks5://" + socks5.Host(), "socks4://" + socks4.Host(), elite.Host()})
        EXPECT_NE(("\r\n" + copied + "\r\n").find("\r\n" + line + "\r\n"), std::string::npos) << copied;
    const std::regex summary(".*: 3 answered, 3 work \\(3 elite, 0 anonymous, 0 transparent\\), 3 carry HTTPS; "
                             "by type 1 HTTP, 1 SOCKS5, 1 SOCKS4");
    EXPECT_TRUE(PumpMessagesUntil([&] { return std::regex_match(checker.StatusBar1.Text(), summary); }, 2000))
        << checker.StatusBar1.Text();
    EXPECT_TRUE(errors.empty());
}

// The program's threads and memory, as the platform counts them.
std::size_t ThreadCount()
{
    const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{sizeof entry};
    std::size_t count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

double WorkingSetMb()
{
    PROCESS_MEMORY_COUNTERS counters{sizeof counters};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize / 1048576.0;
}

// Proxies that drip their answer byte by byte, or flood it with headers, hold nothing of the
// program's past a check's limit, however many there are and however often they are checked.
TEST_F(VerdictTest, HostileProxiesHoldNothingPastTheLimit)
{
    const TestService dripping{"127.0.0.87", {"--hostile", "drip"}};
    const TestService flooding{"127.0.0.91", {"--hostile", "flood"}};
    ProxyCheckPool pool;
    std::map<std::uint64_t, ProxyVerdict> verdicts;
    const auto batch = [&](const std::vector<std::string>& proxies) {
        verdicts.clear();
        pool.Begin(RequestWay{RequestWay::Kind::Direct, {}, {}}, "Mozilla/5.0",
                   [&](std::uint64_t row, const ProxyVerdict& verdict) { verdicts[row] = verdict; });
        for (std::size_t row = 0; row < proxies.size(); ++row)
            pool.Add(row, proxies[row]);
        EXPECT_TRUE(PumpMessagesUntil([&] { return verdicts.size() == proxies.size(); }, 20000));
    };
    batch({elite.Host()}); // the pool's own threads are there from now on
    const std::size_t threads = ThreadCount();
    const double workingSet = WorkingSetMb();

    std::vector<std::string> hostile(200, dripping.Host());
    hostile.push_back(flooding.Host());
    for (int round = 0; round < 2; ++round) {
        batch(hostile);
        EXPECT_TRUE(std::none_of(verdicts.begin(), verdicts.end(), [](const auto& v) { return v.second.webMs || v.second.https; }));
    }
    PumpMessagesUntil([] { return false; }, 1000);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_LT(WorkingSetMb(), workingSet + 8) << "from " << workingSet << " MB";
    EXPECT_EQ(pool.Running(), 0u);

    batch({elite.Host()});
    EXPECT_TRUE(verdicts.at(0).webMs);
}

} // namespace
