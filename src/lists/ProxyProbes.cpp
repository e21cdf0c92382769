#include "lists/ProxyProbes.h"

#include "core/IcmpStatus.h"
#include "core/ProxyList.h"

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

} // namespace

void StartProbe(const std::string& line, const std::string& country,
                WorkerThread::TNotifyEvent onTerminate)
{
    // Owned here until it runs: a failure before the start ends the suspended thread.
    auto worker = std::make_unique<TPingThread>();
    worker->Country = country;
    worker->SourceLine = line;
    RegisterWorker(worker->ThreadID());
    worker->FreeOnTerminate = true;
    worker->OnTerminate = std::move(onTerminate);
    worker->Target = ProxyLineHost(line);
    worker->TimeoutMs = 4000;
    worker->Ttl = 32;
    worker->ResolveNames = false;
    worker.release()->Start();
}

std::vector<std::string> TextLines(const std::string& text)
{
    return SplitLines(NormalizeLineEnds(text));
}

void SetBoxText(const Edit& box, const std::string& text)
{
    if (!box.TrySetText(text))
        throw std::runtime_error("Text exceeds memo capacity");
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
