#include "core/ProxyVerdict.h"

std::vector<std::string> VerdictCells(const ProxyVerdict& verdict)
{
    const bool passed = verdict.webMs || verdict.https;
    return {verdict.webMs ? std::to_string(*verdict.webMs) : "fails", verdict.https ? "yes" : "no",
            verdict.anonymity ? AnonymityText(*verdict.anonymity) : "", verdict.exitAddress, verdict.exitCountry,
            passed && verdict.kind ? ProxyKindText(*verdict.kind) : ""};
}
