#pragma once
// Proxies with a hostile answer, for the tests: what a list of public proxies may hold.

#include <filesystem>
#include <string>

// Listens on `address`:`port` (0: any port), writes the port to `root`/port, and answers every
// connection as a proxy of the kind `kind` would; runs until the process ends. The kinds:
//   drip      "HTTP/1.1 200 OK" and a header that never ends, one byte every 250 ms
//   flood     "HTTP/1.1 200 OK" and header lines without end, as fast as they go
//   redirect  a 302 whose body is a good page
//   binary    a good page with NUL bytes
//   huge      a good page repeated for 64 MB
//   forge     every request, CONNECT included (then the request through the "tunnel"), answered
//             with 200 and a page like the service's for the request's token, showing another
//             caller and signed with made-up bytes
//   replay    every request answered with 200 and `root`/replay.page, a page recorded earlier
//   rewrite   a real proxy (CONNECT too) that changes the caller's address in the page it relays
//   hangup    every request, CONNECT included, read and the connection closed unanswered
//   refuse-account  every request, CONNECT included, answered 407 whatever account it gives
//   socks-garble  a SOCKS 5 proxy that connects any request for port 443 to `relayTo` and
//             answers any other with bytes of no protocol
//   far       a relay to `relayTo` (address:port, a real proxy) that passes every chunk on, each
//             way, `delayMs` after it came: a proxy far away; a new connection goes to the
//             address:port that `root`/relay-to names, where that file is there (a proxy that
//             changes under its users)
// Returns 1 when it cannot listen.
struct HostileOptions {
    std::string kind;
    std::string relayTo;
    int delayMs = 0;
};
int ServeHostile(const std::filesystem::path& root, const std::string& address, int port, const HostileOptions& options);
