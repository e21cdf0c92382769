#pragma once
// The operator's configuration: one file of "key = value" lines ("#" starts a comment). Relative
// paths are taken from the file's own folder.
//
//   listen = 0.0.0.0:80             where the lists and the what-is-my-IP page are served (port 0:
//                                   any free one, which the log tells)
//   tunnel_port = 443               the far end of the proxies' tunnels (0: none)
//   proxy_list = proxies.txt        one "address:port;country" a line, the country optional
//   user_agents = useragent.txt     the browser identity list, served as it is
//   accounts = accounts.txt         optional: one account a line; without it, any account
//   signing_key = signing-key.pem   the secret that signs the page's statements (P-256, PEM)
//   country_database = GeoLite2-Country.mmdb   optional: countries for lines without one, and
//                                   the caller's country in the page's statement
//   network_database = GeoLite2-ASN.mmdb       optional: the caller's network in the statement
//   max_connections = 1000          connections open at once on each side (the web side, the
//                                   tunnels'); when full, one waiting for a request or its head
//                                   is closed for each newcomer (see ConnectionRoom), and where
//                                   none waits, more wait to be accepted
//   max_connections_per_caller = 32 of them from one caller, and from one IPv6 /64 and /48; more
//                                   are closed at once (a trusted proxy has no such bound)
//   idle_timeout = 5                seconds a connection may wait before the first byte of a
//                                   request (a new one, or the next on a kept-alive connection)
//   request_timeout = 10            seconds in which a whole request must arrive, from its first byte
//   max_header_bytes = 8192         a request's line and headers together
//   rate_limit = 60                 list downloads a minute per caller
//   account_rate_limit = 240        list downloads a minute per account (by default four times
//                                   rate_limit), counted after the caller's, so that no one
//                                   caller can use up an account's
//   auth_failures = 10              failed authentications a minute per caller; beyond them, 429
//   page_rate_limit = 600           what-is-my-IP pages a minute per caller (speed pages count
//                                   toward it too)
//   speed_test_bytes = 2097152      the size of the speed page, at most 16 MB (0: no such page)
//   trusted_proxies = 127.0.0.1     optional: reverse proxies in front of the service (addresses
//                                   or ranges such as 10.0.0.0/8, comma-separated), whose callers
//                                   are taken from X-Forwarded-For or Forwarded (see Caller.h);
//                                   they have no share bound of their own
//   least_list_share = 50           a new proxy list with fewer proxies than this share (in %) of
//                                   the one served is refused, unless asked for with SIGHUP; a
//                                   list with no proxy at all is always refused
//   settle_time = 2                 seconds a changed file must stay unchanged before it is read
//   reload_interval = 5             seconds between looks at the files for changes
//   shutdown_grace = 10             seconds that requests in flight get after SIGTERM (at most 25,
//                                   within the unit's 30 s stop time)

#include "Caller.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct ServiceConfig {
    std::string listenAddress = "0.0.0.0";
    unsigned short listenPort = 80;
    unsigned short tunnelPort = 443;
    std::filesystem::path proxyList;
    std::filesystem::path userAgents;
    std::optional<std::filesystem::path> accounts;
    std::filesystem::path signingKey;
    std::optional<std::filesystem::path> countryDatabase;
    std::optional<std::filesystem::path> networkDatabase;
    unsigned maxConnections = 1000;
    unsigned maxConnectionsPerCaller = 32;
    unsigned idleTimeoutSeconds = 5;
    unsigned requestTimeoutSeconds = 10;
    unsigned maxHeaderBytes = 8192;
    unsigned rateLimitPerMinute = 60;
    unsigned accountRateLimitPerMinute = 240;
    unsigned authFailuresPerMinute = 10;
    unsigned pageRateLimitPerMinute = 600;
    unsigned speedTestBytes = 2 * 1024 * 1024;
    std::vector<CallerNetwork> trustedProxies;
    unsigned leastListSharePercent = 50;
    unsigned settleSeconds = 2;
    unsigned reloadIntervalSeconds = 5;
    unsigned shutdownGraceSeconds = 10;
};

// A mistake in the configuration: one line that says where and what.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads and checks the file `path`: every key known, every value valid, every file named there
// readable. Raises ConfigError.
ServiceConfig ReadServiceConfig(const std::filesystem::path& path);

// The threads that serve requests on a machine of `cores` cores (0: not known): one a core, at
// least two, and at most kMostServingThreads, so that the unit's bound on tasks holds on any
// machine (beside them run the log's thread and the main thread's own work).
constexpr unsigned kMostServingThreads = 16;
unsigned ServingThreads(unsigned cores);
