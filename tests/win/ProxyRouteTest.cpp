#include "HostTools.h"
#include "TestService.h"
#include "ListTestSupport.h"

#include "core/ServiceUrl.h"
#include "settings/BrowserLaunch.h"

using namespace lists;

namespace {

// The caller that a what-is-my-IP page (by default the service's) shows to a browser started now,
// which goes through whatever proxy the user's Internet Settings name.
std::string CallerSeenByANewBrowser(const std::string& address = IpCheckPageAddress())
{
    const char* client = getenv("ZARNU_IP_CHECK_CLIENT");
    if (!client) {
        ADD_FAILURE() << "ZARNU_IP_CHECK_CLIENT names no program";
        return {};
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    CreatePipe(&read, &write, &inheritable, 0);
    const UniqueKernelHandle output(read);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);

    std::string command = "\"" + TestService::WindowsPath(client) + "\" " + address;
    STARTUPINFOA startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    const bool ok = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &started);
    CloseHandle(write);
    if (!ok) {
        ADD_FAILURE() << "cannot start " << command;
        return {};
    }
    const UniqueKernelHandle process(started.hProcess);
    CloseHandle(started.hThread);
    std::string page;
    char buffer[256];
    DWORD count = 0;
    while (ReadFile(output.get(), buffer, sizeof buffer, &count, nullptr) && count > 0)
        page.append(buffer, count);
    WaitForSingleObject(process.get(), 10000);
    const std::size_t caller = page.find("REMOTE_ADDR = ");
    if (caller == std::string::npos)
        return "no address in: " + page;
    return page.substr(caller + 14, page.find('\n', caller) - caller - 14);
}

class ProxyRouteTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
        Start();
        main.listrep1.Insert(0, "127.0.0.77:8888");
        checker.PingThreadTerminate(*FinishedProbe("127.0.0.77:8888", 1, 3));
        JudgeHttp(main.listrep1, 0);
        JudgeHttp(checker.ListView1, 0);
    }

    TestService service;
    host::Tinyproxy proxy{"127.0.0.77", 8888};
};

TEST_F(ProxyRouteTest, ABrowserStartedAfterAChangeGoesTheWayTheProgramSays)
{
    const std::string direct = "127.0.0.1";
    const std::string proxied = "127.0.0.77";
    EXPECT_EQ(CallerSeenByANewBrowser(), direct);

    SelectItem(main.listrep1, 0);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Use This Proxy");
    EXPECT_EQ(CallerSeenByANewBrowser(), proxied);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    EXPECT_EQ(CallerSeenByANewBrowser(), direct);

    SelectItem(checker.ListView1, 0);
    DoubleClickItem(checker.ListView1, 0);
    EXPECT_EQ(CallerSeenByANewBrowser(), proxied);
    main.Button3.Click();
    EXPECT_EQ(CallerSeenByANewBrowser(), direct);
    EXPECT_TRUE(errors.empty());
}

// Wine's client honours the entries it can match: names and addresses, and a wildcard in front
// ("*.example"), but not one at the end ("192.168.*"). So the user's own entry stands for the
// local ranges here.
TEST_F(ProxyRouteTest, AnAddressOfTheUsersOwnNetworkIsReachedDirectlyWhileTheProxyIsOn)
{
    const host::PrivateAddress router{"192.168.77.1"};
    const TestService page{"192.168.77.1"};
    raw::SetText(SettingsKey, "ProxyOverride", "192.168.77.1");
    SelectItem(main.listrep1, 0);
    DoubleClickItem(main.listrep1, 0);
    EXPECT_EQ(CallerSeenByANewBrowser(), "127.0.0.77");
    EXPECT_EQ(CallerSeenByANewBrowser("http://" + page.Host() + "/whatismyip.php"), "192.168.77.1");
}

// The callers the service saw of the program's own requests: the two lists, and the `pages`
// pages that tell the user's own addresses for the checks of the listed proxies. A service of its
// own for each time: Wine's client would reuse a connection made without a proxy for a request
// that is to go through one.
std::vector<std::string> CallersOfTheOwnRequests(TForm1& main, std::size_t pages)
{
    TestService service;
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList("127.0.0.1:8080;Germany\r\n"));
    service.Serve("useragent.txt", "[OSPaid]\r\ncountos=1\r\n0=Windows NT 10.0\r\n");
    main.Button5.Click();
    AwaitProbes();
    main.FetchAgentList();
    EXPECT_EQ(ListedRows(main.listrep1).size(), 1u) << "the list did not arrive";
    EXPECT_TRUE(PumpMessagesUntil([&] { return service.Requests(IpCheckPagePath).size() == pages; }));
    std::vector<std::string> callers;
    for (const TestService::Request& request : service.Requests())
        callers.push_back(request.path + " from " + request.from);
    std::sort(callers.begin(), callers.end());
    return callers;
}

TEST_F(ProxyRouteTest, TheProgramsOwnRequestsNeverGoThroughItsOwnProxy)
{
    const host::Tinyproxy users{"127.0.0.78", 8888};
    struct Case {
        bool usersProxyOn;
        const char* programsProxy; // nullptr: none in place
        std::string caller;
        bool direct; // the own way is direct: the user's address is asked once, not twice
    };
    for (const Case& c : {Case{false, nullptr, "127.0.0.1", false}, Case{true, nullptr, "127.0.0.78", false},
                          Case{false, "127.0.0.77:8888", "127.0.0.1", true},
                          Case{true, "127.0.0.77:8888", "127.0.0.78", false},
                          Case{false, "127.0.0.66:9", "127.0.0.1", true}}) { // nothing listens there
        SCOPED_TRACE(std::string(c.programsProxy ? c.programsProxy : "none") +
                     (c.usersProxyOn ? ", the user's own proxy on" : ""));
        LeaveACleanMachine();
        raw::SetNumber(SettingsKey, "ProxyEnable", c.usersProxyOn);
        raw::SetText(SettingsKey, "ProxyServer", "127.0.0.78:8888");
        if (c.programsProxy)
            ApplySystemProxy(c.programsProxy);
        // The user's address is asked directly, as the checks reach their proxies, and the own way.
        std::vector<std::string> expected{ProxyListPath + (" from " + c.caller), AgentListPath + (" from " + c.caller),
                                          IpCheckPagePath + std::string(" from 127.0.0.1")};
        if (!c.direct)
            expected.push_back(IpCheckPagePath + (" from " + c.caller));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(CallersOfTheOwnRequests(main, expected.size() - 2), expected);
    }
}

} // namespace
