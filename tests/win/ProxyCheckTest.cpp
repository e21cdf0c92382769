#include "HostTools.h"
#include "TestService.h"

#include "verify/ProxyCheck.h"

namespace {

// Each kind of proxy a public list holds, real tinyproxy instances among them, checked against
// the service (which also stands in for its HTTPS side on port 443).
TEST(ProxyCheck, EachKindOfProxyGetsItsVerdictWithinTheLimit)
{
    const TestService service{"127.0.0.1", {"--https-port", "443"}};
    const host::Tinyproxy elite{"127.0.0.81", 8888, {"DisableViaHeader Yes"}};
    const host::Tinyproxy anonymous{"127.0.0.82", 8888};
    const host::Tinyproxy transparent{"127.0.0.83", 8888, {"XTinyproxy Yes"}};
    const host::Tinyproxy noTunnel{"127.0.0.84", 8888, {"ConnectPort 563"}};
    const TestService hanging{"127.0.0.85", {"--never-answer", "yes"}};
    const TestService dripping{"127.0.0.87", {"--hostile", "drip"}};
    const TestService redirecting{"127.0.0.88", {"--hostile", "redirect"}};
    const TestService binary{"127.0.0.89", {"--hostile", "binary"}};
    const TestService huge{"127.0.0.90", {"--hostile", "huge"}};

    const PageFetch direct = FetchIpCheckPage(service.Host(), RequestWay{RequestWay::Kind::Direct, {}, {}});
    ASSERT_TRUE(direct.fetched);
    const std::optional<std::string> users = CallerAddress(direct.page);
    ASSERT_EQ(users, "127.0.0.1");

    struct Case {
        std::string proxy;
        bool web;
        bool https;
        std::optional<Anonymity> anonymity;
    };
    const unsigned limitMs = 2000;
    for (const Case& c : {Case{"127.0.0.81:8888", true, true, Anonymity::Elite},
                          Case{"127.0.0.82:8888", true, true, Anonymity::Anonymous},
                          Case{"127.0.0.83:8888", true, true, Anonymity::Transparent},
                          Case{"127.0.0.84:8888", true, false, Anonymity::Anonymous},
                          Case{"127.0.0.86:8888", false, false, std::nullopt}, // nothing listens
                          Case{hanging.Host(), false, false, std::nullopt},    // accepts, never answers
                          Case{dripping.Host(), false, false, std::nullopt},   // answers a byte at a time
                          // A good page behind a redirect, with NUL bytes, or in 64 MB; the
                          // status line of the last two passes for a tunnel's.
                          Case{redirecting.Host(), false, false, std::nullopt},
                          Case{binary.Host(), false, true, std::nullopt},
                          Case{huge.Host(), false, true, std::nullopt},
                          Case{service.Host(), false, false, std::nullopt}}) { // a server, not a proxy
        SCOPED_TRACE(c.proxy);
        const ULONGLONG start = GetTickCount64();
        const ProxyVerdict verdict = CheckProxy(c.proxy, service.Host(), users, limitMs);
        EXPECT_LT(GetTickCount64() - start, 3 * limitMs) << "a part of the check went past its limit";
        EXPECT_EQ(verdict.webMs.has_value(), c.web);
        EXPECT_EQ(verdict.https, c.https);
        EXPECT_EQ(verdict.anonymity, c.anonymity);
    }
    EXPECT_EQ(CheckProxy("127.0.0.81:8888", service.Host(), std::nullopt, limitMs).anonymity, Anonymity::Unknown);
    // No check carries the account: no request reached the service with credentials.
    for (const TestService::Request& request : service.Requests())
        EXPECT_FALSE(request.credentialsSent) << request.path;
}

} // namespace
