#pragma once
// The kinds of proxy that public lists hold, and how a connection through one is opened: the
// bytes a client sends and the replies it waits for, step by step, for an HTTP proxy's tunnel
// ("CONNECT"), SOCKS 5 and SOCKS 4 (4a for a name), with the account of a proxy that asks for one
// where it is given: Basic "Proxy-Authorization" for a tunnel, SOCKS 5's username and password
// (RFC 1929), SOCKS 4's user id. A name goes to the proxy, which looks it up: nothing is looked up
// on the client's side.

#include "core/HttpHead.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ProxyKind { Http, Socks5, Socks4 };

struct ProxyAccount {
    std::string user;
    std::string password;

    bool operator==(const ProxyAccount&) const = default;
};

// "HTTP", "SOCKS5", "SOCKS4".
const char* ProxyKindText(ProxyKind kind);
// The kind that ProxyKindText gives `text`; nullopt for any other text.
std::optional<ProxyKind> ProxyKindOf(std::string_view text);

// How far the reply to a step has come.
struct StepReply {
    enum State {
        More,    // not whole yet
        Granted, // the proxy did what was asked; what follows the reply's `length` bytes came from the far end
        Refused, // a reply of the protocol that says no
        Garbled, // no reply of this protocol: the proxy speaks another, or none
    };
    State state = More;
    std::size_t length = 0;
    // Refused because the far end refused the connection or could not be reached (SOCKS 5's
    // network, host or connection refused or TTL expired; SOCKS 4's "rejected or failed"): the
    // proxy itself did its part.
    bool farEnd = false;
    // Refused for the account: the proxy asks for one that the step did not give (Needed), or it
    // refused the one given (Refused).
    enum class Account { Fine, Needed, Refused } account = Account::Fine;
    // Granted, and the next this many steps are needless (the proxy chose to ask for no account).
    std::size_t skip = 0;
};
using ReplyReader = StepReply (*)(std::string_view received);

struct HandshakeStep {
    std::string request;
    ReplyReader read = nullptr;
};

// The steps that open a connection to `host`:`port` (an address or a name) through a SOCKS proxy
// of `kind` (Socks5 or Socks4); none where the host cannot be named to it (a name of more than
// 255 bytes, a host with a ':' that is no IPv6 address, or an IPv6 address to SOCKS 4). An IPv6
// address goes to SOCKS 5 as one.
// With `account`, SOCKS 5 offers no authentication and the username method at once (none where
// the user or the password is longer than 255 bytes), and SOCKS 4 sends the user as its user id.
std::vector<HandshakeStep> SocksSteps(ProxyKind kind, const std::string& host, unsigned short port,
                                      const ProxyAccount* account = nullptr);

// What asks an HTTP proxy for a tunnel to `authority` ("host:port"), as `userAgent`, with
// `account` where given.
std::string TunnelRequest(const std::string& authority, const std::string& userAgent,
                          const ProxyAccount* account = nullptr);
// The "Proxy-Authorization" line (with its CR LF) that gives `account` to an HTTP proxy.
std::string ProxyAuthorizationLine(const ProxyAccount& account);

// The step that asks an HTTP proxy for a tunnel with `request` ("CONNECT ..."): granted for a 2xx
// answer, whose head may take at most 16 KB; a 407 is refused for the account, Needed or, where
// `withAccount`, Refused (and so is a 401 then: some proxies answer a wrong account so).
HandshakeStep TunnelStep(std::string request, bool withAccount = false);
