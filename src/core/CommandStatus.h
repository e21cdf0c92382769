#pragma once
// What a list's window says of its command (a refresh of the main list, a check of pasted lines)
// in its status bar: how far the probes and then the checks have got, and once it has ended, a
// summary that stays until the next command. Numbers in the user's digit grouping.

#include "core/IpCheckPage.h"
#include "core/ProxyHandshake.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// How the user's locale writes numbers.
struct NumberStyle {
    std::string thousands = ",";
    std::string decimal = ".";
};

// `number` with its digits in groups of three: "10,000".
std::string GroupedNumber(std::size_t number, const NumberStyle& style);

// The counts of one command.
struct CommandTally {
    std::size_t lines = 0;    // lines it probes
    std::size_t probed = 0;   // probes finished
    std::size_t answered = 0; // answered the echo in time
    std::size_t listed = 0;   // rows: answered in time, or found working
    std::size_t checks = 0;   // lines (and late rows) handed to the checks
    std::size_t checked = 0;  // verdicts come
    std::size_t working = 0;  // the page came through the proxy
    std::size_t elite = 0;
    std::size_t anonymous = 0;
    std::size_t transparent = 0;
    std::size_t https = 0;    // the tunnel worked
    std::size_t socks5 = 0;   // of the working ones
    std::size_t socks4 = 0;

    // Counts one verdict: whether the page came, with which anonymity, the tunnel, and the kind
    // of proxy.
    void Count(bool web, const std::optional<Anonymity>& anonymity, bool tunnel,
               std::optional<ProxyKind> kind = std::nullopt);
};

// "1,234 of 10,000 probed, 56 listed", while the probes run.
std::string ProbingText(const CommandTally& tally, const NumberStyle& style);
// "40 of 10,000 lines checked, 12 work", while the checks run.
std::string CheckingText(const CommandTally& tally, const NumberStyle& style);
// Once the command has ended, `seconds` after it began: "10,000 probed in 16.5 s: 812 answered,
// 95 work (12 elite, 40 anonymous, 31 transparent), 23 carry HTTPS", and where SOCKS proxies
// work "; by type 80 HTTP, 12 SOCKS5, 3 SOCKS4", or, where none answered and none works, "No
// proxy answered" and how many were probed.
std::string SummaryText(const CommandTally& tally, double seconds, const NumberStyle& style);
// What a command that dropped the earlier one says first.
inline constexpr const char* kEarlierCommandDropped = "The earlier command was dropped and a new one began. ";
// "The proxy list could not be fetched: " and why (`reason`).
std::string ListNotFetchedText(const std::string& reason);

// A speed test's counts: proxies tested, of how many, how many a page came through, the fastest.
struct SpeedTally {
    std::size_t tested = 0;
    std::size_t total = 0;
    std::size_t measured = 0;
    unsigned fastestKBps = 0;
};
// "Testing speed: 2 of 5 proxies", while it runs; once it has ended, "Speed tested: 5 proxies, 4
// carried the test page, the fastest at 2,345 kB/s", or "... none carried the test page"; with
// nothing to test, what to do.
std::string SpeedText(const SpeedTally& tally, const NumberStyle& style);
