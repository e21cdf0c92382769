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

// A new batch of the command's checks, whose verdicts land in the rows of `list` wherever they
// stand (and count in the command's progress).
void BeginChecks(ProxyListView& list, ListCommand& command)
{
    command.checks.Begin(
        ServiceRequestWay(), CheckUserAgent(),
        [&list, &command](std::uint64_t rowId, const ProxyVerdict& verdict) {
            list.SetVerdict(rowId, verdict);
            command.progress.Verdict(verdict);
        },
        [&command] { return command.probes.Busy(); });
}

// Why a transfer did not bring the list, in the user's words.
std::string WhyNotFetched(const TransferReport& report)
{
    if (!report.connected)
        return "no connection to the service";
    if (report.status != 200)
        return "the service answered " + std::to_string(report.status);
    return "the transfer broke off";
}

// Has the command's probes probe `lines` (with their countries: `withCountry`).
void Launch(ListCommand& command, std::vector<std::string> lines, bool withCountry, bool droppedEarlier,
            ProbeHandler onProbe)
{
    const std::size_t count = lines.size();
    command.probes.Launch(std::move(lines), withCountry, std::move(onProbe)); // completions come after this handler
    command.progress.Began(count, droppedEarlier);
}

} // namespace

void RefreshProxyList(const std::string& account, ProxyListView& list, const Edit& hostNames, ListCommand& command,
                      ProbeHandler onProbe)
{
    const bool droppedEarlier = command.Working();
    const std::string path = ExecutableDirectory() + "paidproxy.cfg";
    TransferReport transfer;
    if (!DownloadToFile(ServiceUrl(account, ServiceHost(), ProxyListPath), path, ServiceRequestWay(), &transfer))
        return;
    list.Clear();
    BeginChecks(list, command);
    // Decoded on the way in: the box then lays out its lines once, not twice.
    SetBoxText(hostNames, DecodeProxyList(NormalizeLineEnds(ReadFileText(path))));
    Launch(command, ProbedLines(SplitLines(hostNames.Text())), true, droppedEarlier, std::move(onProbe)); // CR LF lines
    if (!transfer.Fetched())
        command.progress.ListNotFetched(WhyNotFetched(transfer));
}

void CheckProxyLines(const std::string& pasted, ProxyListView& list, ListCommand& command, ProbeHandler onProbe)
{
    const std::vector<std::string> lines = SplitLines(NormalizeLineEnds(pasted));
    if (lines.empty())
        return; // the list keeps its rows
    const bool droppedEarlier = command.Working();
    list.Clear();
    BeginChecks(list, command);
    Launch(command, ProbedLines(lines), false, droppedEarlier, std::move(onProbe));
}

void ListAnsweredProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe)
{
    command.progress.Probed(AnsweredInTime(probe));
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
    command.checks.Add(list.InsertInOrder(std::move(row), 2), ProxyLineAddress(probe.SourceLine));
    command.progress.CheckAdded();
}

void ListCheckedProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe)
{
    command.progress.Probed(AnsweredInTime(probe));
    ListRow row{probe.SourceLine, {}};
    AssignSubItemText(row, AnsweredInTime(probe) ? std::to_string(probe.RoundTripMs) : "BAD PROXY");
    const std::uint64_t id = list.InsertInOrder(std::move(row), 1);
    if (AnsweredInTime(probe)) {
        command.checks.Add(id, ProxyLineAddress(probe.SourceLine));
        command.progress.CheckAdded();
    }
}
