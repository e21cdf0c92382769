#pragma once
// The check of one proxy through its own port: the service's what-is-my-IP page fetched through
// it as an HTTP proxy, with the platform's own HTTP client, and the HTTPS tunnel asked of it, side
// by side. Each part within one time limit, connection included. Blocking: runs on a worker thread, any
// thread. Network trouble is never raised: a part that fails says so in the verdict. No check
// ever carries the account name or the password.

#include "core/IpCheckPage.h"
#include "core/RequestWay.h"

#include <optional>
#include <string>
#include <vector>

// The time one part of a check may take, whole.
inline constexpr unsigned kProxyCheckLimitMs = 10000;

struct PageFetch {
    bool fetched = false;
    unsigned milliseconds = 0; // to the whole page
    std::string page;
};

// Fetches http://`service`/whatismyip.php (`service`: host or host:port) the way `way` says,
// whole, within `limitMs`. Not fetched: no answer in time, a status other than 200 (a redirect
// among them), a body of more than 64 KB or with a NUL byte.
PageFetch FetchIpCheckPage(const std::string& service, const RequestWay& way, unsigned limitMs = kProxyCheckLimitMs);

// True when the proxy at `proxy` (host:port) answers "CONNECT" to port 443 of `service`'s host
// with a 2xx status line within `limitMs`.
bool TunnelsToHttps(const std::string& proxy, const std::string& service, unsigned limitMs = kProxyCheckLimitMs);

struct ProxyVerdict {
    std::optional<unsigned> webMs; // the time to the whole page; nullopt: the page failed
    bool https = false;
    std::optional<Anonymity> anonymity; // only where the page came
};

// The whole check of the proxy at `proxy` (host:port), judged against `usersAddress`, the user's
// own address as the page shows it without a proxy (nullopt: not known). A page that shows no
// caller's address counts as failed: another server answered in the page's place. Returns within
// the limit: a page fetch still running then is left behind on a thread of its own.
ProxyVerdict CheckProxy(const std::string& proxy, const std::string& service,
                        const std::optional<std::string>& usersAddress, unsigned limitMs = kProxyCheckLimitMs);

// The verdict as the list shows it: "Web (ms)" the time or "fails", "HTTPS" "yes" or "no",
// "Anonymity" its text, empty where the page failed.
std::vector<std::string> VerdictCells(const ProxyVerdict& verdict);
