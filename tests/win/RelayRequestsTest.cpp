#include "BrowserClient.h"
#include "HostTools.h"
#include "RecordingSite.h"
#include "RelayFailures.h"
#include "TestService.h"

#include "relay/Relay.h"

#include <atomic>
#include <thread>

using namespace browser;

namespace {

std::string Get(const RecordingSite& site, const std::string& path, const std::string& cookie)
{
    return "GET http://" + site.Host() + path + " HTTP/1.1\r\nHost: " + site.Host() + "\r\nCookie: secret=" + cookie +
           "\r\nProxy-Connection: keep-alive\r\n\r\n";
}

} // namespace

// Through a SOCKS proxy each request on a kept-alive browser connection goes to the server it
// names, though the first server keeps its connection open: neither sees the other's request or
// cookie. A chunked upload and the requests pipelined behind it arrive whole and in order, and
// their answers come back in that order.
TEST(RelayRequests, EachRequestOnAKeptConnectionGoesToItsOwnServer)
{
    const host::Microsocks socks{"127.0.0.131", 1080};
    const RecordingSite a("A", "127.0.0.132", 8080);
    const RecordingSite b("B", "127.0.0.133", 8080);
    Relay relay;
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));
    Browser browser(relay.Port());
    browser.Send(Get(a, "/first", "A"));
    EXPECT_NE(browser.ReadUntil("A:/first;").find("A:/first;"), std::string::npos);
    browser.Send(Get(b, "/second", "B"));
    EXPECT_NE(browser.ReadUntil(";").find("B:/second;"), std::string::npos);
    ASSERT_EQ(a.Requests().size(), 1u);
    EXPECT_NE(a.Requests()[0].find("secret=A"), std::string::npos);
    EXPECT_EQ(a.Requests()[0].find("Proxy-"), std::string::npos) << a.Requests()[0];
    ASSERT_EQ(b.Requests().size(), 1u);
    EXPECT_NE(b.Requests()[0].rfind("GET /second HTTP/1.1\r\n", 0), std::string::npos) << b.Requests()[0];
    EXPECT_EQ(b.Requests()[0].find("secret=A"), std::string::npos);

    const std::string upload = "POST http://" + a.Host() + "/upload HTTP/1.1\r\nHost: " + a.Host() +
                               "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    browser.Send(upload + Get(a, "/third", "A") + Get(b, "/fourth", "B"));
    const std::string answers = browser.ReadUntil("B:/fourth;");
    const std::size_t uploaded = answers.find("A:/upload;"), third = answers.find("A:/third;"),
                      fourth = answers.find("B:/fourth;");
    EXPECT_TRUE(uploaded < third && third < fourth && fourth != std::string::npos) << answers;
    ASSERT_EQ(a.Requests().size(), 3u);
    EXPECT_NE(a.Requests()[1].find("\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"), std::string::npos)
        << a.Requests()[1];
    EXPECT_NE(a.Requests()[2].rfind("GET /third ", 0), std::string::npos);
    ASSERT_EQ(b.Requests().size(), 2u);
    EXPECT_EQ(b.Requests()[1].find("secret=A"), std::string::npos);
}

// A browser that has sent all it will (a half-close) still gets its answers through a SOCKS
// proxy, in a tunnel and as a request, and then the connection ends.
TEST(RelayRequests, ABrowsersHalfCloseGoesOnAndItsAnswersStillCome)
{
    const host::Dante socks{"127.0.0.136", 1080}; // it passes a half-close on, as microsocks does not
    const RecordingSite site("H", "127.0.0.137", 8080);
    Relay relay;
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));

    Browser tunnel(relay.Port());
    tunnel.Send("CONNECT " + site.Host() + " HTTP/1.1\r\n\r\n");
    ASSERT_EQ(tunnel.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
    tunnel.Send("GET /tunneled HTTP/1.1\r\nHost: " + site.Host() + "\r\n\r\n");
    tunnel.EndSending();
    EXPECT_NE(tunnel.ReadUntil().find("H:/tunneled;"), std::string::npos);
    EXPECT_TRUE(tunnel.Ended()); // the site's end came through

    Browser request(relay.Port());
    request.Send(Get(site, "/asked", "H"));
    request.EndSending();
    EXPECT_NE(request.ReadUntil().find("H:/asked;"), std::string::npos);
    EXPECT_TRUE(request.Ended());
}

// A thousand connections that never ask anything and 512 tunnels that pass nothing do not keep
// the browser's next request from its answer; a relay whose work fails answers 502 and says so.
TEST(RelayRequests, IdleCrowdsDoNotStarveTheBrowserAndAFailedRelayFailsClosed)
{
    const TestService service{"127.0.0.1"};
    const host::Microsocks socks{"127.0.0.134", 1080};
    const RecordingSite silent("S", "127.0.0.135", 8080);
    Failures failures;
    Relay relay(failures.Recorder());
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));
    std::vector<std::unique_ptr<Browser>> crowd;
    for (int i = 0; i < 1000; ++i)
        crowd.push_back(std::make_unique<Browser>(relay.Port()));
    for (int i = 0; i < 512; ++i) {
        crowd.push_back(std::make_unique<Browser>(relay.Port()));
        crowd.back()->Send("CONNECT " + silent.Host() + " HTTP/1.1\r\n\r\n");
    }
    for (std::size_t i = 1000; i < crowd.size(); ++i)
        ASSERT_EQ(crowd[i]->ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n") << i;
    const ULONGLONG start = GetTickCount64();
    const Page page = FetchThrough(relay.Address(), "http://" + service.Host() + "/whatismyip.php");
    std::printf("the browser's request beside %zu idle links: answered in %llu ms\n", crowd.size(),
                GetTickCount64() - start);
    EXPECT_EQ(Caller(page.body), "127.0.0.134");

    relay.BreakForTest();
    Browser afterwards(relay.Port());
    afterwards.Send("GET http://" + service.Host() + "/whatismyip.php HTTP/1.1\r\nHost: " + service.Host() + "\r\n\r\n");
    EXPECT_EQ(afterwards.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
    EXPECT_EQ(failures.Told(1), std::vector<std::string>{": " + std::string(PathFailureText(PathFailure::RelayBroke))});
}

// However the browser keeps the relay busy, a connection opened after a switch goes through the
// new proxy, never the one left: counted at the site, which sees each proxy's own address.
TEST(RelayRequests, NoConnectionOpenedAfterASwitchGoesThroughTheProxyLeft)
{
    const host::Microsocks first{"127.0.0.136", 1080};
    const host::Microsocks second{"127.0.0.137", 1080};
    const RecordingSite site("S", "127.0.0.138", 8080);
    Relay relay;
    ASSERT_TRUE(relay.SetUpstream(first.Host(), ProxyKind::Socks5));
    std::atomic<bool> busy{true};
    std::atomic<int> loaded{0};
    std::thread load([&] {
        while (busy) {
            Browser browsing(relay.Port());
            browsing.Send(Get(site, "/load", "L"));
            browsing.ReadUntil(";");
            ++loaded;
        }
    });
    while (loaded == 0)
        Sleep(1); // the load is under way before the first switch
    int wrong = 0;
    for (int switchNumber = 0; switchNumber < 100; ++switchNumber) {
        const bool toSecond = switchNumber % 2 == 0;
        ASSERT_TRUE(relay.SetUpstream((toSecond ? second : first).Host(), ProxyKind::Socks5));
        Browser browser(relay.Port());
        const std::string path = "/after-switch-" + std::to_string(switchNumber);
        browser.Send(Get(site, path, "S"));
        EXPECT_NE(browser.ReadUntil(";").find(path), std::string::npos) << switchNumber;
        const auto requests = site.Requests();
        const auto callers = site.Callers();
        for (std::size_t i = 0; i < requests.size(); ++i)
            if (requests[i].find("GET " + path + " ") == 0 && callers[i] != (toSecond ? "127.0.0.137" : "127.0.0.136"))
                ++wrong;
    }
    busy = false;
    load.join();
    EXPECT_EQ(wrong, 0) << "connections opened after a switch that reached the proxy left";
}

// When the relay is full, the caller holding the most links gives up its quietest: another
// caller's older connection stays, and the relay says it was full.
TEST(RelayRequests, AFullRelayMakesRoomFromTheCallerHoldingTheMost)
{
    const TestService service{"127.0.0.1"};
    const host::Microsocks socks{"127.0.0.139", 1080};
    Failures failures;
    Relay relay(failures.Recorder(), 0, 32);
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));
    Browser browser(relay.Port()); // the quietest of all, but its caller holds one link
    std::vector<std::unique_ptr<Browser>> crowd;
    for (int i = 0; i < 40; ++i)
        crowd.push_back(std::make_unique<Browser>(relay.Port(), "127.0.0.9"));
    browser.Send("GET http://" + service.Host() + "/whatismyip.php HTTP/1.1\r\nHost: " + service.Host() +
                 "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(Caller(browser.ReadUntil()), "127.0.0.139");
    EXPECT_EQ(failures.Told(1), std::vector<std::string>{socks.Host() + ": " + PathFailureText(PathFailure::RelayFull)});
}
