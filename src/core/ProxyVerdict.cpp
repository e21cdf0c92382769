#include "core/ProxyVerdict.h"

std::vector<std::string> VerdictCells(const ProxyVerdict& verdict)
{
    const bool passed = verdict.webMs || verdict.https;
    const char* failed = verdict.account == StepReply::Account::Needed    ? "needs a password"
                         : verdict.account == StepReply::Account::Refused ? "password refused"
                                                                          : "fails";
    return {verdict.webMs ? std::to_string(*verdict.webMs) : failed, verdict.https ? "yes" : "no",
            verdict.anonymity ? AnonymityText(*verdict.anonymity) : "", verdict.exitAddress, verdict.exitCountry,
            passed && verdict.kind ? ProxyKindText(*verdict.kind) : ""};
}
