#include "BrowserClient.h"
#include "RelayFailures.h"
#include "HostTools.h"
#include "TestService.h"

#include "relay/Relay.h"
#include "win/UniqueHandle.h"


using namespace browser;

namespace {

// The names that whatever on this side looks up are asked of the test's own name server.
class NameServer {
public:
    NameServer() : observer_("dns", host::ToolPath("dns-observer"), {})
    {
        for (int i = 0; i < 500 && !observer_.Ended() && observer_.Log().find("listening") == std::string::npos; ++i)
            Sleep(10);
        if (observer_.Log().find("listening") == std::string::npos)
            throw std::runtime_error("the name server did not start:\n" + observer_.Log());
    }
    std::string Asked() const { return host::FileText(observer_.Folder().File("asked")); }

private:
    host::Helper observer_;
};

} // namespace

// A SOCKS proxy carries the browser's requests and tunnels. SOCKS 5 looks their names up itself:
// the test's name server is never asked the name. SOCKS 4 is asked for an address here: this
// dante reads no names (4a).
TEST(Relay, ASocksProxyCarriesTheBrowserAndLooksTheNamesUpItself)
{
    const NameServer names;
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::OwnFolder hosts("hosts");
    std::ofstream(hosts.File("hosts")) << "127.0.0.1 zarnu-service.test\n";
    const host::Dante socks{"127.0.0.111", 1080, host::Dante::Socks4And5, hosts.File("hosts")};
    Relay relay;
    for (const auto& [kind, host] : {std::pair{ProxyKind::Socks5, "zarnu-service.test"}, {ProxyKind::Socks4, "127.0.0.1"}}) {
        SCOPED_TRACE(ProxyKindText(kind));
        ASSERT_TRUE(relay.SetUpstream(socks.Host(), kind));
        const Page page = FetchThrough(relay.Address(), "http://" + std::string(host) + ":" + PortOf(service.Host()) +
                                                            "/whatismyip.php");
        EXPECT_EQ(page.status, 200u) << socks.Log();
        EXPECT_EQ(Caller(page.body), "127.0.0.111");
        Browser browser(relay.Port());
        browser.Send("CONNECT " + std::string(host) + ":443 HTTP/1.1\r\nHost: " + host + ":443\r\n\r\n");
        EXPECT_EQ(browser.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
        browser.Send("GET /whatismyip.php HTTP/1.0\r\nHost: " + std::string(host) + "\r\n\r\n");
        EXPECT_EQ(Caller(browser.ReadUntil()), "127.0.0.111");
    }
    EXPECT_EQ(names.Asked().find("zarnu-service"), std::string::npos) << names.Asked();
}

// An HTTP proxy gets the browser's requests as they came; a new upstream closes the connections through the one left at once, and the next request goes
// through the new one.
TEST(Relay, AnHttpProxyCarriesTheBrowserUntilAnotherTakesOver)
{
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Tinyproxy first{"127.0.0.112", 8888};
    const host::Tinyproxy second{"127.0.0.113", 8888};
    Relay relay;
    ASSERT_TRUE(relay.SetUpstream(first.Host(), ProxyKind::Http));
    const std::string url = "http://" + service.Host() + "/whatismyip.php";
    EXPECT_EQ(Caller(FetchThrough(relay.Address(), url).body), "127.0.0.112");
    Browser tunnel(relay.Port());
    tunnel.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\nHost: 127.0.0.1:443\r\n\r\n");
    EXPECT_NE(tunnel.ReadUntil("\r\n\r\n").find(" 200 "), std::string::npos);

    ASSERT_TRUE(relay.SetUpstream(second.Host(), ProxyKind::Http));
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(tunnel.ReadUntil(), "") << "the tunnel through the proxy left is closed";
    EXPECT_LT(GetTickCount64() - start, 2000u);
    EXPECT_EQ(Caller(FetchThrough(relay.Address(), url).body), "127.0.0.113");
}

// Through an HTTP proxy with an account, every request carries the account and none of the
// browser's; a proxy that refuses it gets the browser a 502 that names no
// password, never a 407 that would ask the user for one.
TEST(Relay, AnHttpProxysAccountGoesWithEveryRequestAndARefusalIsNoPrompt)
{
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Tinyproxy accounted{"127.0.0.114", 8888, {"BasicAuth alice s3cret"}};
    const TestService refusing{"127.0.0.115", {"--hostile", "refuse-account"}};
    Failures failures;
    Relay relay(failures.Recorder());
    ASSERT_TRUE(relay.SetUpstream(accounted.Host() + ":alice:s3cret", ProxyKind::Http));
    Browser browser(relay.Port());
    browser.Send("GET http://" + service.Host() + "/whatismyip.php HTTP/1.1\r\nHost: " + service.Host() +
                 "\r\nProxy-Authorization: Basic Ym9iOmd1ZXNz\r\nConnection: close\r\n\r\n");
    const std::string answer = browser.ReadUntil();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_EQ(Caller(answer.substr(answer.find("\r\n\r\n") + 4)), "127.0.0.114");
    EXPECT_EQ(Caller(FetchThrough(relay.Address(), "http://" + service.Host() + "/whatismyip.php").body), "127.0.0.114");

    ASSERT_TRUE(relay.SetUpstream(refusing.Host() + ":alice:s3cret", ProxyKind::Http));
    const Page refused = FetchThrough(relay.Address(), "http://" + service.Host() + "/whatismyip.php");
    EXPECT_EQ(refused.status, 502u);
    EXPECT_NE(refused.body.find("alice@" + refusing.Host()), std::string::npos) << refused.body;
    EXPECT_EQ(refused.body.find("s3cret"), std::string::npos) << refused.body;
    Browser tunnel(relay.Port());
    tunnel.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tunnel.ReadUntil("\r\n").rfind("HTTP/1.1 502", 0), 0u);
    const std::string told = refusing.Host() + ":alice:s3cret: the proxy refused its password";
    EXPECT_EQ(failures.Told(2), (std::vector<std::string>{told, told}));
}

// Bad input from the browser's side or the proxy's ends that connection and nothing else, and a
// way that could not be opened is told; callers from elsewhere than this machine's loopback are
// closed unanswered.
TEST(Relay, BadInputEndsOnlyItsOwnConnectionAndOnlyLoopbackIsServed)
{
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const TestService garbling{"127.0.0.114", {"--hostile", "socks-garble", "--relay-to", "127.0.0.1:443"}};
    Failures failures;
    Relay relay(failures.Recorder());
    ASSERT_TRUE(relay.SetUpstream(garbling.Host(), ProxyKind::Socks5));
    Browser steady(relay.Port());
    steady.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    ASSERT_EQ(steady.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");

    Browser garbled(relay.Port()); // the proxy answers its request with no protocol
    garbled.Send("GET http://127.0.0.1:80/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(garbled.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
    Browser nonsense(relay.Port());
    nonsense.Send(std::string("\x16\x03\x01\x02\0 hello\r\n\r\n", 15));
    EXPECT_EQ(nonsense.ReadUntil().rfind("HTTP/1.1 400 ", 0), 0u);
    Browser huge(relay.Port());
    huge.Send("GET http://127.0.0.1/ HTTP/1.1\r\nX-Fill: " + std::string(20000, 'x') + "\r\n\r\n");
    EXPECT_EQ(huge.ReadUntil().rfind("HTTP/1.1 431 ", 0), 0u);
    const host::PrivateAddress elsewhere("10.77.0.5");
    Browser stranger(relay.Port(), "10.77.0.5");
    stranger.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(stranger.ReadUntil(), "") << "a caller from another address is not served";

    steady.Send("GET /whatismyip.php HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(Caller(steady.ReadUntil()), "127.0.0.1") << "the steady connection goes on";
    EXPECT_EQ(failures.Told(1), std::vector<std::string>{garbling.Host() + ": the proxy broke the handshake"});

    // No proxy at the upstream's address: the browser is told, and so is the relay's owner.
    ASSERT_TRUE(relay.SetUpstream("127.0.0.115:1080", ProxyKind::Socks5));
    Browser refused(relay.Port(), "127.0.0.5");
    refused.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(refused.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
    EXPECT_EQ(failures.Told(2), (std::vector<std::string>{garbling.Host() + ": the proxy broke the handshake",
                                                         "127.0.0.115:1080: the proxy refused the connection"}));
}

// What the relay tells of a failure says whose it is: a site that a SOCKS proxy could not reach
// is the site's; a tunnel that an HTTP proxy refused is the proxy's to answer for. A proxy whose
// kind is not known yet, or whose name is being looked up, holds the browser's request until it is.
TEST(Relay, FailuresSayWhoseTheyAreAndARequestWaitsForTheProxysKind)
{
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Microsocks socks{"127.0.0.116", 1080};
    const host::Tinyproxy noTunnels{"127.0.0.117", 8888, {"ConnectPort 563"}};
    Failures failures;
    Relay relay(failures.Recorder());
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));
    Browser refused(relay.Port());
    refused.Send("CONNECT 127.0.0.1:9 HTTP/1.1\r\n\r\n"); // nothing listens there
    EXPECT_EQ(refused.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
    ASSERT_TRUE(relay.SetUpstream(noTunnels.Host(), ProxyKind::Http));
    Browser tunnel(relay.Port());
    tunnel.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tunnel.ReadUntil("\r\n").find(" 200 "), std::string::npos);
    EXPECT_EQ(failures.Told(2), (std::vector<std::string>{socks.Host() + ": the site refused the connection",
                                                         noTunnels.Host() + ": the proxy refused a tunnel"}));

    ASSERT_TRUE(relay.SetUpstream(socks.Host(), std::nullopt));
    Browser waiting(relay.Port());
    waiting.Send("GET http://" + service.Host() + "/whatismyip.php HTTP/1.1\r\nHost: " + service.Host() +
                 "\r\nConnection: close\r\n\r\n");
    Sleep(300);
    ASSERT_TRUE(relay.SetUpstream(socks.Host(), ProxyKind::Socks5));
    EXPECT_EQ(Caller(waiting.ReadUntil()), "127.0.0.116");

    // A proxy named by a name that has no address: looked up aside, then told.
    ASSERT_TRUE(relay.SetUpstream("no-such-proxy.test:1080", ProxyKind::Socks5));
    Browser unnamed(relay.Port());
    unnamed.Send("CONNECT 127.0.0.1:443 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(unnamed.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
    EXPECT_EQ(failures.Told(3).back(), "no-such-proxy.test:1080: the proxy refused the connection");
}
