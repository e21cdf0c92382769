#pragma once
// The service's what-is-my-IP page as evidence. Asked with a token ("?token=..."), the service
// states what it saw of the request: the caller's address, which of its two sides took the
// request (the web side, or the far end of a tunnel), every request header as a server variable,
// and the token; and it signs that statement. Only a statement whose signature holds and which
// names the token of this very request counts: text that merely came back through a proxy (its
// own page, an old page replayed, a page rewritten on the way) proves nothing. From a statement,
// how well the proxy that carried the request hides the user.
//
// The page, one "NAME = value" line each:
//   REMOTE_ADDR = 203.0.113.7
//   ZARNU_SIDE = web                      (or "tunnel")
//   HTTP_HOST = ...                       (every request header, in server-variable spelling)
//   ZARNU_COUNTRY = JP Japan              (asked with "&v=2": the caller's country, ISO code
//   ZARNU_NETWORK = AS2516 KDDI CORP       and English name, and network; each empty where the
//                                          service does not know it)
//   ZARNU_LIMITED = 1                     (only in an answer 429: the caller is over the service's
//                                          limit; the statement then holds no headers and no place)
//   ZARNU_TOKEN = <the token>
//   ZARNU_SIGNATURE = <hex of the signature over StatementMessage(everything above this line)>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr const char* kWebSide = "web";
inline constexpr const char* kTunnelSide = "tunnel";

// An IPv4 or IPv6 address as 16 bytes; IPv4 as its IPv4-mapped IPv6 form, so that
// "::ffff:192.0.2.1" and "192.0.2.1" are the same address.
using IpAddress = std::array<std::uint8_t, 16>;

// The address that `text` is, whole: dotted IPv4 (four decimal numbers up to 255) or IPv6 in any
// of its spellings; nullopt for anything else.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// True when `address` appears in `text` as an address of its own (not as part of a longer one),
// in any spelling of it: "2001:DB8:0::7" mentions "2001:db8::7", "192.0.2.1:4711" and
// "[::ffff:192.0.2.1]" mention "192.0.2.1", "192.0.2.10" does not.
bool MentionsAddress(std::string_view text, std::string_view address);

struct IpStatement {
    std::string callerAddress; // as the service saw the connection's far end
    std::string side;          // kWebSide or kTunnelSide
    std::string token;
    // Each request header: its name in server-variable spelling without "HTTP_" ("X_FORWARDED_FOR")
    // and its value.
    std::vector<std::pair<std::string, std::string>> headers;
    // Where the caller's address is: stated when the program asked ("&v=2") and a service that
    // knows this asked it; empty values where the service does not know.
    bool placed = false;
    std::string country; // "JP Japan"
    std::string network; // "AS2516 KDDI CORPORATION"
    // The caller is over the service's limit: the request was seen, and nothing more is stated.
    bool limited = false;
};

// What the signature covers: a fixed context line, then the statement's lines.
std::string StatementMessage(std::string_view statement);

// The page for a statement: its lines with the token, then the signature line. `sign` returns
// the signature of a message as bytes.
std::string SignedIpCheckPage(const IpStatement& statement,
                              const std::function<std::string(std::string_view message)>& sign);

// The page the service serves for `statement`: signed (SignedIpCheckPage) where it names a token
// of 32 to 64 hex digits; otherwise, for a browser, the same lines without side, token and
// signature. A limited statement without such a token has no page: empty.
std::string ServedIpCheckPage(const IpStatement& statement,
                              const std::function<std::string(std::string_view message)>& sign);

// Checks a signature of a message; true when it holds.
using SignatureCheck = std::function<bool(std::string_view message, std::string_view signature)>;

// The statement of `page` when its signature holds and it names `token` and `side`; nullopt
// otherwise (another server's page, a forged or replayed one, one changed on the way).
std::optional<IpStatement> AcceptStatement(std::string_view page, std::string_view token, std::string_view side,
                                           const SignatureCheck& check);

// True when a header that proxies add (Via, X-Forwarded-For, Forwarded, X-Real-IP, Client-IP and
// the like) has a value.
bool HasProxyTraces(const IpStatement& statement);

enum class Anonymity {
    Unknown,     // the user's own address is not known: no verdict on traces alone
    Elite,       // neither the user's address nor traces
    Anonymous,   // traces, but not the user's address
    Transparent, // the user's address reached the far side
};

// How well the proxy that carried the stated request hides a user whose own addresses are
// `usersAddresses` (as the service sees the user directly, and through the user's own proxy):
// transparent when the request came from one of them or a header (the server's name aside)
// passes one on, whatever traces there are; unknown when none is known.
Anonymity JudgeAnonymity(const IpStatement& statement, const std::vector<std::string>& usersAddresses);

// The verdict's text in the list: "unknown", "elite", "anonymous", "transparent".
const char* AnonymityText(Anonymity anonymity);

// Bytes as lower-case hex, and back (nullopt for an odd length or a character that is no digit).
std::string HexText(std::string_view bytes);
std::optional<std::string> HexBytes(std::string_view hex);
