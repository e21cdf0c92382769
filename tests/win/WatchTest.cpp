#include "WatchSupport.h"

#include "core/ProxyList.h"
#include "net/LocalFile.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>

namespace {

// Killed, then stopped, then refusing: each time the best checked proxy that is no worse takes
// over, the same country first and never a transparent one; the fourth death in ten minutes is
// told, not switched.
TEST_F(WatchTest, TheBestProxyNoWorseTakesOverFromADeadOneAtMostThreeTimes)
{
    for (int n = 1; n <= 5; ++n)
        Proxy(n, n == 4);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";FR\r\n" + Host(3) + ";DE\r\n" + Host(4) + ";DE\r\n" + Host(5) + ";FR\r\n", 5);
    Use(Host(1));

    proxies[1].reset(); // killed: its connections are refused
    EXPECT_EQ(AwaitSwitch({Host(3)}), Host(3)) << "the same country first, the transparent one never";
    EXPECT_EQ(main.Label1.Text(), Host(3));
    EXPECT_EQ(main.Label2.Text(), "DE");
    EXPECT_NE(main.StatusBar1.Text().find(Host(1) + " stopped working (2 checks failed in "), std::string::npos)
        << main.StatusBar1.Text();
    EXPECT_NE(main.StatusBar1.Text().find("now " + Host(3) + " (DE, elite)"), std::string::npos);
    const Rows verdicts = ListedVerdicts(main.listrep1);
    for (const auto& row : verdicts)
        if (row[0] == Host(1)) {
            EXPECT_EQ(row[1], "fails");
        }

    proxies[3]->Pause(); // stopped: it takes connections and answers none
    const std::string third = AwaitSwitch({Host(2), Host(5)});
    EXPECT_NE(main.StatusBar1.Text().find("(3 checks failed in "), std::string::npos) << main.StatusBar1.Text();

    const int thirdN = third == Host(2) ? 2 : 5;
    proxies[thirdN].reset(); // now answering every request with a refusal of its own
    proxies[thirdN] = std::make_unique<host::Tinyproxy>(Address(thirdN), 8888, std::vector<std::string>{"Allow 10.0.0.1"});
    const std::string fourth = AwaitSwitch({Host(thirdN == 2 ? 5 : 2)});

    proxies[fourth == Host(2) ? 2 : 5].reset();
    AwaitSwitch({}, "three automatic switches in ten minutes, no more");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), fourth) << "the dead proxy stays in place";
    EXPECT_TRUE(errors.empty());
}

// Where only a transparent proxy and dead ones are left, the dead one stays, and the user is told
// what to do; where the service cannot be reached either, the user is offline.
TEST_F(WatchTest, NothingLeaksWhenNothingCanTakeOverAndOfflineIsNoDeath)
{
    Proxy(1);
    Proxy(4, true);
    Refresh(Host(1) + ";DE\r\n" + Host(4) + ";DE\r\n", 2);
    Use(Host(1));
    proxies[1]->Pause();
    AwaitSwitch({}, "no checked proxy could take over: \"Refresh Proxy List\" for new ones, or \"Stop Hide My IP\"");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), Host(1));
    EXPECT_EQ(main.Label1.Text(), Host(1));

    // The dead one answers again: it is in use as before.
    proxies[1].reset();
    Proxy(1);
    AwaitSwitch({}, Host(1) + " answers again and is in use as before");

    service.reset();
    AwaitSwitch({}, "You are offline");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), Host(1));
    EXPECT_TRUE(errors.empty());
}

TEST_F(WatchTest, SwitchingAutomaticallyOffSwitchesNothingAndStaysOffAcrossARestart)
{
    Proxy(1);
    Proxy(2);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n", 2);
    EXPECT_TRUE(main.PopupMenu1.Checked(2000));
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Switch Automatically");
    EXPECT_FALSE(main.PopupMenu1.Checked(2000));
    Use(Host(1));
    proxies[1].reset();
    AwaitSwitch({}, "switching automatically is off");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), Host(1));

    main.ExitCleanup();
    checker.Destroy();
    main.Destroy();
    TForm1 restarted;
    TForm2 restartedChecker;
    restarted.Create();
    restarted.CreateChecker(restartedChecker);
    EXPECT_FALSE(restarted.PopupMenu1.Checked(2000));
    EXPECT_EQ(raw::GetNumber(SettingsKey, "Zarnuautoswitch"), std::optional<DWORD>(0));
}

// The proxy picked in the checker is watched too, and its successor comes from the checker's list.
TEST_F(WatchTest, AProxyPickedInTheCheckerIsReplacedFromTheCheckersList)
{
    Proxy(1);
    Proxy(2);
    checker.HostNames.SetText(Host(1) + "\r\n" + Host(2));
    checker.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return checker.StatusBar1.Text().find(" probed in ") != std::string::npos; }));
    const Rows rows = ListedRows(checker.ListView1);
    const int first = rows[0][0] == Host(1) ? 0 : 1;
    SelectItem(checker.ListView1, first);
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Use This Proxy");
    proxies[1].reset();
    std::string server;
    EXPECT_TRUE(PumpMessagesUntil([&] { return (server = raw::GetText(SettingsKey, "ProxyServer").value_or("")) == Host(2); }, 20000));
    EXPECT_EQ(checker.Label2.Text(), Host(2));
    EXPECT_NE(checker.StatusBar1.Text().find("now " + Host(2)), std::string::npos) << checker.StatusBar1.Text();
}

// A SOCKS proxy found in the list is used through the relay. When it is killed under a browser
// that holds a tunnel through it, the browser's next request goes through its successor: the
// failed connection starts the check at once (the watch's own cycle is a minute here), the relay
// changes its upstream, and the settings are not written. "Stop Hide My IP" then puts the user's
// own settings back.
TEST_F(WatchTest, ASocksProxysDeathMovesTheBrowserInsideTheRelayAtOnce)
{
    ProxyWatch::UseTimes({60000, 1000, 300, 600000, 600000});
    SetUsersOwnSettings();
    auto dying = std::make_unique<host::Microsocks>(Address(1), 1080);
    const host::Dante successor{Address(2), 1080};
    const std::string first = Address(1) + ":1080", second = Address(2) + ":1080";
    Refresh(first + ";DE\r\n" + second + ";DE\r\n", 2);
    for (int item = 0; item < 2; ++item)
        EXPECT_EQ(main.listrep1.ItemText(item, TypeColumn(main.listrep1)), "SOCKS5");
    const std::string relay = UseThroughRelay(first);
    const std::string page = "http://" + service->Host() + "/whatismyip.php";
    EXPECT_EQ(browser::Caller(browser::FetchThrough(relay, page).body), Address(1));
    browser::Browser downloading(static_cast<unsigned short>(std::stoi(browser::PortOf(relay))));
    downloading.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    ASSERT_EQ(downloading.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");

    const ULONGLONG killed = GetTickCount64();
    dying.reset();
    EXPECT_EQ(downloading.ReadUntil(), "") << "the tunnel through the dead proxy ends";
    EXPECT_NE(browser::FetchThrough(relay, page).status, 200u) << "no proxy to reach the page through yet";
    EXPECT_TRUE(AwaitStatus("now " + second, 5000));
    const browser::Page next = browser::FetchThrough(relay, page);
    std::cout << "the next request went through the successor " << GetTickCount64() - killed << " ms after the kill\n";
    EXPECT_EQ(browser::Caller(next.body), Address(2));
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), relay);
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), std::optional<DWORD>(1));
    EXPECT_EQ(main.Label1.Text(), second);

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    ExpectUsersOwnSettings();
    EXPECT_NE(browser::FetchThrough(relay, page).status, 200u) << "the relay carries nobody once switched off";
    EXPECT_TRUE(errors.empty());
}

// The files beside the program written since `since` that hold `text`, but for programs (a test's
// own holds its texts).
std::vector<std::string> FilesHolding(const std::string& text, std::filesystem::file_time_type since)
{
    std::vector<std::string> holding;
    for (const auto& entry : std::filesystem::directory_iterator(ExecutableDirectory()))
        if (entry.is_regular_file() && entry.last_write_time() >= since && entry.path().extension() != ".exe" &&
            host::FileText(entry.path().string()).find(text) != std::string::npos)
            holding.push_back(entry.path().filename().string());
    return holding;
}

// Proxies with a password are listed without it and used through the relay, which gives each its
// account: the browser never meets a 407, and no password is in the settings or the program's
// files, as a kill would leave them. When the first dies, the watch hands the browser to its
// successor with the successor's own account.
TEST_F(WatchTest, AProxyWithAPasswordIsUsedThroughTheRelayAndHandedOverWithItsOwn)
{
    ProxyWatch::UseTimes({60000, 1000, 300, 600000, 600000});
    SetUsersOwnSettings();
    const auto since = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1);
    auto dying = std::make_unique<host::Tinyproxy>(Address(1), 8888,
                                                  std::vector<std::string>{"DisableViaHeader Yes", "BasicAuth alice s3cret"});
    const host::Microsocks successor{Address(2), 1080, "bob", "pass:word"};
    const std::string first = "alice@" + Host(1), second = "bob@" + Address(2) + ":1080";
    Refresh(Host(1) + ":alice:s3cret;DE\r\n" + Address(2) + ":1080:bob:pass:word;DE\r\n", 2);
    const Rows verdicts = ListedVerdicts(main.listrep1);
    ASSERT_EQ(verdicts.size(), 2u);
    for (const auto& row : verdicts) {
        EXPECT_TRUE(row[0] == first || row[0] == second) << row[0];
        EXPECT_EQ(row[1].find_first_not_of("0123456789"), std::string::npos) << row[0] << ": " << row[1];
        EXPECT_EQ(row[3], "elite") << row[0];
    }
    const std::string relay = UseThroughRelay(first);
    const std::string page = "http://" + service->Host() + "/whatismyip.php";
    const browser::Page plain = browser::FetchThrough(relay, page);
    EXPECT_EQ(plain.status, 200u);
    EXPECT_EQ(browser::Caller(plain.body), Address(1));
    browser::Browser tunnel(static_cast<unsigned short>(std::stoi(browser::PortOf(relay))));
    tunnel.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tunnel.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
    for (const char* password : {"s3cret", "pass:word"}) {
        const std::string settings = raw::EveryValue("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
        EXPECT_EQ(settings.find(password), std::string::npos) << password;
        EXPECT_EQ(FilesHolding(password, since), std::vector<std::string>{}) << password;
        EXPECT_EQ(FilesHolding(EncodeProxyList(password), since), std::vector<std::string>{}) << "as the list has it";
        EXPECT_EQ(main.StatusBar1.Text().find(password), std::string::npos);
    }

    dying.reset();
    EXPECT_TRUE(AwaitStatus("now " + second, 10000));
    const browser::Page next = browser::FetchThrough(relay, page);
    EXPECT_EQ(next.status, 200u);
    EXPECT_EQ(browser::Caller(next.body), Address(2));
    EXPECT_EQ(main.Label1.Text(), second);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), relay);

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    ExpectUsersOwnSettings();
    EXPECT_TRUE(errors.empty());
}

// Pasted into the checker in each form, a proxy with an account is shown without its password,
// checked with its account, and copied as it was given.
TEST_F(WatchTest, TheCheckerShowsAPastedAccountWithoutItsPasswordAndCopiesItAsGiven)
{
    const host::Tinyproxy http{Address(1), 8888, {"DisableViaHeader Yes", "BasicAuth alice s3cret"}};
    const host::Microsocks socks{Address(2), 1080, "bob", "p@ss:word"};
    const std::string colons = Host(1) + ":alice:s3cret", url = "socks5://bob:p%40ss%3Aword@" + Address(2) + ":1080";
    checker.HostNames.SetText(colons + "\r\n" + url + "\r\n" + Host(1) + "\r\n");
    checker.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return checker.ListView1.Count() == 3 && AllVerdictsIn(checker.ListView1); }, 20000));
    std::map<std::string, std::string> web;
    for (const auto& row : ListedVerdicts(checker.ListView1))
        web[row[0]] = row[1];
    EXPECT_EQ(web.size(), 3u) << testing::PrintToString(web);
    EXPECT_EQ(web["alice@" + Host(1)].find_first_not_of("0123456789"), std::string::npos) << web["alice@" + Host(1)];
    EXPECT_EQ(web["bob@" + Address(2) + ":1080"].find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(web[Host(1)], "needs a password");
    ChooseMenuItem(checker.Handle(), checker.PopupMenu1, "Copy Working Proxies");
    const std::string copied = ClipboardText();
    EXPECT_NE(copied.find(colons), std::string::npos) << copied;
    EXPECT_NE(copied.find(url), std::string::npos) << copied;
    EXPECT_EQ(copied.find("\r\n" + Host(1)), std::string::npos) << copied;
}

// With "Route Through Zarnu" on, an HTTP proxy goes through the relay too; the choice is kept, and
// moves the proxy in use behind the relay and out again at once.
TEST_F(WatchTest, RouteThroughZarnuPutsAnHttpProxyBehindTheRelay)
{
    Proxy(1);
    Refresh(Host(1) + ";DE\r\n", 1);
    EXPECT_EQ(main.listrep1.ItemText(0, TypeColumn(main.listrep1)), "HTTP");
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Route Through Zarnu");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "Zarnurelay"), std::optional<DWORD>(1));
    const std::string relay = UseThroughRelay(Host(1));
    const std::string page = "http://" + service->Host() + "/whatismyip.php";
    EXPECT_EQ(browser::Caller(browser::FetchThrough(relay, page).body), Address(1));

    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Route Through Zarnu");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "Zarnurelay"), std::optional<DWORD>(0));
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), std::optional<std::string>(Host(1))) << "out of the relay";
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Route Through Zarnu");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), std::optional<std::string>(relay)) << "behind it again";
    EXPECT_EQ(browser::Caller(browser::FetchThrough(relay, page).body), Address(1));
    const std::size_t before = ChecksThrough(Address(1));
    EXPECT_TRUE(PumpMessagesUntil([&] { return ChecksThrough(Address(1)) >= before + 2; }, 10000)) << "still watched";

    // The user switches the proxy off in the system's settings: the choice no longer moves it.
    raw::SetNumber(SettingsKey, "ProxyEnable", 0);
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Route Through Zarnu");
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), std::optional<DWORD>(0));
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), std::optional<std::string>(relay));
    EXPECT_TRUE(errors.empty());
}

// Nothing is checked once the proxy is switched off, by "Stop Hide My IP" or by leaving.
TEST_F(WatchTest, StopAndTheExitEndTheWatch)
{
    Proxy(1);
    Refresh(Host(1) + ";DE\r\n", 1);
    for (const bool byExit : {false, true}) {
        SCOPED_TRACE(byExit ? "the exit" : "Stop Hide My IP");
        Use(Host(1));
        const std::size_t before = ChecksThrough(Address(1));
        EXPECT_TRUE(PumpMessagesUntil([&] { return ChecksThrough(Address(1)) >= before + 2; }, 10000)) << "no watch";
        if (byExit)
            main.ExitCleanup();
        else
            ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
        PumpMessagesUntil([] { return false; }, 300); // a check under way may still end
        const std::size_t stopped = ChecksThrough(Address(1));
        PumpMessagesUntil([] { return false; }, 3000);
        EXPECT_EQ(ChecksThrough(Address(1)), stopped);
    }
}

// A proxy in use that starts to pass the user's address on is left at once: the user's own
// settings come back, exactly as they were, and a proxy no worse takes over where one is; where
// none is, a line says so and stays in the status bar until the user acts.
TEST_F(WatchTest, AProxyThatStartsToLeakIsLeftAtOnceForAnotherOrForTheUsersOwnSettings)
{
    SetUsersOwnSettings();
    UseTheFirstOfTwo();
    proxies[1].reset();
    Proxy(1, true); // now passing the user's address on
    // Switched off at once, so the user's own settings stand until the successor is in place.
    EXPECT_TRUE(PumpMessagesUntil([&] {
        return raw::GetText(SettingsKey, "ProxyServer") == std::optional<std::string>(Host(2)) &&
               raw::GetNumber(SettingsKey, "ProxyEnable") == std::optional<DWORD>(1);
    })) << main.StatusBar1.Text();
    EXPECT_NE(main.StatusBar1.Text().find(Host(1) + " stopped working (passes your address on); now " + Host(2)),
              std::string::npos) << main.StatusBar1.Text();

    proxies[2].reset();
    Proxy(2, true); // and no proxy is left that hides the user
    const std::string told = Host(2) + " passed your address on and no checked proxy could take over, so Zarnu "
                             "switched it off: you browse under your own address.";
    ASSERT_TRUE(AwaitStatus(told));
    ExpectUsersOwnSettings();
    EXPECT_EQ(main.Label1.Text(), "[unknown]");
    EXPECT_EQ(main.Label2.Text(), "[unknown]");

    // The line stands beside the next summary, until the user picks a proxy.
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n", 2);
    EXPECT_NE(main.StatusBar1.Text().find(told), std::string::npos) << main.StatusBar1.Text();
    Proxy(3);
    Refresh(Host(3) + ";DE\r\n", 1);
    Use(Host(3));
    EXPECT_EQ(main.StatusBar1.Text().find(told), std::string::npos) << main.StatusBar1.Text();
    EXPECT_TRUE(errors.empty());
}

// Once the user has switched the proxy off in the system settings, or set another there, the
// watch ends, says so, and never writes them again, however the proxy it watched ends.
TEST_F(WatchTest, SettingsChangedOutsideZarnuAreNeverWrittenByTheWatch)
{
    for (int n = 1; n <= 3; ++n)
        Proxy(n);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n" + Host(3) + ";DE\r\n", 3);
    struct Change {
        const char* what;
        std::function<void()> make;
    };
    const Change changes[] = {
        {"switched off", [] { raw::SetNumber(SettingsKey, "ProxyEnable", 0); }},
        {"another proxy set", [] { raw::SetText(SettingsKey, "ProxyServer", "10.9.9.9:3128"); }},
    };
    int dying = 1;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        Use(Host(dying));
        change.make();
        const auto enable = raw::GetNumber(SettingsKey, "ProxyEnable");
        const auto server = raw::GetText(SettingsKey, "ProxyServer");
        const auto copy = raw::Get(SettingsKey, SavedProxyValue);
        AwaitStatus("Your proxy settings no longer use " + Host(dying));
        EXPECT_EQ(main.Label1.Text(), "[unknown]") << "the labels follow the settings";
        proxies[dying].reset();
        // Five of the watch's cycles as the test runs it: fifty seconds of the real watch.
        PumpMessagesUntil([&] {
            EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), enable);
            EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), server);
            EXPECT_EQ(raw::Get(SettingsKey, SavedProxyValue), copy);
            return false;
        }, 5000);
        ++dying;
    }
    EXPECT_TRUE(errors.empty());
}

// A proxy picked before its check has ended is judged by its first check, the list's or the
// watch's: a worse proxy never takes over from it.
TEST_F(WatchTest, AProxyPickedBeforeItsVerdictIsNotReplacedByAWorseOne)
{
    Proxy(1); // elite, with HTTPS
    proxies[2] = std::make_unique<host::Tinyproxy>(Address(2), 8888,
                                                   std::vector<std::string>{"DisableViaHeader Yes", "ConnectPort 563"});
    proxies[3] = std::make_unique<host::Tinyproxy>(Address(3), 8888); // anonymous
    HoldPageFor("127.0.0.1", 1500); // the list's checks wait for the user's addresses
    service->Serve("paidencrypt.txt",
                   TestService::EncodedProxyList(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n" + Host(3) + ";DE\r\n"));
    main.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return ListedRows(main.listrep1).size() == 3; }));
    for (const auto& row : ListedVerdicts(main.listrep1))
        ASSERT_EQ(row[1], "") << "a verdict came before the pick";
    UseThroughRelay(Host(1)); // its kind is not known yet
    ASSERT_TRUE(PumpMessagesUntil([&] { return main.StatusBar1.Text().find(" probed in ") != std::string::npos; }));
    HoldPageFor("127.0.0.1", 0);
    const std::size_t checked = ChecksThrough(Address(1));
    ASSERT_TRUE(PumpMessagesUntil([&] { return ChecksThrough(Address(1)) >= checked + 2; }));

    proxies[1].reset();
    PumpMessagesUntil([&] {
        EXPECT_EQ(main.Label1.Text(), Host(1)) << "a worse proxy took over";
        return main.StatusBar1.Text().find("no checked proxy could take over") != std::string::npos;
    });
    EXPECT_NE(main.StatusBar1.Text().find(Host(1) + " stopped working"), std::string::npos) << main.StatusBar1.Text();
}

// The watch learns the user's addresses again while it does not know them: a proxy that starts to
// leak after the first learning failed is still caught.
TEST_F(WatchTest, ALeakIsCaughtThoughTheFirstLearningOfTheUsersAddressesFailed)
{
    SetUsersOwnSettings();
    Proxy(1);
    Refresh(Host(1) + ";DE\r\n", 1);
    HoldPageFor("127.0.0.1", 1500); // beyond the watch's 1 s: its learning fails
    Use(Host(1));
    const std::size_t checked = ChecksThrough(Address(1));
    ASSERT_TRUE(PumpMessagesUntil([&] { return ChecksThrough(Address(1)) >= checked + 2; }));
    HoldPageFor("127.0.0.1", 0);
    proxies[1].reset();
    Proxy(1, true);
    AwaitStatus(Host(1) + " passed your address on and no checked proxy could take over");
    ExpectUsersOwnSettings();
}

// A far proxy, whose page takes some 3.5 s, that the list found working, is kept as long as it
// answers at its own speed, and its death is noticed within its own limit and a period.
TEST_F(WatchTest, AFarProxyIsKeptWhileItAnswersAtItsOwnSpeed)
{
    ProxyCheckPool::LimitChecksTo(kProxyCheckLimitMs); // the tunnel through it takes some 7 s
    const host::Tinyproxy behind{"127.0.0.201", 8888, {"DisableViaHeader Yes"}};
    const TestService farProxy{Address(1), {"--port", "8888", "--hostile", "far", "--relay-to", behind.Host(), "--delay", "1700"}};
    Proxy(2);
    Proxy(3);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n" + Host(3) + ";DE\r\n", 3);
    const Rows verdicts = ListedVerdicts(main.listrep1);
    const auto farRow = std::find_if(verdicts.begin(), verdicts.end(), [&](const auto& row) { return row[0] == Host(1); });
    ASSERT_NE(farRow, verdicts.end());
    ASSERT_EQ((*farRow)[2], "yes") << "the list found it working with HTTPS";
    const unsigned webMs = static_cast<unsigned>(std::stoul((*farRow)[1]));
    Use(Host(1));

    // As many cycles as a minute of the real watch holds.
    const std::size_t checked = ChecksThrough("127.0.0.201");
    EXPECT_TRUE(PumpMessagesUntil([&] {
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), Host(1)) << main.StatusBar1.Text();
        return ChecksThrough("127.0.0.201") >= checked + 6;
    }, 60000));

    const unsigned limitMs = WatchTimesFor(webMs, {1000, 300}, kProxyCheckLimitMs).limitMs;
    const ULONGLONG stopped = GetTickCount64();
    behind.Pause();
    const std::string successor = AwaitSwitch({Host(2), Host(3)});
    const ULONGLONG noticed = GetTickCount64() - stopped;
    std::cout << "far proxy: web " << webMs << " ms, limit " << limitMs << " ms; its death noticed after " << noticed
              << " ms\n";
    // A check already past the proxy when it stopped still passes; from then on, its limit and a
    // period, and a moment to switch.
    EXPECT_LT(noticed, webMs + limitMs + 1000 + 1000);
    EXPECT_TRUE(errors.empty());
}

// The same country is where the user appears, not what the list says: the proxy listed in
// another country that leaves from the dead one's takes over.
TEST_F(WatchTest, TheSuccessorOfTheSameExitCountryComesFirst)
{
    for (int n = 1; n <= 3; ++n)
        Proxy(n);
    service->Serve("places.txt", Address(1) + "|JP Japan|\n" + Address(2) + "|DE Germany|\n" + Address(3) + "|JP Japan|\n");
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n" + Host(3) + ";FR\r\n", 3);
    Use(Host(1));
    proxies[1].reset();
    EXPECT_EQ(AwaitSwitch({Host(2), Host(3)}), Host(3));
    EXPECT_EQ(main.Label2.Text(), "Japan");
    EXPECT_NE(main.StatusBar1.Text().find("now " + Host(3) + " (Japan, elite)"), std::string::npos) << main.StatusBar1.Text();
}

// A refresh that ends while the watch checks its dead proxy brings the best new proxy in.
TEST_F(WatchTest, ARefreshDuringACheckCycleBringsTheBestNewProxyIn)
{
    ProxyWatch::UseTimes({10, 1000, 300, 600000, 600000}); // a cycle starts right after the last one
    Proxy(1);
    Refresh(Host(1) + ";DE\r\n", 1);
    Use(Host(1));
    proxies[1]->Pause(); // the watch's cycles now take as long as its period
    AwaitStatus("no checked proxy could take over");
    Proxy(2);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n", 2);
    EXPECT_EQ(AwaitSwitch({Host(2)}), Host(2));
    EXPECT_EQ(main.StatusBar1.Text().find("no checked proxy could take over"), std::string::npos) << main.StatusBar1.Text();
}

} // namespace
