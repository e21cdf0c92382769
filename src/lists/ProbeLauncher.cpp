#include "lists/ProbeLauncher.h"

#include "core/ProxyList.h"
#include "win/Application.h"
#include "win/ErrorBox.h"
#include "win/SystemErrorText.h"

#include <stdexcept>
#include <utility>

namespace {

constexpr std::size_t kLinesPerStep = 250;
constexpr UINT kRetryMs = 20;
constexpr UINT kLivenessMs = 250;
std::size_t mostLiveWorkers = 2000;
std::size_t linesProbedAgain = 0;

// Raises, with the platform's text, where the echo client cannot be built in this process.
void CheckEchoClient()
{
    try {
        const TICMP client;
    } catch (const TICMPException& failure) {
        throw std::runtime_error(std::string(failure.what()) + ": " + SystemErrorText(failure.Code()));
    }
}

} // namespace

ProbeLauncher::~ProbeLauncher()
{
    for (auto& [worker, live] : live_)
        worker->OnTerminate = nullptr;
}

void ProbeLauncher::Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe)
{
    queue_.Drop();
    if (!lines.empty())
        CheckEchoClient();
    ++command_;
    withCountry_ = withCountry;
    onProbe_ = std::move(onProbe);
    const std::size_t started = queue_.StartAll(
        std::move(lines), [this](const std::string& line, bool again) { return StartOne(line, again); },
        kLinesPerStep);
    ScheduleNextStep(started == kLinesPerStep);
}

std::size_t ProbeLauncher::BoundLiveWorkers(std::size_t most)
{
    return std::exchange(mostLiveWorkers, most);
}

std::size_t ProbeLauncher::LinesProbedAgain()
{
    return linesProbedAgain;
}

bool ProbeLauncher::StartOne(const std::string& line, bool again)
{
    if (RunningWorkers() >= mostLiveWorkers)
        return false;
    std::unique_ptr<TPingThread> worker;
    try {
        worker = std::make_unique<TPingThread>();
    } catch (const EThreadCreation&) {
        if (RunningWorkers() > 0)
            return false; // one of them will end and make room
        queue_.Drop();
        throw;
    }
    // Owned here until it runs: a failure before the start ends the suspended thread.
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), worker->ThreadHandle(), GetCurrentProcess(), &thread, SYNCHRONIZE,
                         FALSE, 0))
        return false; // no handle to be had: as no room
    worker->Country = withCountry_ ? ProxyLineCountry(line) : std::string();
    worker->SourceLine = line;
    worker->Target = ProxyLineHost(line);
    worker->TimeoutMs = 4000;
    worker->Ttl = 32;
    worker->ResolveNames = false;
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [this](WorkerThread& sender) { Completed(static_cast<TPingThread&>(sender)); };
    live_.emplace(worker.get(), Live{UniqueKernelHandle(thread), line, again, command_, onProbe_});
    RegisterWorker(worker->ThreadID());
    worker.release()->Start();
    return true;
}

void ProbeLauncher::Completed(TPingThread& worker)
{
    const auto live = live_.find(&worker);
    if (live == live_.end())
        return;
    const ProbeHandler onProbe = std::move(live->second.onProbe);
    live_.erase(live);
    onProbe(worker);
}

void ProbeLauncher::NoticeLostWorkers()
{
    // The ended threads among the live workers', as many at a time as one wait takes.
    std::vector<TPingThread*> lost;
    std::vector<std::pair<HANDLE, TPingThread*>> batch;
    const auto checkBatch = [&] {
        while (!batch.empty()) {
            std::vector<HANDLE> handles;
            for (const auto& entry : batch)
                handles.push_back(entry.first);
            const DWORD found = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 0);
            if (found >= WAIT_OBJECT_0 + handles.size())
                break;
            lost.push_back(batch[found - WAIT_OBJECT_0].second);
            batch.erase(batch.begin() + (found - WAIT_OBJECT_0));
        }
        batch.clear();
    };
    for (const auto& [worker, live] : live_) {
        batch.emplace_back(live.thread.get(), worker);
        if (batch.size() == MAXIMUM_WAIT_OBJECTS)
            checkBatch();
    }
    checkBatch();
    for (TPingThread* worker : lost)
        Lost(worker);
}

void ProbeLauncher::Lost(TPingThread* worker)
{
    // Its thread has ended without its completion, so nothing else touches it any more.
    Live live = std::move(live_.at(worker));
    live_.erase(worker);
    ForgetWorker(worker->ThreadID());
    const std::unique_ptr<TPingThread> ended(worker);
    if (!live.again && live.command == command_ && !Application.Terminated()) {
        ++linesProbedAgain;
        queue_.PutBack(live.line);
    } else if (!Application.Terminated() && live.onProbe) {
        live.onProbe(*ended); // what it holds: no answer, unless one was stored whole
    }
}

void ProbeLauncher::StartWaiting()
{
    NoticeLostWorkers();
    if (Application.Terminated()) // no completion would run for them
        queue_.Drop();
    const std::size_t started = queue_.StartWaiting(
        [this](const std::string& line, bool again) { return StartOne(line, again); }, kLinesPerStep);
    ScheduleNextStep(started == kLinesPerStep);
}

void ProbeLauncher::ScheduleNextStep(bool stepWasFull)
{
    timer_.Stop();
    if (queue_.Waiting() == 0 && live_.empty())
        return;
    const UINT interval = queue_.Waiting() == 0 ? kLivenessMs : stepWasFull ? USER_TIMER_MINIMUM : kRetryMs;
    timer_.Start(interval, [this] { StartWaiting(); });
}
