#include "core/WatchRules.h"

#include "core/ExitPlace.h"
#include "core/ListRows.h"
#include "core/ProxyAccount.h"
#include "core/ProxyList.h"

#include <algorithm>

namespace {

// Elite before anonymous before unknown; transparent proxies never take over.
int Rank(const std::optional<Anonymity>& anonymity)
{
    if (anonymity == Anonymity::Elite)
        return 0;
    if (anonymity == Anonymity::Anonymous)
        return 1;
    return 2;
}

bool Known(const std::optional<Anonymity>& anonymity)
{
    return anonymity && anonymity != Anonymity::Unknown;
}

std::string Described(const CheckedProxy& proxy)
{
    std::string text = ShownProxy(proxy.address) + " (";
    if (!proxy.country.empty())
        text += proxy.country + ", ";
    return text + AnonymityText(proxy.anonymity.value_or(Anonymity::Unknown)) + ")";
}

} // namespace

std::optional<CheckedProxy> CheckedProxyOf(const ListRow& row, int countryItem)
{
    if (!IsWorking(row))
        return std::nullopt;
    const ProxyVerdict& verdict = *row.Verdict;
    CheckedProxy proxy;
    proxy.address = RowProxy(row);
    proxy.country = AppearsIn(row, countryItem);
    proxy.anonymity = verdict.anonymity;
    proxy.https = verdict.https;
    proxy.webMs = *verdict.webMs;
    proxy.kind = verdict.kind;
    return proxy;
}

std::vector<CheckedProxy> Successors(const CheckedProxy& dead, const std::vector<CheckedProxy>& candidates)
{
    std::vector<CheckedProxy> successors;
    for (const CheckedProxy& candidate : candidates) {
        if (candidate.address == dead.address || candidate.anonymity == Anonymity::Transparent ||
            (Known(dead.anonymity) && !Known(candidate.anonymity)) ||
            (Known(dead.anonymity) && dead.anonymity != Anonymity::Transparent &&
             Rank(candidate.anonymity) > Rank(dead.anonymity)) ||
            (dead.https && !candidate.https))
            continue;
        successors.push_back(candidate);
    }
    std::stable_sort(successors.begin(), successors.end(), [&](const CheckedProxy& a, const CheckedProxy& b) {
        const bool aHome = !dead.country.empty() && a.country == dead.country;
        const bool bHome = !dead.country.empty() && b.country == dead.country;
        if (aHome != bHome)
            return aHome;
        return a.webMs < b.webMs;
    });
    return successors;
}

bool SwitchBudget::Allows(std::uint64_t now)
{
    while (!spent_.empty() && now - spent_.front() >= windowMs_)
        spent_.pop_front();
    return spent_.size() < most_;
}

bool SetAside::Holds(const std::string& address, std::uint64_t now) const
{
    const auto found = until_.find(address);
    return found != until_.end() && now < found->second;
}

std::string FailedChecksReason(int checks, std::uint64_t milliseconds)
{
    const std::uint64_t tenths = (milliseconds + 50) / 100;
    return std::to_string(checks) + " checks failed in " + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10) + " s";
}

std::string SwitchedText(const std::string& dead, const std::string& reason, const CheckedProxy& successor)
{
    return ShownProxy(dead) + " stopped working (" + reason + "); now " + Described(successor);
}

std::string SearchText(const std::string& dead, const std::string& reason)
{
    return ShownProxy(dead) + " stopped working (" + reason + "); Zarnu checks others to take over";
}

std::string StrandedText(const std::string& dead, const std::string& reason)
{
    return ShownProxy(dead) + " stopped working (" + reason +
           ") and no checked proxy could take over: \"Refresh Proxy List\" for new ones, or \"Stop Hide My IP\" "
           "to browse directly";
}

std::string NotSwitchedText(const std::string& dead, const std::string& reason, const std::string& why)
{
    return ShownProxy(dead) + " stopped working (" + reason + "); " + why +
           ": \"Refresh Proxy List\" or \"Use This Proxy\" for another, or \"Stop Hide My IP\" to browse directly";
}

std::string OfflineText(const std::string& proxy)
{
    return "You are offline: the Zarnu service cannot be reached either. " + ShownProxy(proxy) + " stays in use; the watch goes on";
}

std::string AnswersAgainText(const std::string& proxy)
{
    return ShownProxy(proxy) + " answers again and is in use as before";
}

std::string LeakCutText(const std::string& proxy, bool relayed)
{
    return ShownProxy(proxy) + " passes your address on: " +
           (relayed ? std::string("Zarnu cut it off, so your browser waits") :
                      std::string("Zarnu switched it off, so you browse under your own address")) +
           " while it checks others to take over";
}

std::string LeakSwitchedOffText(const std::string& proxy, const std::string& why)
{
    return ShownProxy(proxy) + " passed your address on and " + why +
           ", so Zarnu switched it off: you browse under your own address. \"Refresh Proxy List\" or \"Use This "
           "Proxy\" to hide it again";
}

std::string LeakNotSwitchedOffText(const std::string& proxy, const std::string& error)
{
    return ShownProxy(proxy) + " passes your address on and could not be switched off (" + error +
           "): \"Stop Hide My IP\" to stop it";
}

std::string SwitchFailedText(const std::string& dead, const std::string& successor, const std::string& error)
{
    return ShownProxy(dead) + " stopped working; the switch to " + ShownProxy(successor) + " failed (" + error +
           "): \"Use This Proxy\" for another, or \"Stop Hide My IP\" to browse directly";
}

std::string WatchEndedText(const std::string& proxy)
{
    return "Your proxy settings no longer use " + ShownProxy(proxy) +
           " (changed outside Zarnu): Zarnu no longer watches it and leaves your settings alone";
}

std::string BlindText(const std::string& proxy)
{
    return "Zarnu cannot learn your own address from its service, so it cannot see whether " + ShownProxy(proxy) +
           " passes it on; it keeps trying";
}
