#include "lists/ProxyProbes.h"

#include "core/IcmpStatus.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"
#include "settings/AgentOverride.h"
#include "settings/SystemProxy.h"

#include <stdexcept>

namespace {

// Only an echo reply answers: a router's report about the request ("destination host
// unreachable", "TTL expired in transit") arrives as a reply record with another status.
bool Answered(const TPingThread& probe)
{
    return probe.ReplyCount != 0 && probe.ReplyStatus == kIcmpSuccess;
}

bool AnsweredInTime(const TPingThread& probe)
{
    return Answered(probe) && probe.RoundTripMs <= kSlowestListedPing;
}

void SetBoxText(const Edit& box, const std::string& text)
{
    if (!box.TrySetText(text))
        throw std::runtime_error("Text exceeds memo capacity");
}

// The lines that get a probe: every non-empty one.
std::vector<std::string> ProbedLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> probed;
    for (const std::string& line : lines)
        if (!line.empty())
            probed.push_back(line);
    return probed;
}

// The proxy a line names, as a check reaches it: "address:port", without blanks around it.
std::string ProxyAddress(const std::string& line)
{
    const std::string label = ProxyLineLabel(line);
    const auto first = label.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return label.substr(first, label.find_last_not_of(" \t") - first + 1);
}

// A new batch of checks, whose verdicts land in the rows of `list` wherever they stand, and
// which start once `probes` are done.
void BeginChecks(ProxyListView& list, ProxyCheckPool& checks, const ProbeLauncher& probes)
{
    checks.Begin(
        ServiceRequestWay(), CheckUserAgent(),
        [&list](std::uint64_t rowId, const ProxyVerdict& verdict) { list.SetChecks(rowId, VerdictCells(verdict)); },
        [&probes] { return probes.Busy(); });
}

} // namespace

void RefreshProxyList(const std::string& account, ProxyListView& list, const Edit& hostNames,
                      ProbeLauncher& probes, ProxyCheckPool& checks, ProbeHandler onProbe)
{
    const std::string path = ExecutableDirectory() + "paidproxy.cfg";
    if (!DownloadToFile(ServiceUrl(account, ServiceHost(), ProxyListPath), path, ServiceRequestWay()))
        return;
    list.Clear();
    BeginChecks(list, checks, probes);
    // Decoded on the way in: the box then lays out its lines once, not twice.
    SetBoxText(hostNames, DecodeProxyList(NormalizeLineEnds(ReadFileText(path))));
    probes.Launch(ProbedLines(SplitLines(hostNames.Text())), true, std::move(onProbe)); // CR LF lines
}

void CheckProxyLines(const std::string& pasted, ProxyListView& list, ProbeLauncher& probes,
                     ProxyCheckPool& checks, ProbeHandler onProbe)
{
    const std::vector<std::string> lines = SplitLines(NormalizeLineEnds(pasted));
    if (lines.empty())
        return; // the list keeps its rows
    list.Clear();
    BeginChecks(list, checks, probes);
    probes.Launch(ProbedLines(lines), false, std::move(onProbe));
}

void ListAnsweredProbe(ProxyListView& list, ProxyCheckPool& checks, const TPingThread& probe)
{
    if (!Answered(probe))
        return;
    if (!AnsweredInTime(probe)) {
        list.Sort(2);
        return;
    }
    // A row put on top (caption, the country's lines, the ping), then sorted by the ping column.
    ListRow row{ProxyLineLabel(probe.SourceLine), {}};
    AssignSubItemText(row, probe.Country);
    row.SubItems.push_back(std::to_string(probe.RoundTripMs));
    checks.Add(list.InsertInOrder(std::move(row), 2), ProxyAddress(probe.SourceLine));
}

void ListCheckedProbe(ProxyListView& list, ProxyCheckPool& checks, const TPingThread& probe)
{
    ListRow row{probe.SourceLine, {}};
    AssignSubItemText(row, AnsweredInTime(probe) ? std::to_string(probe.RoundTripMs) : "BAD PROXY");
    const std::uint64_t id = list.InsertInOrder(std::move(row), 1);
    if (AnsweredInTime(probe))
        checks.Add(id, ProxyAddress(probe.SourceLine));
}
