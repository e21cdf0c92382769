#include "lists/ProxyProbes.h"

#include "core/IcmpStatus.h"
#include "core/ProxyAccount.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"
#include "settings/AgentOverride.h"
#include "settings/SystemProxy.h"

#include <algorithm>
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

// The lines whose echoes are out before their early checks begin: as many as Wine's echo
// service takes at once, a fraction of a second's worth of echoes on any platform.
constexpr std::size_t kEchoesAheadOfChecks = 256;

// A check's key for a row of a dropped command's late probe, beside the numbers of the lines.
constexpr std::uint64_t kStrayRowKey = std::uint64_t{1} << 63;

// The ping's sub-item in a row of `line`: the checker's rows have the line and the ping, the main
// list's the label, the country's lines and the ping.
std::size_t PingItem(const CommandLines& lines, const std::string& line)
{
    if (!lines.withCountry)
        return 0;
    ListRow row;
    AssignSubItemText(row, ProxyLineCountry(line));
    return row.SubItems.size();
}

// The main list's rows (`mainList`) have the ping in column 2, the checker's in column 1.
int PingColumn(bool mainList)
{
    return mainList ? 2 : 1;
}

// A new row of `line` with its `ping` cell: the main list's shows the label and the country's
// lines, the checker's the whole line.
ListRow NewRow(const std::string& line, const std::string& country, const std::string& ping, bool mainList)
{
    ListRow row{ShownLine(mainList ? ProxyLineLabel(line) : line), {}};
    if (const std::string proxy = ProxyLineAddress(line); ShownProxy(proxy) != proxy)
        row.Proxy = proxy; // an account's, which the caption does not show
    if (mainList)
        AssignSubItemText(row, country);
    row.SubItems.push_back(ping);
    return row;
}

// What the list shows of line `number` after one of its answers came.
void ShowLine(ProxyListView& list, ListCommand& command, std::size_t number, const LineChange& change)
{
    CommandLines& lines = command.lines;
    const std::string& line = lines.texts[number];
    const std::string ping = change.bad ? "BAD PROXY" : change.ping ? std::to_string(*change.ping) : kNoPing;
    if (change.addRow) {
        lines.rows[number] = list.InsertInOrder(NewRow(line, ProxyLineCountry(line), ping, lines.withCountry),
                                                PingColumn(lines.withCountry));
        if (!change.bad)
            command.progress.Listed();
    } else if (change.ping && lines.rows[number]) {
        list.SetSubItem(lines.rows[number], PingItem(lines, line), ping, PingColumn(lines.withCountry));
    }
    if (change.verdict && lines.rows[number])
        list.SetVerdict(lines.rows[number], *change.verdict);
    if (change.hurryCheck)
        command.checks.Hurry(number);
    if (change.checkAgain) {
        command.checks.Add(number, ProxyLineAddress(line));
        command.progress.CheckAdded();
    }
}

// A new batch of the command's checks, whose verdicts land in the rows of `list` wherever they
// stand (and count in the command's progress).
void BeginChecks(ProxyListView& list, ListCommand& command)
{
    command.checks.Begin(
        ServiceRequestWay(), CheckUserAgent(),
        [&list, &command](std::uint64_t key, const ProxyVerdict& verdict) {
            command.progress.Verdict(verdict);
            if (key & kStrayRowKey)
                list.SetVerdict(key & ~kStrayRowKey, verdict);
            else
                ShowLine(list, command, static_cast<std::size_t>(key), command.lines.outcomes.Verdict(key, verdict));
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

// Has the command's probes probe `lines` (with their countries: `withCountry`), and its checks
// check every line's port meanwhile.
void Launch(ListCommand& command, std::vector<std::string> lines, bool withCountry, bool droppedEarlier,
            ProbeHandler onProbe)
{
    const std::size_t count = lines.size();
    command.probes.Launch(lines, withCountry, std::move(onProbe)); // completions come after this handler
    command.lines = CommandLines{std::move(lines), withCountry,
                                 LineOutcomes(count, withCountry ? LineOutcomes::Unproved::NoRow
                                                                 : LineOutcomes::Unproved::BadRow),
                                 std::vector<std::uint64_t>(count, 0)};
    // The echoes of the first lines go out at once, and those that answer hurry their checks:
    // the early checks begin where the echoes come last.
    const std::size_t first = std::min(count, kEchoesAheadOfChecks);
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t number = (first + step) % count;
        command.checks.Add(number, ProxyLineAddress(command.lines.texts[number]), true);
    }
    command.progress.Began(count, droppedEarlier);
    command.progress.CheckAdded(count);
}

// Whether `probe` probes a line of the command that runs (not a late one of a dropped command).
bool OfThisCommand(const CommandLines& lines, const TPingThread& probe)
{
    return probe.LineNumber < lines.texts.size() && lines.texts[probe.LineNumber] == probe.SourceLine;
}

// The share of every finished probe: its line's answer, or, for a late probe of a dropped command,
// what its echo alone shows: a row with its ping where in time, with a check of its own, and in the
// checker "BAD PROXY" otherwise. `mainList`: rows as the main list makes them.
void ListProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe, bool mainList)
{
    command.progress.Probed(AnsweredInTime(probe));
    CommandLines& lines = command.lines;
    const std::optional<unsigned> ping =
        AnsweredInTime(probe) ? std::optional<unsigned>(probe.RoundTripMs) : std::nullopt;
    if (OfThisCommand(lines, probe)) {
        ShowLine(list, command, probe.LineNumber, lines.outcomes.Echo(probe.LineNumber, ping));
        return;
    }
    if (mainList && !ping) {
        if (Answered(probe))
            list.Sort(PingColumn(mainList)); // every reply sorts the list
        return;
    }
    const std::uint64_t id = list.InsertInOrder(
        NewRow(probe.SourceLine, probe.Country, ping ? std::to_string(*ping) : "BAD PROXY", mainList),
        PingColumn(mainList));
    if (!ping)
        return;
    command.progress.Listed();
    command.checks.Add(kStrayRowKey | id, ProxyLineAddress(probe.SourceLine));
    command.progress.CheckAdded();
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
    const std::string decoded = DecodeProxyList(NormalizeLineEnds(ReadFileText(path)));
    // A proxy's password stays in memory only: the file keeps the proxy without its account.
    if (const auto kept = WithoutAccounts(decoded))
        WriteFileText(path, EncodeProxyList(*kept));
    SetBoxText(hostNames, decoded);
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
    ListProbe(list, command, probe, true);
}

void ListCheckedProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe)
{
    ListProbe(list, command, probe, false);
}
