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
//   country_database = GeoLite2-Country.mmdb   optional: countries for lines without one
//   max_connections = 1000          connections open at once; more wait to be accepted
//   request_timeout = 10            seconds in which a whole request must arrive
//   max_header_bytes = 8192         a request's line and headers together
//   rate_limit = 60                 list downloads a minute, per account and per caller
//   reload_interval = 5             seconds between looks at the files for changes
//   shutdown_grace = 10             seconds that requests in flight get after SIGTERM

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

struct ServiceConfig {
    std::string listenAddress = "0.0.0.0";
    unsigned short listenPort = 80;
    unsigned short tunnelPort = 443;
    std::filesystem::path proxyList;
    std::filesystem::path userAgents;
    std::optional<std::filesystem::path> accounts;
    std::filesystem::path signingKey;
    std::optional<std::filesystem::path> countryDatabase;
    unsigned maxConnections = 1000;
    unsigned requestTimeoutSeconds = 10;
    unsigned maxHeaderBytes = 8192;
    unsigned rateLimitPerMinute = 60;
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
