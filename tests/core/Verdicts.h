#pragma once
// Verdicts of checks, as the tests of the lists and the watch give them to rows.

#include "core/ListRows.h"

#include <optional>
#include <string>

namespace verdicts {

inline ProxyVerdict Passed(unsigned webMs, bool https, Anonymity anonymity, std::string exitAddress = "",
                           std::string exitCountry = "", ProxyKind kind = ProxyKind::Http)
{
    ProxyVerdict verdict;
    verdict.webMs = webMs;
    verdict.https = https;
    verdict.anonymity = anonymity;
    verdict.exitAddress = std::move(exitAddress);
    verdict.exitCountry = std::move(exitCountry);
    verdict.kind = kind;
    return verdict;
}

inline ProxyVerdict Failed(bool https = false)
{
    ProxyVerdict verdict;
    verdict.https = https;
    return verdict;
}

inline void Judge(ListRow& row, const ProxyVerdict& verdict)
{
    row.Verdict = verdict;
    row.Checks = VerdictCells(verdict);
}

} // namespace verdicts
