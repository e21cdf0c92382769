#include "lists/ProbeLauncher.h"

#include "core/ProbeQueue.h"
#include "core/ProxyAccount.h"
#include "core/ProxyList.h"
#include "probe/AsyncEcho.h"
#include "win/Application.h"
#include "win/StartThread.h"
#include "win/UiMailbox.h"
#include "win/SystemErrorText.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {

// While lines wait for room, the launcher's thread looks again this often.
constexpr DWORD kRoomLookMs = 20;
// Probes started before the answers that came meanwhile are let in: the nearest proxies' rows come
// while the echoes to the rest of a long list are still being sent (a few ms each to a far host).
constexpr std::size_t kStartSlice = 32;
constexpr UINT kLivenessMs = 250;
// Worker threads at once: under Wine each running thread holds about 1 MB.
constexpr std::size_t kMostWorkerThreads = 256;
// The most probes at once whose completion has not run, threads and echoes, where a test bounds
// them.
std::atomic<std::size_t> mostLiveWorkers{SIZE_MAX};
std::size_t linesProbedAgain = 0;
std::set<const ProbeLauncher*> launchers; // UI thread only

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

struct ProbeLauncher::Shared : std::enable_shared_from_this<ProbeLauncher::Shared> {
    // A worker started whose completion has not run.
    struct Live {
        UniqueKernelHandle thread;
        ProbeQueue::Line line;
        unsigned command;
        ProbeHandler onProbe;
    };
    struct Command {
        std::vector<std::string> lines;
        unsigned number;
        bool withCountry;
        ProbeHandler onProbe;
    };

    Shared(ProbeLauncher& launcher, UiMailbox& mailbox) : launcher(launcher), mailbox(&mailbox) {}

    ProbeLauncher& launcher; // whose Completed the workers' completions call, on the UI thread
    mutable std::mutex lock;
    // Handed from the UI thread to the launcher's thread.
    std::optional<Command> command;
    std::vector<ProbeQueue::Line> putBack;
    bool ending = false;
    // Kept by both.
    unsigned commandNumber = 0; // the latest command's
    std::size_t waiting = 0;    // lines the launcher's thread has not started (or more)
    std::unordered_map<TPingThread*, Live> live;
    std::string failure; // no thread could be had while none ran: for the error box
    UniqueKernelHandle wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};

    // The launcher's thread: takes commands and puts back lines, and starts them.
    static unsigned WINAPI Run(void* start);
    bool StartOne(const ProbeQueue::Line& line, const Command& command, ProbeQueue& queue, AsyncEcho& echo);
    // Hands the echoes answered in the last wait to the UI thread, without waiting for it.
    void HandOverAnswered();
    std::vector<TPingThread*> answeredEchoes; // the launcher's thread's own
    UiMailbox* mailbox = nullptr;             // the launcher's, which outlives this thread's run
    // Sends the echo of a line whose host is an address, without a thread; false where it
    // could not be sent (the line then gets a worker of its own).
    bool SendEcho(const ProbeQueue::Line& line, const Command& command, AsyncEcho& echo);
    // A worker for `line` of `command`, created suspended; raises EThreadCreation.
    std::unique_ptr<TPingThread> MakeWorker(const ProbeQueue::Line& line, const Command& command);
    // The request fields of a probe of `line` for `command`, and its completion.
    void Fill(TPingThread& probe, const ProbeQueue::Line& line, const Command& command);
};

unsigned WINAPI ProbeLauncher::Shared::Run(void* start)
{
    const std::unique_ptr<std::shared_ptr<Shared>> self(static_cast<std::shared_ptr<Shared>*>(start));
    Shared& shared = **self;
    ProbeQueue queue;
    AsyncEcho echo; // the answers come in this thread's alertable waits
    Command current{{}, 0, false, {}};
    for (;;) {
        {
            const std::lock_guard<std::mutex> hold(shared.lock);
            if (shared.ending)
                return 0;
            if (shared.command) {
                current = std::move(*shared.command);
                shared.command.reset();
                queue.StartAll(std::move(current.lines), {}, 0); // the earlier command's lines go
            }
            for (ProbeQueue::Line& line : shared.putBack)
                queue.PutBack(std::move(line));
            shared.putBack.clear();
            if (Application.Terminated()) // no completion would run for them
                queue.Drop();
            shared.waiting = queue.Waiting();
        }
        const std::size_t started = queue.StartWaiting(
            [&](const ProbeQueue::Line& line) { return shared.StartOne(line, current, queue, echo); },
            kStartSlice);
        {
            const std::lock_guard<std::mutex> hold(shared.lock);
            shared.waiting = queue.Waiting();
        }
        // Room comes as workers end, and news from the UI thread wake it at once; the echoes'
        // answers come in the wait, which with room for more lines only lets them in.
        const bool roomForMore = started == kStartSlice && queue.Waiting() > 0;
        WaitForSingleObjectEx(shared.wake.get(), roomForMore ? 0 : queue.Waiting() > 0 ? kRoomLookMs : INFINITE, TRUE);
        shared.HandOverAnswered();
    }
}

namespace {

// Echoes answered, on their way to the UI thread. Those whose completion did not run (the program
// is ending, or the launcher went first) are let go where they are known, so that the launcher
// holds no probe that is gone.
struct AnsweredEchoes {
    std::shared_ptr<ProbeLauncher::Shared> shared;
    std::vector<TPingThread*> probes;
    std::size_t completed = 0;

    ~AnsweredEchoes();
};

} // namespace

void ProbeLauncher::Shared::HandOverAnswered()
{
    if (answeredEchoes.empty())
        return;
    auto batch = std::make_shared<AnsweredEchoes>();
    batch->shared = shared_from_this();
    batch->probes.swap(answeredEchoes);
    mailbox->Post([batch] {
        for (TPingThread*& probe : batch->probes) {
            batch->shared->launcher.Completed(*probe);
            delete probe;
            ++batch->completed;
        }
    });
}

AnsweredEchoes::~AnsweredEchoes()
{
    if (completed == probes.size())
        return;
    {
        const std::lock_guard<std::mutex> hold(shared->lock);
        for (std::size_t i = completed; i < probes.size(); ++i)
            shared->live.erase(probes[i]);
    }
    for (std::size_t i = completed; i < probes.size(); ++i)
        delete probes[i];
}

std::unique_ptr<TPingThread> ProbeLauncher::Shared::MakeWorker(const ProbeQueue::Line& line, const Command& command)
{
    auto worker = std::make_unique<TPingThread>();
    Fill(*worker, line, command);
    return worker;
}

void ProbeLauncher::Shared::Fill(TPingThread& worker, const ProbeQueue::Line& line, const Command& command)
{
    worker.Country = command.withCountry ? ProxyLineCountry(line.text) : std::string();
    worker.SourceLine = line.text;
    worker.LineNumber = line.number;
    worker.Target = ProbedHost(line.text);
    worker.TimeoutMs = kEchoWaitMs;
    worker.Ttl = 32;
    worker.ResolveNames = false;
    worker.FreeOnTerminate = true;
    worker.OnTerminate = [&launcher = launcher](WorkerThread& sender) {
        launcher.Completed(static_cast<TPingThread&>(sender));
    };
}

bool ProbeLauncher::Shared::SendEcho(const ProbeQueue::Line& line, const Command& command, AsyncEcho& echo)
{
    const std::uint32_t address = TPingThread::AddressOf(ProbedHost(line.text));
    auto probe = std::make_unique<TPingThread>(WorkerThread::WithoutThread{});
    Fill(*probe, line, command);
    {
        const std::lock_guard<std::mutex> hold(lock);
        live.emplace(probe.get(), Live{UniqueKernelHandle(), line, command.number, command.onProbe});
    }
    // Handed over with the others answered meanwhile, once the wait has let them in.
    const auto answered = [this](TPingThread& answeredProbe) { answeredEchoes.push_back(&answeredProbe); };
    // Handed back untaken: its line waits for room again, ahead of the others, as it was.
    const auto notTaken = [this](TPingThread& untaken) {
        {
            const std::lock_guard<std::mutex> hold(lock);
            const auto found = live.find(&untaken);
            if (found != live.end()) {
                if (found->second.command == commandNumber && !ending && !Application.Terminated())
                    putBack.push_back(found->second.line);
                live.erase(found);
            }
        }
        delete &untaken;
    };
    if (!echo.Send(*probe, address, answered, notTaken)) {
        const std::lock_guard<std::mutex> hold(lock);
        live.erase(probe.get());
        return false;
    }
    probe.release(); // freed after its completion
    return true;
}

bool ProbeLauncher::Shared::StartOne(const ProbeQueue::Line& line, const Command& command, ProbeQueue& queue,
                                     AsyncEcho& echo)
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (ending || this->command || Application.Terminated())
            return false; // a newer command drops this one's lines first
        if (live.size() >= mostLiveWorkers)
            return false; // a test's bound: probes whose completion has not run
    }
    const bool byEcho = echo.Ready() && TPingThread::AddressOf(ProbedHost(line.text)) != INADDR_NONE;
    if (byEcho && AsyncEcho::Outstanding() >= AsyncEcho::Room())
        return false; // as many out as the platform takes
    if (byEcho && SendEcho(line, command, echo))
        return true;
    if (RunningWorkers() >= kMostWorkerThreads)
        return false;
    std::unique_ptr<TPingThread> worker;
    try {
        worker = MakeWorker(line, command);
    } catch (const EThreadCreation& error) {
        const std::lock_guard<std::mutex> hold(lock);
        if (!live.empty())
            return false; // one of them will end and make room
        queue.Drop(); // no wait would mend it
        failure = error.what();
        return false;
    }
    // Owned here until it runs: a failure before the start ends the suspended thread.
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), worker->ThreadHandle(), GetCurrentProcess(), &thread, SYNCHRONIZE,
                         FALSE, 0))
        return false; // no handle to be had: as no room
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (ending || this->command) { // the launcher goes, or a newer command came, meanwhile
            CloseHandle(thread);
            return false;
        }
        live.emplace(worker.get(), Live{UniqueKernelHandle(thread), line, command.number, command.onProbe});
    }
    RegisterWorker(worker->ThreadID());
    worker.release()->Start();
    return true;
}

ProbeLauncher::ProbeLauncher() : shared_(std::make_shared<Shared>(*this, mailbox_))
{
    launchers.insert(this);
}

ProbeLauncher::~ProbeLauncher()
{
    launchers.erase(this);
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->ending = true;
        for (auto& [worker, live] : shared_->live)
            if (live.thread) // an echo's completion comes through the mailbox, which goes with this
                worker->OnTerminate = nullptr; // their completions run only on this thread, not now
    }
    SetEvent(shared_->wake.get());
    // The launcher's thread may be handing an echo's completion to this thread meanwhile: the
    // sent message is let in while it is waited for.
    const HANDLE thread = thread_.get();
    while (thread && MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void ProbeLauncher::Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe)
{
    if (!lines.empty())
        CheckEchoClient();
    WorkerThread::PrepareCompletions(); // on this, the UI, thread
    if (!thread_) {
        if (!shared_->wake)
            throw std::runtime_error("Thread creation error: " + SystemErrorText(GetLastError()));
        thread_ = StartThread(&Shared::Run, std::make_unique<std::shared_ptr<Shared>>(shared_));
        SetThreadPriority(thread_.get(), THREAD_PRIORITY_BELOW_NORMAL); // the UI thread first
    }
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->command = Shared::Command{std::move(lines), ++shared_->commandNumber, withCountry, std::move(onProbe)};
        shared_->putBack.clear();
    }
    SetEvent(shared_->wake.get());
    timer_.Start(kLivenessMs, [this] { Look(); });
}

bool ProbeLauncher::Busy() const
{
    const std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->command || !shared_->putBack.empty() || shared_->waiting > 0 || !shared_->live.empty();
}

bool ProbeLauncher::AnyBusy()
{
    for (const ProbeLauncher* launcher : launchers)
        if (launcher->Busy())
            return true;
    return false;
}

std::size_t ProbeLauncher::BoundLiveWorkers(std::size_t most)
{
    return mostLiveWorkers.exchange(most);
}

std::size_t ProbeLauncher::LinesProbedAgain()
{
    return linesProbedAgain;
}

void ProbeLauncher::Completed(TPingThread& worker)
{
    ProbeHandler onProbe;
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        const auto live = shared_->live.find(&worker);
        if (live == shared_->live.end())
            return;
        onProbe = std::move(live->second.onProbe);
        shared_->live.erase(live);
    }
    SetEvent(shared_->wake.get()); // room for a line that waits
    onProbe(worker);
}

void ProbeLauncher::Look()
{
    NoticeLostWorkers();
    std::string failure;
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        failure = std::exchange(shared_->failure, {});
    }
    if (!Busy())
        timer_.Stop();
    if (!failure.empty())
        throw std::runtime_error(failure); // the error box, as for any failing handler
}

void ProbeLauncher::NoticeLostWorkers()
{
    // The ended threads among the live workers', as many at a time as one wait takes.
    std::vector<std::pair<HANDLE, TPingThread*>> threads;
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        for (const auto& [worker, live] : shared_->live)
            if (live.thread) // an echo sent without a thread cannot be lost that way
                threads.emplace_back(live.thread.get(), worker);
    }
    std::vector<TPingThread*> lost;
    for (std::size_t first = 0; first < threads.size(); first += MAXIMUM_WAIT_OBJECTS) {
        std::vector<std::pair<HANDLE, TPingThread*>> batch(
            threads.begin() + static_cast<std::ptrdiff_t>(first),
            threads.begin() + static_cast<std::ptrdiff_t>(std::min(threads.size(), first + MAXIMUM_WAIT_OBJECTS)));
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
    }
    for (TPingThread* worker : lost)
        Lost(worker);
}

void ProbeLauncher::Lost(TPingThread* worker)
{
    // Its thread has ended without its completion, so nothing else touches it any more.
    Shared::Live live;
    bool current = false;
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        const auto found = shared_->live.find(worker);
        if (found == shared_->live.end())
            return; // it completed meanwhile
        live = std::move(found->second);
        shared_->live.erase(found);
        current = live.command == shared_->commandNumber;
        if (!live.line.again && current && !Application.Terminated())
            shared_->putBack.push_back({live.line.text, live.line.number, true});
    }
    ForgetWorker(worker->ThreadID());
    const std::unique_ptr<TPingThread> ended(worker);
    if (!live.line.again && current && !Application.Terminated()) {
        ++linesProbedAgain;
        SetEvent(shared_->wake.get());
    } else if (!Application.Terminated() && live.onProbe) {
        live.onProbe(*ended); // what it holds: no answer, unless one was stored whole
    }
}
