#include "lists/ProxyProbes.h"

#include "core/IcmpStatus.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"
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

} // namespace

void RefreshProxyList(const std::string& account, ProxyListView& list, const Edit& hostNames,
                      ProbeLauncher& probes, ProbeHandler onProbe)
{
    const std::string path = ExecutableDirectory() + "paidproxy.cfg";
    if (!DownloadToFile(ServiceUrl(account, ServiceHost(), ProxyListPath), path, ServiceRequestWay()))
        return;
    list.Clear();
    // Decoded on the way in: the box then lays out its lines once, not twice.
    SetBoxText(hostNames, DecodeProxyList(NormalizeLineEnds(ReadFileText(path))));
    probes.Launch(ProbedLines(SplitLines(hostNames.Text())), true, std::move(onProbe)); // CR LF lines
}

void CheckProxyLines(const std::string& pasted, ProxyListView& list, ProbeLauncher& probes,
                     ProbeHandler onProbe)
{
    const std::vector<std::string> lines = SplitLines(NormalizeLineEnds(pasted));
    if (lines.empty())
        return; // the list keeps its rows
    list.Clear();
    probes.Launch(ProbedLines(lines), false, std::move(onProbe));
}

void ListAnsweredProbe(ProxyListView& list, const TPingThread& probe)
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
    list.InsertInOrder(std::move(row), 2);
}

void ListCheckedProbe(ProxyListView& list, const TPingThread& probe)
{
    ListRow row{probe.SourceLine, {}};
    AssignSubItemText(row, AnsweredInTime(probe) ? std::to_string(probe.RoundTripMs) : "BAD PROXY");
    list.InsertInOrder(std::move(row), 1);
}
