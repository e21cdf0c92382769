#include "lists/ProxyProbes.h"

#include "core/IcmpStatus.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"

#include <memory>
#include <stdexcept>

namespace {

// New rows are put at the top; the sort that follows gives them their place.
constexpr std::size_t kInsertPosition = 0;

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

// Creates, registers and starts the worker that probes one host line: echo with 56 data bytes,
// TTL 32, 4000 ms timeout, no reverse lookup.
void StartProbe(const std::string& line, const std::string& country, const ProbeHandler& onProbe)
{
    // Owned here until it runs: a failure before the start ends the suspended thread.
    auto worker = std::make_unique<TPingThread>();
    worker->Country = country;
    worker->SourceLine = line;
    RegisterWorker(worker->ThreadID());
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [onProbe](WorkerThread& sender) { onProbe(static_cast<TPingThread&>(sender)); };
    worker->Target = ProxyLineHost(line);
    worker->TimeoutMs = 4000;
    worker->Ttl = 32;
    worker->ResolveNames = false;
    worker.release()->Start();
}

void SetBoxText(const Edit& box, const std::string& text)
{
    if (!box.TrySetText(text))
        throw std::runtime_error("Text exceeds memo capacity");
}

} // namespace

void RefreshProxyList(const std::string& account, ProxyListView& list, const Edit& hostNames,
                      ProbeHandler onProbe)
{
    const std::string path = ExecutableDirectory() + "paidproxy.cfg";
    if (!DownloadToFile(ServiceUrl(account, ServiceHost(), ProxyListPath), path))
        return;
    list.Clear();
    // Decoded on the way in: the box then lays out its lines once, not twice.
    SetBoxText(hostNames, DecodeProxyList(NormalizeLineEnds(ReadFileText(path))));
    for (const std::string& line : SplitLines(hostNames.Text())) // the box holds CR LF lines
        if (!line.empty())
            StartProbe(line, ProxyLineCountry(line), onProbe);
}

void CheckProxyLines(const std::string& pasted, ProxyListView& list, ProbeHandler onProbe)
{
    for (const std::string& line : SplitLines(NormalizeLineEnds(pasted))) {
        list.Clear(); // only the first pass finds rows: no completion runs in this loop
        if (!line.empty())
            StartProbe(line, "", onProbe);
    }
}

void ListAnsweredProbe(ProxyListView& list, const TPingThread& probe)
{
    if (!Answered(probe))
        return;
    if (AnsweredInTime(probe)) {
        list.Insert(kInsertPosition, ProxyLineLabel(probe.SourceLine));
        list.AssignSubItemText(kInsertPosition, probe.Country);
        list.AppendSubItem(kInsertPosition, std::to_string(probe.RoundTripMs));
    }
    list.Sort(2);
}

void ListCheckedProbe(ProxyListView& list, const TPingThread& probe)
{
    list.Insert(kInsertPosition, probe.SourceLine);
    list.AssignSubItemText(kInsertPosition,
                           AnsweredInTime(probe) ? std::to_string(probe.RoundTripMs) : "BAD PROXY");
    list.Sort(1);
}
