// Runs with the platform's echo library switched off (ZARNU_WINE_DLL_OVERRIDES=icmp=d), as on a
// system that lacks it: every probing command says so once, and starts nothing.

#include "ListTestSupport.h"
#include "TestService.h"

using namespace lists;

namespace {

TEST(MissingEchoClient, EveryProbingCommandSaysSoOnce)
{
    ASSERT_FALSE(UniqueHModule(LoadLibraryA("icmp.dll"))) << "the echo library is there";
    TestService service;
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList("127.0.0.1:80;DE\r\n127.0.0.2:80;FR\r\n"));
    std::vector<std::string> errors;
    const ErrorBoxPresenter previous = ReplaceErrorBox([&](const std::string& text) { errors.push_back(text); });
    {
        TForm1 main;
        TForm2 checker;
        main.Create();
        main.CreateChecker(checker);
        main.Button5.Click();
        checker.HostNames.SetText("127.0.0.1:80\r\n127.0.0.2:80");
        checker.Button5.Click();
        AwaitProbes();
        EXPECT_EQ(main.listrep1.Count(), 0u);
        EXPECT_EQ(checker.ListView1.Count(), 0u);
        checker.Destroy();
        main.Destroy();
    }
    ReplaceErrorBox(previous);
    ASSERT_EQ(errors.size(), 2u);
    for (const std::string& error : errors)
        EXPECT_EQ(error.rfind("Unable to register icmp.dll: ", 0), 0u) << error;
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
}

} // namespace
