#pragma once
// What a what-is-my-IP page tells of the request that fetched it: the caller's address as the
// server saw it, whether a given address appears in it, and whether a proxy on the way left its
// traces (headers such as Via or X-Forwarded-For, in header or server-variable spelling). From
// these, how well a proxy hides the user. The page is any text: nothing in it is trusted.

#include <optional>
#include <string>
#include <string_view>

// The caller's address: the value of a "REMOTE_ADDR" line where the page has one, otherwise
// the first dotted IPv4 address in it; nullopt when there is none.
std::optional<std::string> CallerAddress(std::string_view page);

// True when `address` appears in the page as a whole address, not as part of a longer one.
bool MentionsAddress(std::string_view page, std::string_view address);

// True when a line names a header that proxies add (Via, X-Forwarded-For, Forwarded, X-Real-IP,
// Client-IP and the like) with a value, as "Via: ..." or as "HTTP_VIA = ...".
bool HasProxyTraces(std::string_view page);

enum class Anonymity {
    Unknown,     // the user's own address is not known: no verdict on traces alone
    Elite,       // neither the user's address nor traces
    Anonymous,   // traces, but not the user's address
    Transparent, // the user's address reached the far side
};

// How well the proxy that fetched `page` hides a user whose own address is `usersAddress`; the
// line that names the server asked ("Host") does not count as mentioning it.
Anonymity JudgeAnonymity(std::string_view page, const std::optional<std::string>& usersAddress);

// The verdict's text in the list: "unknown", "elite", "anonymous", "transparent".
const char* AnonymityText(Anonymity anonymity);
