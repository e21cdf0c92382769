#include "ListTestSupport.h"

#include <functional>
#include <tuple>

using namespace lists;

namespace {

// What "ProxyOverride" adds to the user's entries while the program's proxy is on.
const std::string kLocalBypass =
    "<local>;10.*;172.16.*;172.17.*;172.18.*;172.19.*;172.20.*;172.21.*;172.22.*;172.23.*;172.24.*;"
    "172.25.*;172.26.*;172.27.*;172.28.*;172.29.*;172.30.*;172.31.*;192.168.*;169.254.*";

// The proxy the user set up in the system's own dialog before the program ran.
void SetUsersProxy()
{
    raw::SetNumber(SettingsKey, "ProxyEnable", 1);
    raw::SetText(SettingsKey, "ProxyServer", "corp:3128");
    raw::SetText(SettingsKey, "ProxyOverride", "*.corp.example;intranet");
}

void ExpectUsersProxy()
{
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), "*.corp.example;intranet");
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
        JudgeHttp(main.listrep1, 0);
        JudgeHttp(checker.ListView1, 0);
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
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), "*.corp.example;intranet;" + kLocalBypass);
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
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), kLocalBypass);
    StopOnMain();
    EXPECT_FALSE(raw::Get(SettingsKey, "ProxyOverride"));
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

TEST_F(SystemProxyTest, TheUsersValuesComeBackExactlyWhateverCharactersTheyHold)
{
    const std::wstring server = L"\x043f\x0440\x043e\x043a\x0441\x0438.corp:3128";
    const std::wstring bypass = L"*.\x00e9t\x00e9.example;intranet";
    const std::wstring script = L"http://wpad/\x043f.pac";
    raw::SetNumber(SettingsKey, "ProxyEnable", 1);
    raw::SetWideText(SettingsKey, "ProxyServer", server);
    raw::SetWideText(SettingsKey, "ProxyOverride", bypass);
    raw::SetWideText(SettingsKey, "AutoConfigURL", script);
    UseFromMain();
    EXPECT_EQ(raw::GetWideText(SettingsKey, "ProxyOverride"),
              bypass + L";" + std::wstring(kLocalBypass.begin(), kLocalBypass.end()));
    EXPECT_FALSE(raw::Get(SettingsKey, "AutoConfigURL")); // no automatic configuration meanwhile
    StopOnMain();
    EXPECT_EQ(raw::GetWideText(SettingsKey, "ProxyServer"), server);
    EXPECT_EQ(raw::GetWideText(SettingsKey, "ProxyOverride"), bypass);
    EXPECT_EQ(raw::GetWideText(SettingsKey, "AutoConfigURL"), script);
    EXPECT_TRUE(errors.empty());
}

TEST_F(SystemProxyTest, ACopyThisVersionCannotReadIsLeftAloneAndSoAreTheUsersValues)
{
    for (const auto& [type, copy] : {std::pair<DWORD, std::string>{REG_BINARY, "ZSP3 of a later version"},
                                     std::pair<DWORD, std::string>{REG_SZ, std::string("garbage\0", 8)}}) {
        SetUsersProxy();
        raw::Set(SettingsKey, SavedProxyValue, type, copy);
        errors.clear();
        SelectItem(main.listrep1, 0);
        DoubleClickItem(main.listrep1, 0);
        EXPECT_EQ(errors.size(), 1u) << "using a proxy says why it cannot";
        StopOnMain();
        RepairSystemProxy();
        main.ExitCleanup();
        EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), "*.corp.example;intranet");
        const auto kept = raw::Get(SettingsKey, SavedProxyValue);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->type, type);
        EXPECT_EQ(kept->bytes, copy);
    }
}

TEST_F(SystemProxyTest, ACopyOfTheLastVersionIsRepaired)
{
    // What the last version left when it was killed with its proxy on: its copy of the user's
    // two values, and its proxy.
    SetUsersProxy();
    const std::string copy = std::string("ZSP1\1\4\0\0\0\4\0\0\0\1\0\0\0", 17) +
                             std::string("\1\1\0\0\0\x0a\0\0\0corp:3128\0", 19) +
                             std::string("\x0e\0\0\0", 4) + "127.0.0.9:8080";
    raw::Set(SettingsKey, SavedProxyValue, REG_BINARY, copy);
    raw::SetText(SettingsKey, "ProxyServer", "127.0.0.9:8080");
    RepairSystemProxy();
    ExpectUsersProxy();
}

TEST_F(SystemProxyTest, AfterASessionEndThatLeftTheProgramRunningTheNextExitSwitchesOffAgain)
{
    SetUsersProxy();
    SendMessageA(main.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
    SendMessageA(main.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    UseFromMain();
    main.Button3.Click();
    ExpectUsersProxy();
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
