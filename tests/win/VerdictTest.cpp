#include "HostTools.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include "verify/ProxyCheckPool.h"

#include <algorithm>
#include <cctype>
#include <map>

using namespace lists;

namespace {

// Real proxies of every kind a public list holds, each on an address of its own, and the service
// standing in for its HTTPS side too. Every row ends with its verdict and its look.
class VerdictTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
        previousLimit = ProxyCheckPool::LimitChecksTo(3000);
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

    // Waits for every row's verdict, then checks each against what its proxy is.
    void ExpectVerdicts(HWND window, ProxyListView& list)
    {
        ASSERT_TRUE(PumpMessagesUntil(
            [&] {
                const Rows verdicts = ListedVerdicts(list);
                return verdicts.size() == 7 &&
                       std::all_of(verdicts.begin(), verdicts.end(), [](const auto& row) { return !row[2].empty(); });
            },
            30000))
            << "not every verdict arrived";
        const std::map<std::string, std::vector<std::string>> expected = {
            {"127.0.0.81:8888", {"elite"}},       {"127.0.0.82:8888", {"anonymous"}},
            {"127.0.0.83:8888", {"transparent"}}, {"127.0.0.84:8888", {"no tunnel"}},
            {"127.0.0.86:8888", {"nothing"}},     {hanging.Host(), {"nothing"}},
            {service.Host(), {"nothing"}}};
        const Rows verdicts = ListedVerdicts(list);
        for (int item = 0; item < static_cast<int>(verdicts.size()); ++item) {
            const std::vector<std::string>& row = verdicts[item];
            const std::string proxy = row[0].substr(0, row[0].find(';'));
            SCOPED_TRACE(proxy);
            const std::string kind = expected.at(proxy).front();
            const bool web = kind != "nothing";
            EXPECT_EQ(row[1] == "fails", !web) << row[1];
            if (web) {
                EXPECT_TRUE(std::all_of(row[1].begin(), row[1].end(), ::isdigit)) << row[1];
            }
            EXPECT_EQ(row[2], web && kind != "no tunnel" ? "yes" : "no");
            EXPECT_EQ(row[3], !web ? "" : kind == "no tunnel" ? "anonymous" : kind);
            const COLORREF colour = RowColour(window, list, item);
            EXPECT_EQ(colour, !web ? GetSysColor(COLOR_GRAYTEXT) : kind == "transparent" ? RGB(192, 0, 0) : CLR_DEFAULT);
        }
    }

    const std::string proxyLines = "127.0.0.81:8888\r\n127.0.0.82:8888\r\n127.0.0.83:8888\r\n127.0.0.84:8888\r\n"
                                   "127.0.0.86:8888\r\n";
    unsigned previousLimit = kProxyCheckLimitMs;
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    const TestService hanging{"127.0.0.85", {"--never-answer", "yes"}};
    const host::Tinyproxy elite{"127.0.0.81", 8888, {"DisableViaHeader Yes"}};
    const host::Tinyproxy anonymous{"127.0.0.82", 8888};
    const host::Tinyproxy transparent{"127.0.0.83", 8888, {"XTinyproxy Yes"}};
    const host::Tinyproxy noTunnel{"127.0.0.84", 8888, {"ConnectPort 563"}};
};

TEST_F(VerdictTest, EveryRowOfTheMainListGetsItsVerdict)
{
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(proxyLines + hanging.Host() + ";Nowhere\r\n" +
                                                                   service.Host() + ";Here\r\n"));
    main.Button5.Click();
    ExpectVerdicts(main.Handle(), main.listrep1);
    EXPECT_TRUE(errors.empty());
}

TEST_F(VerdictTest, EveryAnsweringLineOfTheCheckerGetsItsVerdict)
{
    checker.HostNames.SetText(proxyLines + hanging.Host() + "\r\n" + service.Host() + "\r\nno-such-proxy.invalid:80");
    checker.Button5.Click();
    AwaitProbes();
    // The line that got no answer has no check.
    const Rows bad = ListedCells(checker.ListView1, 0, checker.ListView1.ColumnCount());
    const auto badRow = std::find_if(bad.begin(), bad.end(), [](const auto& row) { return row[1] == "BAD PROXY"; });
    ASSERT_NE(badRow, bad.end());
    EXPECT_EQ((std::vector<std::string>(badRow->begin() + 2, badRow->end())), (std::vector<std::string>{"", "", ""}));
    checker.ListView1.Delete(static_cast<std::size_t>(badRow - bad.begin()));
    ExpectVerdicts(checker.Handle(), checker.ListView1);
    EXPECT_TRUE(errors.empty());
}

} // namespace
