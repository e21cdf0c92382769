#pragma once
// What one check of a proxy found, as a value: the lists keep it in their rows beside the cells
// they show, and the watch compares proxies by it.

#include "core/IpCheckPage.h"
#include "core/ProxyHandshake.h"

#include <optional>
#include <string>
#include <vector>

struct ProxyVerdict {
    std::optional<unsigned> webMs; // the time to the whole page; nullopt: the page failed
    bool https = false;            // the tunnel reached the service and brought its statement back
    std::optional<Anonymity> anonymity; // only where the page came
    bool refused = false;          // the page failed because no connection to the proxy could be made
    // No connection to the proxy was made within the check's time, and none was refused: the proxy
    // may be far, or a packet lost, and a later check with more time may reach it.
    bool unreached = false;
    // The service answered through the proxy that its caller (the proxy's exit address, shared by
    // everyone on it) is over its limit, signed for this check's token: the proxy carries the
    // check, but the service said nothing of how it hides the user (no anonymity, no exit place).
    bool limited = false;
    // Where the user appears through the proxy, as the service saw the page's request (only where
    // the page came): its address, and its country ("JP Japan") and network where the service
    // knows them.
    std::string exitAddress;
    std::string exitCountry;
    std::string exitNetwork;
    std::optional<ProxyKind> kind; // the protocol it answered in
    // The page failed because the proxy asks for an account that the check did not give (Needed),
    // or refused the one given (Refused).
    StepReply::Account account = StepReply::Account::Fine;

    bool operator==(const ProxyVerdict&) const = default;
};

// The verdict as the lists show it: "Web (ms)" the time, "needs a password", "password refused"
// or "fails", "HTTPS" "yes" or "no",
// "Anonymity" its text, empty where the page failed; then the exit address and country
// (core/ExitPlace.h), empty where unknown; then the kind ("HTTP", "SOCKS5", "SOCKS4") where the
// page or the tunnel came through the proxy.
std::vector<std::string> VerdictCells(const ProxyVerdict& verdict);
inline constexpr std::size_t kExitAddressCell = 3;
inline constexpr std::size_t kProxyKindCell = 5;
