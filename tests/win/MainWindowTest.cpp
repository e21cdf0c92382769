#include "WindowTestSupport.h"

namespace {

const std::string kSettingsKeyBroken =
    "Failed to create key Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings.";

class MainWindowTest : public WindowTest {
protected:
    // What the exit sequence leaves in the registry.
    void ExpectExitWrites(const std::string& account, const std::string& browser)
    {
        EXPECT_EQ(raw::GetText(SettingsKey, "Zarnuinfo"), account);
        EXPECT_EQ(raw::GetText(SettingsKey, "Zarnubrowser"), browser);
        EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), ":");
        EXPECT_FALSE(raw::Get(AgentKey, "Platform"));
        EXPECT_FALSE(raw::Get(AgentKey, "Version"));
    }

    // The program's proxy switched on, on a machine without a proxy of the user's own, and a
    // browser identity override, as a run may leave them.
    static void SwitchProxyAndIdentityOn()
    {
        ApplySystemProxy("127.0.0.9:8080");
        raw::SetText(AgentKey, "Platform", "Windows NT 10.0");
        raw::SetText(AgentKey, "Version", "MSIE 11.0");
    }
};

TEST_F(MainWindowTest, FirstStartCreatesTheSettingsKeyAndShowsTheDefaults)
{
    raw::RemoveTree(SettingsKey);
    Start();
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(raw::KeyExists(SettingsKey));
    EXPECT_EQ(main.txtRegEmail.Text(), "");
    EXPECT_EQ(main.edtBrowser.Text(), "C:\\Program Files\\Internet Explorer\\Iexplore.exe");
    EXPECT_TRUE(main.AgentListPending);
    // Start-up writes nothing.
    EXPECT_FALSE(raw::Get(SettingsKey, "Zarnuinfo"));
    EXPECT_FALSE(raw::Get(SettingsKey, "ProxyEnable"));
}

TEST_F(MainWindowTest, ShowsTheStoredSettingsAndLeavesTheProxyAlone)
{
    raw::SetText(SettingsKey, "Zarnuinfo", "alice@mail.example");
    raw::SetText(SettingsKey, "Zarnubrowser", "D:\\Browsers\\b.exe");
    SwitchProxyAndIdentityOn();
    Start();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(main.txtRegEmail.Text(), "alice@mail.example");
    EXPECT_EQ(main.edtBrowser.Text(), "D:\\Browsers\\b.exe");
    EXPECT_EQ(main.Label1.Text(), "[unknown]");
    EXPECT_EQ(main.Label2.Text(), "[unknown]");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "127.0.0.9:8080");
}

TEST_F(MainWindowTest, AnEmptyStoredBrowserPathShowsTheDefault)
{
    raw::SetText(SettingsKey, "Zarnuinfo", "");
    raw::SetText(SettingsKey, "Zarnubrowser", "");
    Start();
    EXPECT_EQ(main.txtRegEmail.Text(), "");
    EXPECT_EQ(main.edtBrowser.Text(), DefaultBrowserPath);
}

TEST_F(MainWindowTest, AnAccountOfAnotherTypeIsReportedAndTheRestOfStartUpSkipped)
{
    raw::SetNumber(SettingsKey, "Zarnuinfo", 42);
    raw::SetText(SettingsKey, "Zarnubrowser", "D:\\Browsers\\b.exe");
    Start();
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid data type for 'Zarnuinfo'"});
    EXPECT_TRUE(IsWindow(main.Handle()));
    EXPECT_EQ(main.txtRegEmail.Text(), "");
    EXPECT_EQ(main.edtBrowser.Text(), DefaultBrowserPath);
}

TEST_F(MainWindowTest, ABrowserPathOfAnotherTypeIsReportedAndTheDefaultKept)
{
    raw::SetText(SettingsKey, "Zarnuinfo", "bob");
    raw::Set(SettingsKey, "Zarnubrowser", REG_BINARY, "D:\\b.exe");
    Start();
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid data type for 'Zarnubrowser'"});
    EXPECT_EQ(main.txtRegEmail.Text(), "bob");
    EXPECT_EQ(main.edtBrowser.Text(), DefaultBrowserPath);
}

TEST_F(MainWindowTest, ASettingsKeyThatCannotBeCreatedIsReportedAndTheWindowStillOpens)
{
    raw::BreakKey(SettingsKey);
    Start();
    raw::RestoreKey(SettingsKey);
    EXPECT_EQ(errors, std::vector<std::string>{kSettingsKeyBroken});
    EXPECT_TRUE(IsWindow(main.Handle()));
    EXPECT_EQ(main.edtBrowser.Text(), DefaultBrowserPath);
}

TEST_F(MainWindowTest, CloseButtonRunsTheExitSequenceOnceAndEndsTheProgram)
{
    SwitchProxyAndIdentityOn();
    raw::SetText(AgentKey, "Compatible", "kept");
    Start();
    main.txtRegEmail.SetText("carol");
    main.edtBrowser.SetText("");
    main.Button3.Click();

    EXPECT_TRUE(errors.empty());
    ExpectExitWrites("carol", "");
    EXPECT_EQ(raw::GetText(AgentKey, "Compatible"), "kept");
    EXPECT_TRUE(Application.Terminated());
    EXPECT_TRUE(DispatchPending());

    // Nothing after the click runs the sequence again, destroying the windows included.
    raw::SetText(SettingsKey, "Zarnuinfo", "changed since");
    checker.Destroy();
    main.Destroy();
    DispatchPending();
    EXPECT_EQ(raw::GetText(SettingsKey, "Zarnuinfo"), "changed since");
}

TEST_F(MainWindowTest, TitleBarCloseRunsTheExitSequenceOnceAndEndsTheProgram)
{
    SwitchProxyAndIdentityOn();
    Start();
    main.txtRegEmail.SetText("dave");
    main.edtBrowser.SetText("E:\\edited but never used.exe");
    SendMessageA(main.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);

    EXPECT_TRUE(errors.empty());
    ExpectExitWrites("dave", "E:\\edited but never used.exe");
    EXPECT_TRUE(Application.Terminated());
    EXPECT_TRUE(DispatchPending());
    // The window stays until the message loop has ended.
    EXPECT_TRUE(IsWindow(main.Handle()));

    raw::SetText(SettingsKey, "Zarnuinfo", "changed since");
    SendMessageA(main.Handle(), WM_CLOSE, 0, 0);
    checker.Destroy();
    main.Destroy();
    EXPECT_EQ(raw::GetText(SettingsKey, "Zarnuinfo"), "changed since");
}

TEST_F(MainWindowTest, ExitWithoutAnOverrideOrAnAgentKeyCreatesNothing)
{
    Start();
    main.Button3.Click();
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(raw::KeyExists(AgentKey));
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
}

TEST_F(MainWindowTest, AFailedExitIsReportedAndTheProgramKeepsRunningUntilExitSucceeds)
{
    Start();
    main.Show();
    main.txtRegEmail.SetText("erin");
    raw::BreakKey(SettingsKey);
    main.Button3.Click();
    SendMessageA(main.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    raw::RestoreKey(SettingsKey);

    EXPECT_EQ(errors, (std::vector<std::string>{kSettingsKeyBroken, kSettingsKeyBroken}));
    EXPECT_FALSE(Application.Terminated());
    EXPECT_FALSE(DispatchPending());
    EXPECT_TRUE(IsWindowVisible(main.Handle()));

    main.Button3.Click();
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(raw::GetText(SettingsKey, "Zarnuinfo"), "erin");
    EXPECT_TRUE(DispatchPending());
}

TEST_F(MainWindowTest, EndingTheSessionRunsTheExitSequence)
{
    SwitchProxyAndIdentityOn();
    Start();
    main.txtRegEmail.SetText("frank");
    EXPECT_EQ(SendMessageA(main.Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(main.Handle(), WM_ENDSESSION, FALSE, 0); // another program cancelled it
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
    EXPECT_FALSE(Application.Terminated());

    SendMessageA(main.Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(errors.empty());
    ExpectExitWrites("frank", DefaultBrowserPath);
    EXPECT_TRUE(Application.Terminated());
}

// Closes the checker window from inside its modal loop, noting what the user would see then.
struct ModalProbe {
    static inline HWND mainWindow = nullptr;
    static inline HWND checkerWindow = nullptr;
    static inline bool mainEnabledWhileShown = true;
    static inline bool checkerVisibleWhileShown = false;

    static void CALLBACK Fire(HWND, UINT, UINT_PTR timer, DWORD)
    {
        KillTimer(nullptr, timer);
        mainEnabledWhileShown = IsWindowEnabled(mainWindow) != FALSE;
        checkerVisibleWhileShown = IsWindowVisible(checkerWindow) != FALSE;
        SendMessageA(checkerWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
};

TEST_F(MainWindowTest, ProxyCheckerIsShownModallyAndClosingItOnlyHidesIt)
{
    Start();
    ModalProbe::mainWindow = main.Handle();
    ModalProbe::checkerWindow = checker.Handle();
    SetTimer(nullptr, 0, 10, &ModalProbe::Fire);
    main.Button6.Click();

    EXPECT_TRUE(ModalProbe::checkerVisibleWhileShown);
    EXPECT_FALSE(ModalProbe::mainEnabledWhileShown);
    EXPECT_TRUE(IsWindow(checker.Handle()));
    EXPECT_FALSE(IsWindowVisible(checker.Handle()));
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_FALSE(Application.Terminated());

    char caption[64] = {};
    GetWindowTextA(checker.Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Zarnu Proxy Checker");
    RECT client{};
    GetClientRect(checker.Handle(), &client);
    EXPECT_EQ(client.right, 568);
    EXPECT_EQ(client.bottom, 417 + checker.StatusBar1.Height());
    EXPECT_EQ(GetWindow(checker.Handle(), GW_OWNER), main.Handle());
}

} // namespace
