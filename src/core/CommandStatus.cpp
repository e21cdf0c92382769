#include "core/CommandStatus.h"

#include <cmath>
#include <optional>

std::string GroupedNumber(std::size_t number, const NumberStyle& style)
{
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += style.thousands;
        grouped += digits[i];
    }
    return grouped;
}

void CommandTally::Count(bool web, const std::optional<Anonymity>& anonymity, bool tunnel,
                         std::optional<ProxyKind> kind)
{
    ++checked;
    https += tunnel;
    if (!web)
        return;
    ++working;
    elite += anonymity == Anonymity::Elite;
    this->anonymous += anonymity == Anonymity::Anonymous;
    transparent += anonymity == Anonymity::Transparent;
    socks5 += kind == ProxyKind::Socks5;
    socks4 += kind == ProxyKind::Socks4;
}

std::string ProbingText(const CommandTally& tally, const NumberStyle& style)
{
    return GroupedNumber(tally.probed, style) + " of " + GroupedNumber(tally.lines, style) + " probed, " +
           GroupedNumber(tally.listed, style) + " listed";
}

std::string CheckingText(const CommandTally& tally, const NumberStyle& style)
{
    return GroupedNumber(tally.checked, style) + " of " + GroupedNumber(tally.checks, style) +
           " lines checked, " + GroupedNumber(tally.working, style) + " work";
}

namespace {

std::string KindsText(const CommandTally& tally, const NumberStyle& style)
{
    if (tally.socks5 + tally.socks4 == 0)
        return {};
    return "; by type " + GroupedNumber(tally.working - tally.socks5 - tally.socks4, style) + " HTTP, " +
           GroupedNumber(tally.socks5, style) + " SOCKS5, " + GroupedNumber(tally.socks4, style) + " SOCKS4";
}

} // namespace

std::string SummaryText(const CommandTally& tally, double seconds, const NumberStyle& style)
{
    const long tenths = std::lround(seconds * 10);
    const std::string time = GroupedNumber(static_cast<std::size_t>(tenths / 10), style) + style.decimal +
                             std::to_string(tenths % 10) + " s";
    const std::string probed = GroupedNumber(tally.probed, style) + " probed in " + time;
    if (tally.answered == 0 && tally.working == 0)
        return "No proxy answered: " + probed;
    return probed + ": " + GroupedNumber(tally.answered, style) + " answered, " + GroupedNumber(tally.working, style) +
           " work (" + GroupedNumber(tally.elite, style) + " elite, " + GroupedNumber(tally.anonymous, style) +
           " anonymous, " + GroupedNumber(tally.transparent, style) + " transparent), " +
           GroupedNumber(tally.https, style) + " carry HTTPS" + KindsText(tally, style);
}

std::string ListNotFetchedText(const std::string& reason)
{
    return "The proxy list could not be fetched: " + reason;
}

std::string SpeedText(const SpeedTally& tally, const NumberStyle& style)
{
    const auto proxies = [&](std::size_t count) {
        return GroupedNumber(count, style) + (count == 1 ? " proxy" : " proxies");
    };
    if (tally.total == 0)
        return "No proxy to test the speed of: select one, or wait for the checks to find working ones";
    if (tally.tested < tally.total)
        return "Testing speed: " + GroupedNumber(tally.tested, style) + " of " + proxies(tally.total);
    const std::string text = "Speed tested: " + proxies(tally.total) + ", ";
    if (tally.measured == 0)
        return text + "none carried the test page";
    return text + GroupedNumber(tally.measured, style) + " carried the test page, the fastest at " +
           GroupedNumber(tally.fastestKBps, style) + " kB/s";
}
