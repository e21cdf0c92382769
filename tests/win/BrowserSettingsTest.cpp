#include "TestService.h"
#include "WindowTestSupport.h"

#include "core/ServiceUrl.h"
#include "settings/AgentList.h"
#include "settings/BrowserLaunch.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> Entries(const ComboBox& list)
{
    std::vector<std::string> entries;
    for (int i = 0; i < list.Count(); ++i)
        entries.push_back(list.ItemText(i));
    return entries;
}

std::string AgentProfile(const std::string& osCount, const std::string& browserCount)
{
    return "[OSPaid]\r\n" + osCount + "\r\n0=Windows NT 10.0\r\n1=Windows NT 6.1\r\n2=X11\r\n3=Never read\r\n"
           "[BrowserPaid]\r\n" + browserCount + "\r\n0=MSIE 11.0\r\n1=MSIE 9.0\r\n2=Never read\r\n";
}

class BrowserIdentityTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
        Start();
    }

    TestService service;
};

TEST_F(BrowserIdentityTest, TheFirstClickFillsBothListsInKeyOrderAndWritesNothing)
{
    main.txtRegEmail.SetText("alice");
    service.Serve("useragent.txt", AgentProfile("countos=3", "countbrowser=2"));
    main.Button4.Click();

    EXPECT_EQ(Entries(main.OSAgentCombo), (std::vector<std::string>{"Windows NT 10.0", "Windows NT 6.1", "X11"}));
    EXPECT_EQ(Entries(main.BrowserAgentCombo), (std::vector<std::string>{"MSIE 11.0", "MSIE 9.0"}));
    EXPECT_EQ(main.Button4.Text(), "&Select and change Browser User Agent");
    EXPECT_FALSE(main.AgentListPending);
    EXPECT_FALSE(raw::KeyExists(AgentKey));
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, AgentListPath);
    EXPECT_EQ(requests[0].user, "alice");
    EXPECT_TRUE(errors.empty());
}

TEST_F(BrowserIdentityTest, LaterClicksWriteTheSelectedPairAndNeverDownloadAgain)
{
    service.Serve("useragent.txt", AgentProfile("countos=3", "countbrowser=2"));
    main.Button4.Click();
    main.OSAgentCombo.Select(2);
    main.Button4.Click(); // one list selected: nothing is written
    EXPECT_FALSE(raw::Get(AgentKey, "Platform"));

    main.BrowserAgentCombo.Select(0);
    main.Button4.Click();
    EXPECT_EQ(raw::GetText(AgentKey, "Platform"), "X11");
    EXPECT_EQ(raw::GetText(AgentKey, "Version"), "MSIE 11.0");
    EXPECT_EQ(service.Requests().size(), 1u);
    EXPECT_EQ(main.OSAgentCombo.Count(), 3);

    // Leaving the program removes the override and only it.
    raw::SetText(AgentKey, "Other", "kept");
    main.Button3.Click();
    EXPECT_FALSE(raw::Get(AgentKey, "Platform"));
    EXPECT_FALSE(raw::Get(AgentKey, "Version"));
    EXPECT_EQ(raw::GetText(AgentKey, "Other"), "kept");
}

TEST_F(BrowserIdentityTest, AFailedFirstDownloadIsNotRetried)
{
    service.Serve("useragent.txt", "refused", "status 403");
    main.Button4.Click();
    service.Serve("useragent.txt", AgentProfile("countos=3", "countbrowser=2"));
    main.Button4.Click();
    EXPECT_EQ(main.OSAgentCombo.Count(), 0);
    EXPECT_EQ(service.Requests().size(), 1u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(BrowserIdentityTest, EachListFollowsItsOwnCount)
{
    struct Case {
        std::string osCount;
        std::size_t platforms;
    };
    for (const Case& c : {Case{"", 0}, Case{"countos=0", 0}, Case{"countos=-4", 0}, Case{"countos=three", 0},
                          Case{"countos=0x2", 2}}) {
        SCOPED_TRACE(c.osCount);
        TForm1 window;
        window.Create();
        service.Serve("useragent.txt", AgentProfile(c.osCount, "countbrowser=2"));
        window.Button4.Click();
        EXPECT_EQ(static_cast<std::size_t>(window.OSAgentCombo.Count()), c.platforms);
        EXPECT_EQ(window.BrowserAgentCombo.Count(), 2);
    }
}

TEST_F(BrowserIdentityTest, LongListsAreReadWholeUpToTheBound)
{
    std::string profile = "[OSPaid]\r\ncountos=0x10\r\n[BrowserPaid]\r\ncountbrowser=300\r\n";
    for (int i = 0; i < 300; ++i)
        profile += std::to_string(i) + "=Version " + std::to_string(i) + "\r\n";
    service.Serve("useragent.txt", profile);
    main.Button4.Click();
    EXPECT_EQ(main.OSAgentCombo.Count(), 16); // the keys are missing: empty entries
    EXPECT_EQ(main.OSAgentCombo.ItemText(15), "");
    ASSERT_EQ(main.BrowserAgentCombo.Count(), 300);
    EXPECT_EQ(main.BrowserAgentCombo.ItemText(299), "Version 299");
}

TEST_F(BrowserIdentityTest, AHostileCountStopsAtTheBound)
{
    service.Serve("useragent.txt", "[OSPaid]\r\ncountos=2147483647\r\n[BrowserPaid]\r\ncountbrowser=1\r\n0=MSIE 11.0\r\n");
    main.Button4.Click();
    EXPECT_EQ(main.OSAgentCombo.Count(), kMostAgentTokens);
    EXPECT_EQ(main.BrowserAgentCombo.Count(), 1);
}

class BrowserLaunchTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _putenv_s("ZARNU_SERVICE_HOST", "127.0.0.1:8123");
        previous_ = ReplaceProgramStarter([this](const std::string& commandLine, UINT show) {
            launches.push_back(commandLine);
            shows.push_back(show);
        });
        Start();
    }
    void TearDown() override
    {
        ReplaceProgramStarter(previous_);
        WindowTest::TearDown();
    }

    std::vector<std::string> launches;
    std::vector<UINT> shows;

private:
    ProgramStarter previous_;
};

TEST_F(BrowserLaunchTest, AnExistingBrowserIsStartedByItsExactPath)
{
    CreateDirectoryA("C:\\zarnu test", nullptr);
    const std::string browser = "C:\\zarnu test\\my browser.exe";
    CloseHandle(CreateFileA(browser.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    main.Button2.Click(); // the default path: Wine has an Internet Explorer there
    main.edtBrowser.SetText(browser);
    main.Button2.Click();
    DeleteFileA(browser.c_str());
    RemoveDirectoryA("C:\\zarnu test");

    EXPECT_EQ(launches, (std::vector<std::string>{
                            "\"C:\\Program Files\\Internet Explorer\\Iexplore.exe\" http://127.0.0.1:8123/whatismyip.php",
                            "\"C:\\zarnu test\\my browser.exe\" http://127.0.0.1:8123/whatismyip.php"}));
    EXPECT_EQ(shows, (std::vector<UINT>{SW_SHOW, SW_SHOW}));
}

// A folder holding a browser and, beside it, the decoys that an unquoted command line would
// start instead of a missing file: "C:\zarnu test\Program.exe" for "C:\zarnu test\Program Files\...".
class LaunchFiles {
public:
    static constexpr const char* kBrowser = "C:\\zarnu test\\Program Files\\my browser.exe";

    LaunchFiles()
    {
        CreateDirectoryA("C:\\zarnu test", nullptr);
        CreateDirectoryA("C:\\zarnu test\\Program Files", nullptr);
        for (const char* file : kFiles)
            CloseHandle(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    ~LaunchFiles()
    {
        for (const char* file : kFiles)
            DeleteFileA(file);
        RemoveDirectoryA("C:\\zarnu test\\Program Files");
        RemoveDirectoryA("C:\\zarnu test");
    }

private:
    static constexpr const char* kFiles[] = {kBrowser, "C:\\zarnu test\\Program.exe",
                                             "C:\\zarnu test\\Program Files\\Internet.exe"};
};

TEST_F(BrowserLaunchTest, AFieldWithArgumentsStartsTheFileItsExePartNames)
{
    const LaunchFiles files;
    main.edtBrowser.SetText(std::string(LaunchFiles::kBrowser) + " -private");
    main.Button2.Click();
    main.edtBrowser.SetText("C:\\zarnu test\\Program Files\\Internet.EXE --new-window x.exe");
    main.Button2.Click();
    EXPECT_EQ(launches, (std::vector<std::string>{
                            "\"C:\\zarnu test\\Program Files\\my browser.exe\" -private http://127.0.0.1:8123/whatismyip.php",
                            "\"C:\\zarnu test\\Program Files\\Internet.EXE\" --new-window x.exe http://127.0.0.1:8123/whatismyip.php"}));
}

TEST_F(BrowserLaunchTest, AFieldThatNamesNoFileStartsNothingNotEvenADecoy)
{
    const LaunchFiles files;
    for (const char* field : {"C:\\zarnu test\\Program Files\\Internet Explorer\\iexplore.exe",
                              "C:\\zarnu test\\Program Files\\Internet Explorer.exe",
                              "C:\\zarnu test\\Program Files\\my browser", "C:\\zarnu test\\Program", ""}) {
        main.edtBrowser.SetText(field);
        main.Button2.Click();
    }
    EXPECT_TRUE(launches.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(BrowserLaunchTest, TheCheckerUsesTheMainWindowsUnsavedPath)
{
    const LaunchFiles files;
    main.edtBrowser.SetText(LaunchFiles::kBrowser);
    checker.Button2.Click();
    EXPECT_EQ(launches, std::vector<std::string>{
                            "\"C:\\zarnu test\\Program Files\\my browser.exe\" http://127.0.0.1:8123/whatismyip.php"});
}

TEST_F(BrowserLaunchTest, ABrowserThatCannotStartFailsSilently)
{
    const LaunchFiles files; // empty files: not programs
    ReplaceProgramStarter(nullptr); // the platform's own
    main.edtBrowser.SetText(LaunchFiles::kBrowser);
    main.Button2.Click();
    EXPECT_TRUE(errors.empty());
}

TEST_F(BrowserLaunchTest, CancellingTheChoiceWritesTheLastChosenNameAgain)
{
    BOOL confirm = FALSE;
    const auto previous = ReplaceOpenFileDialog([&](OPENFILENAMEA& request) {
        if (confirm)
            lstrcpyA(request.lpstrFile, "D:\\Tools\\browser.exe");
        return confirm;
    });
    main.Button1.Click(); // cancelled before any choice
    EXPECT_EQ(main.edtBrowser.Text(), DefaultBrowserPath);
    confirm = TRUE;
    main.Button1.Click();
    EXPECT_EQ(main.edtBrowser.Text(), "D:\\Tools\\browser.exe");
    main.edtBrowser.SetText("typed meanwhile");
    confirm = FALSE;
    main.Button1.Click();
    EXPECT_EQ(main.edtBrowser.Text(), "D:\\Tools\\browser.exe");
    ReplaceOpenFileDialog(previous);
}

} // namespace
