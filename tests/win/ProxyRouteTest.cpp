#include "HostTools.h"
#include "TestService.h"
#include "ListTestSupport.h"

#include "settings/BrowserLaunch.h"

using namespace lists;

namespace {

// The what-is-my-IP page as a browser started now shows it, through whatever proxy the user's
// Internet Settings name.
std::string PageSeenByANewBrowser()
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

    std::string command = "\"" + TestService::WindowsPath(client) + "\" " + IpCheckPageAddress();
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
    return page;
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
    }

    TestService service;
    host::Tinyproxy proxy{"127.0.0.77", 8888};
};

TEST_F(ProxyRouteTest, ABrowserStartedAfterAChangeGoesTheWayTheProgramSays)
{
    const std::string direct = "Your IP address is 127.0.0.1\n";
    const std::string proxied = "Your IP address is 127.0.0.77\n";
    EXPECT_EQ(PageSeenByANewBrowser(), direct);

    SelectItem(main.listrep1, 0);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Use This Proxy");
    EXPECT_EQ(PageSeenByANewBrowser(), proxied);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    EXPECT_EQ(PageSeenByANewBrowser(), direct);

    SelectItem(checker.ListView1, 0);
    DoubleClickItem(checker.ListView1, 0);
    EXPECT_EQ(PageSeenByANewBrowser(), proxied);
    main.Button3.Click();
    EXPECT_EQ(PageSeenByANewBrowser(), direct);
    EXPECT_TRUE(errors.empty());
}

} // namespace
