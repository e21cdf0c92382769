#include "CheckSupport.h"
#include "HostTools.h"
#include "TestService.h"

#include "verify/ProxyCheck.h"

#include <iostream>

namespace {

constexpr unsigned kLimitMs = 2000;

ProxyVerdict Check(CheckEngine& engine, const CheckOrder& order)
{
    return checks::RunJob<ProxyVerdict>(engine, [&](auto done) { return ProxyCheckJob(order, done); }, 3 * kLimitMs);
}

std::vector<std::string> UsersAddresses(CheckEngine& engine, const std::string& service)
{
    return checks::RunJob<std::vector<std::string>>(
        engine,
        [&](auto done) { return UsersAddressJob(ServiceAddresses(service), service, "Mozilla/5.0", kLimitMs, done); },
        3 * kLimitMs);
}

// Each kind of proxy a public list holds, real tinyproxy instances among them, and the hostile
// ones, checked against the service (which also stands in for its HTTPS side on port 443).
TEST(ProxyCheck, EachKindOfProxyGetsTheVerdictItEarnsWithinTheLimit)
{
    CheckEngine engine;
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Tinyproxy elite{"127.0.0.81", 8888, {"DisableViaHeader Yes"}};
    const host::Tinyproxy anonymous{"127.0.0.82", 8888};
    const host::Tinyproxy transparent{"127.0.0.83", 8888, {"XTinyproxy Yes"}};
    const host::Tinyproxy noTunnel{"127.0.0.84", 8888, {"ConnectPort 563"}};
    const TestService hanging{"127.0.0.85", {"--never-answer", "yes"}};
    const TestService dripping{"127.0.0.87", {"--hostile", "drip"}};
    const TestService redirecting{"127.0.0.88", {"--hostile", "redirect"}};
    const TestService binary{"127.0.0.89", {"--hostile", "binary"}};
    const TestService huge{"127.0.0.90", {"--hostile", "huge"}};
    const TestService flooding{"127.0.0.91", {"--hostile", "flood"}};
    const TestService forging{"127.0.0.92", {"--hostile", "forge"}};
    TestService replaying{"127.0.0.93", {"--hostile", "replay"}};
    const TestService rewriting{"127.0.0.94", {"--hostile", "rewrite"}};
    replaying.Serve("replay.page", checks::PageThrough(engine, "127.0.0.81:8888", service.Host()));
    service.Serve("places.txt", "127.0.0.81|JP Japan|AS64500 Zarnu Test Net\n");

    const std::vector<std::string> users = UsersAddresses(engine, service.Host());
    ASSERT_EQ(users, std::vector<std::string>{"127.0.0.1"});

    struct Case {
        std::string proxy;
        bool web;
        bool https;
        std::optional<Anonymity> anonymity;
    };
    for (const Case& c : {Case{"127.0.0.81:8888", true, true, Anonymity::Elite},
                          Case{"127.0.0.82:8888", true, true, Anonymity::Anonymous},
                          Case{"127.0.0.83:8888", true, true, Anonymity::Transparent},
                          Case{"127.0.0.84:8888", true, false, Anonymity::Anonymous},
                          Case{"127.0.0.86:8888", false, false, std::nullopt}, // nothing listens
                          Case{hanging.Host(), false, false, std::nullopt},    // accepts, never answers
                          Case{dripping.Host(), false, false, std::nullopt},   // answers a byte at a time
                          Case{flooding.Host(), false, false, std::nullopt},   // headers without end
                          // A good page behind a redirect, with NUL bytes, or in 64 MB.
                          Case{redirecting.Host(), false, false, std::nullopt},
                          Case{binary.Host(), false, false, std::nullopt},
                          Case{huge.Host(), false, false, std::nullopt},
                          // Pages the service never stated for this check.
                          Case{forging.Host(), false, false, std::nullopt},
                          Case{replaying.Host(), false, false, std::nullopt},
                          Case{rewriting.Host(), false, false, std::nullopt},
                          Case{service.Host(), false, false, std::nullopt}}) { // a server, not a proxy
        SCOPED_TRACE(c.proxy);
        const ProxyVerdict verdict = Check(engine, {c.proxy, service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs});
        EXPECT_EQ(verdict.webMs.has_value(), c.web);
        EXPECT_EQ(verdict.https, c.https);
        EXPECT_EQ(verdict.anonymity, c.anonymity);
        if (c.web) {
            EXPECT_EQ(verdict.kind, ProxyKind::Http);
        }
    }
    EXPECT_EQ(Check(engine, {"127.0.0.81:8888", service.Host(), "Mozilla/5.0 (Test)", {}, kLimitMs}).anonymity,
              Anonymity::Unknown);
    // Where the user appears through a proxy, as the service placed the page's request.
    const ProxyVerdict placed = Check(engine, {"127.0.0.81:8888", service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs});
    EXPECT_EQ(placed.exitAddress, "127.0.0.81");
    EXPECT_EQ(placed.exitCountry, "JP Japan");
    EXPECT_EQ(placed.exitNetwork, "AS64500 Zarnu Test Net");
    const ProxyVerdict unplaced = Check(engine, {"127.0.0.82:8888", service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs});
    EXPECT_EQ(unplaced.exitAddress, "127.0.0.82");
    EXPECT_EQ(unplaced.exitCountry, "");
    // No check tells the proxy anything of the user or the program.
    for (const TestService::Request& request : service.Requests()) {
        EXPECT_FALSE(request.credentialsSent) << request.path;
        if (request.from != "127.0.0.1") {
            EXPECT_EQ(request.userAgent, "Mozilla/5.0 (Test)") << request.path;
        }
    }
}

// SOCKS proxies are found on their ports within the same limit and judged in their kind, their
// "HTTPS" the connection they open to that port: SOCKS 5, a server of both kinds as SOCKS 5,
// SOCKS 4 where that is all a server speaks. A check asked in one kind asks in that kind only.
TEST(ProxyCheck, SocksProxiesAreFoundAndJudgedInTheirKind)
{
    CheckEngine engine;
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Microsocks socks5{"127.0.0.101", 1080};
    const host::Dante both{"127.0.0.102", 1080};
    const host::Dante socks4{"127.0.0.103", 1080, host::Dante::Socks4Only};
    const host::Tinyproxy http{"127.0.0.104", 8888, {"DisableViaHeader Yes"}};
    const std::vector<std::string> users = UsersAddresses(engine, service.Host());

    struct Case {
        std::string proxy;
        ProxyKind kind;
    };
    for (const Case& c : {Case{socks5.Host(), ProxyKind::Socks5}, Case{both.Host(), ProxyKind::Socks5},
                          Case{socks4.Host(), ProxyKind::Socks4}, Case{http.Host(), ProxyKind::Http}}) {
        SCOPED_TRACE(c.proxy);
        const ULONGLONG start = GetTickCount64();
        const ProxyVerdict verdict = Check(engine, {c.proxy, service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs});
        // Once the proxy's kind answered, the others' connections, which it holds unanswered, end.
        EXPECT_LT(GetTickCount64() - start, kLimitMs) << "the check waited for its limit";
        EXPECT_TRUE(verdict.webMs.has_value());
        EXPECT_TRUE(verdict.https);
        EXPECT_EQ(verdict.anonymity, Anonymity::Elite);
        EXPECT_EQ(verdict.kind, c.kind);
        EXPECT_EQ(verdict.exitAddress, c.proxy.substr(0, c.proxy.find(':')));
        EXPECT_EQ(VerdictCells(verdict).back(), ProxyKindText(c.kind));
    }
    const auto checkAs = [&](const std::string& proxy, ProxyKind kind) {
        return Check(engine, {proxy, service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs, true, kind});
    };
    EXPECT_EQ(checkAs(both.Host(), ProxyKind::Socks4).kind, ProxyKind::Socks4);
    EXPECT_FALSE(checkAs(socks4.Host(), ProxyKind::Socks5).webMs.has_value());
    EXPECT_FALSE(checkAs(socks5.Host(), ProxyKind::Http).webMs.has_value());
    EXPECT_FALSE(checkAs(http.Host(), ProxyKind::Socks5).webMs.has_value());
}

// A proxy that reads the request and closes the connection, CONNECT included, fails its check at
// once, and the engine does not spin on the closed socket meanwhile.
// A proxy that asks for an account, in either protocol: checked right with the account, and,
// without it or with a wrong one, a verdict that says which.
TEST(ProxyCheck, AProxyWithAPasswordIsCheckedWithItAndSaysWhenItIsMissingOrWrong)
{
    CheckEngine engine;
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Tinyproxy http{"127.0.0.105", 8888, {"DisableViaHeader Yes", "BasicAuth alice s3cret"}};
    const host::Microsocks socks5{"127.0.0.106", 1080, "bob", "p@ss:word"};
    const std::vector<std::string> users = UsersAddresses(engine, service.Host());
    struct Case {
        std::string proxy;
        ProxyAccount account;
        ProxyKind kind;
    };
    for (const Case& c : {Case{http.Host(), {"alice", "s3cret"}, ProxyKind::Http},
                          Case{socks5.Host(), {"bob", "p@ss:word"}, ProxyKind::Socks5}}) {
        SCOPED_TRACE(c.proxy);
        CheckOrder order{c.proxy, service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs};
        order.account = c.account;
        const ProxyVerdict verdict = Check(engine, order);
        EXPECT_TRUE(verdict.webMs.has_value());
        EXPECT_TRUE(verdict.https);
        EXPECT_EQ(verdict.anonymity, Anonymity::Elite);
        EXPECT_EQ(verdict.kind, c.kind);
        order.account.reset();
        EXPECT_EQ(VerdictCells(Check(engine, order))[0], "needs a password");
        order.account = ProxyAccount{c.account.user, "wrong"};
        EXPECT_EQ(VerdictCells(Check(engine, order))[0], "password refused");
    }
    // As a list's line names them: the account and, in the URL form, the kind come with the proxy.
    for (const std::string& line : {http.Host() + ":alice:s3cret", "socks5://bob:p%40ss%3Aword@" + socks5.Host()}) {
        const ProxyVerdict verdict = Check(engine, {line, service.Host(), "Mozilla/5.0 (Test)", users, kLimitMs});
        EXPECT_EQ(verdict.anonymity, Anonymity::Elite) << line;
        EXPECT_TRUE(verdict.https) << line;
    }
    // The account reached no one but its proxy.
    for (const TestService::Request& request : service.Requests())
        EXPECT_FALSE(request.credentialsSent) << request.path;
}

TEST(ProxyCheck, AProxyThatHangsUpFailsAtOnceWithoutSpinning)
{
    CheckEngine engine;
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const TestService hangingUp{"127.0.0.95", {"--hostile", "hangup"}};
    const auto cpuMs = [] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; };
        return (ticks(kernel) + ticks(user)) / 10000;
    };
    const ULONGLONG cpuBefore = cpuMs();
    const ULONGLONG start = GetTickCount64();
    const ProxyVerdict verdict = checks::RunJob<ProxyVerdict>(
        engine, [&](auto done) { return ProxyCheckJob({hangingUp.Host(), service.Host(), "Mozilla/5.0", {}, 5000}, done); },
        10000);
    const ULONGLONG elapsed = GetTickCount64() - start;
    const ULONGLONG cpu = cpuMs() - cpuBefore;
    std::cout << "a check of a proxy that hangs up: " << elapsed << " ms, " << cpu << " ms of CPU\n";
    EXPECT_FALSE(verdict.webMs);
    EXPECT_FALSE(verdict.https);
    // Before, it ended only at its 5 s limit, with over a second of CPU spent.
    EXPECT_LT(elapsed, 1000u);
    EXPECT_LT(cpu, 250u);
}

TEST(ProxyCheck, TheUsersAddressIsLearnedDirectlyOverEitherFamilyAndTheOwnWay)
{
    CheckEngine engine;
    const TestService overIpv6{"::1"};
    EXPECT_EQ(UsersAddresses(engine, overIpv6.Host()), std::vector<std::string>{"::1"});

    const TestService service;
    const host::Tinyproxy users{"127.0.0.78", 8888};
    const RequestWay throughUsersProxy{RequestWay::Kind::Proxy, u"127.0.0.78:8888", {}};
    EXPECT_EQ(UsersAddressTheWay(service.Host(), throughUsersProxy, "Mozilla/5.0", kLimitMs), "127.0.0.78");
    EXPECT_EQ(UsersAddressTheWay(service.Host(), RequestWay{RequestWay::Kind::Direct, {}, {}}, "Mozilla/5.0", kLimitMs),
              "127.0.0.1");
}

} // namespace
