#include "lists/ProbeLauncher.h"

#include "core/ProxyList.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

#include <map>
#include <memory>
#include <utility>

namespace {

constexpr std::size_t kLinesPerStep = 250;
constexpr UINT kRetryMs = 20;
std::size_t mostLiveWorkers = 2000;

// The launchers whose waiting lines a timer retries, by timer.
std::map<UINT_PTR, ProbeLauncher*>& Retrying()
{
    static std::map<UINT_PTR, ProbeLauncher*> launchers;
    return launchers;
}

} // namespace

ProbeLauncher::~ProbeLauncher()
{
    StopRetrying();
}

void ProbeLauncher::Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe)
{
    withCountry_ = withCountry;
    onProbe_ = std::move(onProbe);
    const std::size_t started =
        queue_.StartAll(std::move(lines), [this](const std::string& line) { return StartOne(line); }, kLinesPerStep);
    ScheduleNextStep(started == kLinesPerStep);
}

std::size_t ProbeLauncher::BoundLiveWorkers(std::size_t most)
{
    return std::exchange(mostLiveWorkers, most);
}

bool ProbeLauncher::StartOne(const std::string& line)
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
    worker->Country = withCountry_ ? ProxyLineCountry(line) : std::string();
    worker->SourceLine = line;
    RegisterWorker(worker->ThreadID());
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [onProbe = onProbe_](WorkerThread& sender) {
        onProbe(static_cast<TPingThread&>(sender));
    };
    worker->Target = ProxyLineHost(line);
    worker->TimeoutMs = 4000;
    worker->Ttl = 32;
    worker->ResolveNames = false;
    worker.release()->Start();
    return true;
}

void ProbeLauncher::StartWaiting()
{
    if (Application.Terminated()) // no completion would run for them
        queue_.Drop();
    const std::size_t started =
        queue_.StartWaiting([this](const std::string& line) { return StartOne(line); }, kLinesPerStep);
    ScheduleNextStep(started == kLinesPerStep);
}

void ProbeLauncher::ScheduleNextStep(bool stepWasFull)
{
    StopRetrying();
    if (queue_.Waiting() == 0)
        return;
    // A timer's message comes after the window's paint and input: the next step waits for them.
    timer_ = SetTimer(nullptr, 0, stepWasFull ? USER_TIMER_MINIMUM : kRetryMs, &Retry);
    Retrying()[timer_] = this;
}

void ProbeLauncher::StopRetrying()
{
    if (!timer_)
        return;
    KillTimer(nullptr, timer_);
    Retrying().erase(timer_);
    timer_ = 0;
}

void CALLBACK ProbeLauncher::Retry(HWND, UINT, UINT_PTR timer, DWORD)
{
    const auto launcher = Retrying().find(timer);
    if (launcher != Retrying().end())
        RunHandler([&] { launcher->second->StartWaiting(); });
}
