#pragma once
// The rules of the watch over the proxy in use: which checked proxy may take over from one that
// died, how often the program may switch by itself, which proxies it leaves alone for a while,
// and the lines it tells the user. Times are milliseconds of a steady clock.

#include "core/IpCheckPage.h"
#include "core/ProxyHandshake.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A proxy as its list row's verdict shows it.
struct CheckedProxy {
    std::string address; // "address:port"
    std::string country; // where the user appears: the exit country once checked, else the listed one
    std::optional<Anonymity> anonymity; // nullopt: its check has not told
    bool https = false;
    unsigned webMs = 0;
    std::optional<ProxyKind> kind; // nullopt: not known
};

struct ListRow;

// The proxy of a list row whose check passed (IsWorking), with its verdict; nullopt for any other
// row. `countryItem`: the sub-item that holds the country, -1 where the list has none.
std::optional<CheckedProxy> CheckedProxyOf(const ListRow& row, int countryItem);

// The proxies of `candidates` that may take over from `dead`, best first. A successor passed
// its check, is no less anonymous (elite before anonymous; never transparent; never unknown
// where the dead one's anonymity was known), carries HTTPS where the dead one did, and is not the
// dead one; among those, the same country first, then the lower web time.
std::vector<CheckedProxy> Successors(const CheckedProxy& dead, const std::vector<CheckedProxy>& candidates);

// At most `most` switches in any `windowMs`.
class SwitchBudget {
public:
    SwitchBudget(std::size_t most, std::uint64_t windowMs) : most_(most), windowMs_(windowMs) {}
    bool Allows(std::uint64_t now);
    void Spend(std::uint64_t now) { spent_.push_back(now); }

private:
    std::size_t most_;
    std::uint64_t windowMs_;
    std::deque<std::uint64_t> spent_;
};

// Proxies set aside until a time.
class SetAside {
public:
    void Add(const std::string& address, std::uint64_t until) { until_[address] = until; }
    bool Holds(const std::string& address, std::uint64_t now) const;
    void Remove(const std::string& address) { until_.erase(address); }

private:
    std::map<std::string, std::uint64_t> until_;
};

// The lines of the status bar; the carrier puts the local time ("HH:MM:SS") before each.
std::string FailedChecksReason(int checks, std::uint64_t milliseconds); // "3 checks failed in 7 s"
inline constexpr const char* kPassesAddressReason = "passes your address on";
inline constexpr const char* kLostHttpsReason = "carries no HTTPS any more";
std::string SwitchedText(const std::string& dead, const std::string& reason, const CheckedProxy& successor);
// A search for a proxy to take over from `dead` has begun.
std::string SearchText(const std::string& dead, const std::string& reason);
std::string StrandedText(const std::string& dead, const std::string& reason);
std::string NotSwitchedText(const std::string& dead, const std::string& reason, const std::string& why);
std::string OfflineText(const std::string& proxy);
std::string AnswersAgainText(const std::string& proxy);
// Why a dead or leaking proxy was not switched from.
inline constexpr const char* kSwitchingOffWhy = "switching automatically is off";
inline constexpr const char* kBudgetSpentWhy = "three automatic switches in ten minutes, no more";
inline constexpr const char* kNoSuccessorWhy = "no checked proxy could take over";
// A proxy seen passing the user's address on no longer carries the browser: cut off inside the
// relay (`relayed`) or switched off; others are checked to take over.
std::string LeakCutText(const std::string& proxy, bool relayed);
// A proxy that passed the user's address on has been switched off, for `why`.
std::string LeakSwitchedOffText(const std::string& proxy, const std::string& why);
// ...or could not be, for the registry's `error`.
std::string LeakNotSwitchedOffText(const std::string& proxy, const std::string& error);
std::string SwitchFailedText(const std::string& dead, const std::string& successor, const std::string& error);
// The system settings no longer route through `proxy`: the user or another program changed them.
std::string WatchEndedText(const std::string& proxy);
// No address of the user's is known: whether `proxy` passes it on cannot be seen.
std::string BlindText(const std::string& proxy);
