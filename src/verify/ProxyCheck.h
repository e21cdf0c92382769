#pragma once
// The check of one proxy through its own port, as jobs of the check engine: the service's
// what-is-my-IP page asked through the proxy, and the same page asked through a tunnel that the
// proxy opens to the service's HTTPS port, each with a fresh token. A proxy whose kind is not
// known is asked as an HTTP proxy, a SOCKS 5 one and a SOCKS 4 one at once, and the kind that
// answers in its own protocol first is the proxy's (a SOCKS proxy's "HTTPS" is the connection it
// opens to that port). Only the service's signed
// statement for that token counts (core/IpCheckPage.h): a proxy that answers by itself, replays
// an old page or changes one gets no verdict it did not earn. No check carries anything of the
// user's but the address the proxy sees: not the account, not the password, not the program's
// name (its User-Agent is a browser's).
// And the user's own address, as the service sees it directly (which is how the checks reach
// their proxies) and the way the program's own requests go.

#include "core/IpCheckPage.h"
#include "core/ProxyHandshake.h"
#include "core/ProxyVerdict.h"
#include "core/ProxyWorks.h"
#include "core/RequestWay.h"
#include "verify/CheckEngine.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What a check asks, and of whom.
struct CheckOrder {
    // host:port, or a proxy with an account in one of its forms (core/ProxyAccount.h), which
    // gives the account and kind where these are not given
    std::string proxy;
    std::string service; // "host" or "host:port"
    std::string userAgent;
    std::vector<std::string> usersAddresses; // none: not known
    unsigned limitMs = kProxyCheckLimitMs;
    bool tunnel = true; // also ask for the tunnel
    std::optional<ProxyKind> kind; // nullopt: find it out
    std::optional<ProxyAccount> account; // given to a proxy that asks for one
};

// The job that checks `order.proxy`; `onVerdict` gets the verdict on the engine's thread.
CheckJob ProxyCheckJob(const CheckOrder& order, std::function<void(const ProxyVerdict&)> onVerdict);

// What a speed test asks, and of whom: the service's speed page through `proxy` in its `kind`,
// within `limitMs`.
struct SpeedOrder {
    std::string proxy; // as CheckOrder::proxy
    ProxyKind kind = ProxyKind::Http;
    std::string service;
    std::string userAgent;
    unsigned limitMs = kSpeedTestLimitMs;
};

// The job that downloads the speed page through `order.proxy`; `onSpeed` gets, on the engine's
// thread, the kB/s of what came of its body (as much as came within the limit), nullopt where none
// of it did.
CheckJob SpeedTestJob(const SpeedOrder& order, std::function<void(std::optional<unsigned> kBps)> onSpeed);

// The service's addresses, at most one IPv4 and one IPv6, as "address:port" (the IPv6 one in
// brackets). Blocking: it may look the name up.
std::vector<std::string> ServiceAddresses(const std::string& service);

// The job that asks the service directly at each of `addresses` what it sees of the user;
// `onAddresses` gets the addresses stated, on the engine's thread.
CheckJob UsersAddressJob(const std::vector<std::string>& addresses, const std::string& service,
                         const std::string& userAgent, unsigned limitMs,
                         std::function<void(std::vector<std::string> usersAddresses)> onAddresses);

// The user's address as the service states it for a request that goes `way`, with the platform's
// own client; nullopt when no statement came within `limitMs`. Blocking.
std::optional<std::string> UsersAddressTheWay(const std::string& service, const RequestWay& way,
                                              const std::string& userAgent, unsigned limitMs);
