#include "ListTestSupport.h"

#include <functional>
#include <tuple>

using namespace lists;

namespace {

// The proxy the user set up in the system's own dialog before the program ran.
void SetUsersProxy()
{
    raw::SetNumber(SettingsKey, "ProxyEnable", 1);
    raw::SetText(SettingsKey, "ProxyServer", "corp:3128");
}

void ExpectUsersProxy()
{
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
}

class SystemProxyTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Start();
        main.listrep1.Insert(0, "127.0.0.7:3128");
        main.listrep1.AppendSubItem(0, "Spain");
        checker.PingThreadTerminate(*FinishedProbe("127.0.0.8:80", 1, 4));
    }

    void UseFromMain()
    {
        SelectItem(main.listrep1, 0);
        DoubleClickItem(main.listrep1, 0);
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "127.0.0.7:3128");
    }

    void UseFromChecker()
    {
        SelectItem(checker.ListView1, 0);
        ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Use This Proxy");
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "127.0.0.8:80");
    }

    void StopOnMain() { ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP"); }
};

// Every way the proxy is switched off (Stop Hide My IP on either window, both exits, the end of
// the session), after a use from either window.

class SwitchOffTest : public SystemProxyTest,
                      public testing::WithParamInterface<std::tuple<bool, int>> {
public:
    void Use() { std::get<0>(GetParam()) ? UseFromChecker() : UseFromMain(); }
    void SwitchOffNow()
    {
        switch (std::get<1>(GetParam())) {
        case 0: StopOnMain(); break;
        case 1: ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Stop Hide My IP"); break;
        case 2: main.Button3.Click(); break;
        case 3: SendMessageA(main.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); break;
        case 4:
            SendMessageA(main.Handle(), WM_QUERYENDSESSION, 0, 0);
            SendMessageA(main.Handle(), WM_ENDSESSION, TRUE, 0);
            break;
        }
    }
};

TEST_P(SwitchOffTest, PutsTheUsersOwnProxyBack)
{
    SetUsersProxy();
    Use();
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_TRUE(raw::Get(SettingsKey, SavedProxyValue));
    SwitchOffNow();
    ExpectUsersProxy();
    EXPECT_TRUE(errors.empty());
}

std::string SwitchOffName(const testing::TestParamInfo<std::tuple<bool, int>>& info)
{
    static const char* const ways[] = {"StopOnMain", "StopOnChecker", "CloseButton", "TitleBar",
                                       "SessionEnd"};
    return std::string(std::get<0>(info.param) ? "UsedOnChecker_" : "UsedOnMain_") +
           ways[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryWay, SwitchOffTest,
                         testing::Combine(testing::Bool(), testing::Range(0, 5)), SwitchOffName);

TEST_F(SystemProxyTest, TheUsersOwnProxyIsKeptWhenTheProgramUsedNone)
{
    SetUsersProxy();
    StopOnMain();
    ExpectUsersProxy();
    main.Button3.Click();
    ExpectUsersProxy();
    EXPECT_TRUE(errors.empty());
}

TEST_F(SystemProxyTest, OnACleanMachineSwitchingOffLeavesTheStandardValues)
{
    UseFromMain();
    StopOnMain();
    EXPECT_EQ(raw::Get(SettingsKey, "ProxyEnable")->bytes, std::string("\0\0\0\0", 4));
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), ":");
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
}

TEST_F(SystemProxyTest, TheFirstCopyIsKeptAcrossProxiesAndComesBackByteForByte)
{
    // Values of types the system's dialog never writes come back as they were, too.
    raw::Set(SettingsKey, "ProxyEnable", REG_SZ, std::string("1\0", 2));
    raw::Set(SettingsKey, "ProxyServer", REG_BINARY, std::string("corp\0:3128", 10));
    UseFromMain();
    UseFromChecker();
    UseFromMain();
    StopOnMain();
    const auto enable = raw::Get(SettingsKey, "ProxyEnable");
    const auto server = raw::Get(SettingsKey, "ProxyServer");
    ASSERT_TRUE(enable && server);
    EXPECT_EQ(enable->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(enable->bytes, std::string("1\0", 2));
    EXPECT_EQ(server->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(server->bytes, std::string("corp\0:3128", 10));
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
}

TEST_F(SystemProxyTest, AProxyTheUserChangedMeanwhileIsLeftAlone)
{
    SetUsersProxy();
    UseFromMain();
    raw::SetText(SettingsKey, "ProxyServer", "home:8080");
    StopOnMain();
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "home:8080");
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));

    // Used again, the program saves the user's new setting.
    UseFromChecker();
    StopOnMain();
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "home:8080");
}

TEST_F(SystemProxyTest, ACopyThatCannotBeReadCountsAsAUserWithoutAProxy)
{
    SetUsersProxy();
    UseFromMain();
    raw::SetText(SettingsKey, SavedProxyValue, "not a copy");
    StopOnMain();
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), ":");
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
    EXPECT_TRUE(errors.empty());
}

TEST_F(SystemProxyTest, StartUpRepairsOnlyWhereTheProgramsProxyIsStillInPlace)
{
    SetUsersProxy();
    ApplySystemProxy("127.0.0.9:8080"); // as a run that was killed leaves it
    RepairSystemProxy();
    ExpectUsersProxy();

    ApplySystemProxy("127.0.0.9:8080");
    raw::SetText(SettingsKey, "ProxyServer", "home:8080");
    RepairSystemProxy();
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "home:8080");
    EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));

    // Without a copy nothing is touched, not even a missing value.
    raw::RemoveValue(SettingsKey, "ProxyEnable");
    RepairSystemProxy();
    EXPECT_FALSE(raw::Get(SettingsKey, "ProxyEnable"));
}

} // namespace
