#include "probe/WorkerThread.h"

#include "probe/WorkerRegistry.h"
#include "win/Application.h"
#include "win/ErrorBox.h"
#include "win/SystemErrorText.h"

#include <process.h>

#include <atomic>
#include <stdexcept>

namespace {

// Address space reserved for each worker's stack; a probe needs a small fraction of it, and
// thousands of workers run at once.
constexpr unsigned kStackReservation = 256 * 1024;

constexpr UINT kRunCompletion = WM_USER + 1;
// What the completion window answers once the handler has run and the worker is forgotten.
constexpr LRESULT kCompleted = 1;
constexpr char kCompletionClass[] = "ZarnuWorkerCompletion";

// A late worker may read it while the process is already running its exit.
std::atomic<HWND> completionWindow{nullptr};

// What the parked workers wait for: an event of the program's own, so that the stop request
// reaches no thread but its own workers. Set for good by the stop request, which leaves a new one
// for workers parked later (tests run one program end after another in one process).
std::atomic<HANDLE> stopRequest{CreateEventA(nullptr, TRUE, FALSE, nullptr)};

} // namespace

void WorkerThread::PrepareCompletions()
{
    if (completionWindow.load())
        return;
    WNDCLASSEXA windowClass{sizeof windowClass};
    windowClass.lpfnWndProc = &CompletionProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kCompletionClass;
    RegisterClassExA(&windowClass);
    const HWND window = CreateWindowExA(0, kCompletionClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (!window)
        throw EThreadCreation("Thread creation error: " + SystemErrorText(GetLastError()));
    completionWindow = window;
}

WorkerThread::WorkerThread()
{
    PrepareCompletions();

    unsigned threadId = 0;
    thread_.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, kStackReservation, &ThreadStart, this,
                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId)));
    if (!thread_)
        throw EThreadCreation("Thread creation error: " + SystemErrorText(GetLastError()));
    threadId_ = threadId;
}

WorkerThread::WorkerThread(WithoutThread) {}

bool WorkerThread::CompleteHere()
{
    const bool freeSelf = FreeOnTerminate;
    const bool completed = HandOverCompletion();
    if (completed && freeSelf)
        delete this;
    return completed;
}

WorkerThread::~WorkerThread()
{
    if (!started_ && thread_) {
        abandoned_ = true;
        ResumeThread(thread_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        ForgetWorker(threadId_);
    }
}

void WorkerThread::Start()
{
    started_ = true;
    ResumeThread(thread_.get());
}

unsigned WINAPI WorkerThread::ThreadStart(void* worker)
{
    auto* self = static_cast<WorkerThread*>(worker);
    if (self->abandoned_)
        return 0;
    try {
        self->Execute();
    } catch (...) {
        // Dropped: the completion runs all the same and reads what the body left.
    }
    self->Complete();
    return 0;
}

void WorkerThread::Complete()
{
    const bool freeSelf = FreeOnTerminate;
    if (!HandOverCompletion())
        AwaitStopRequest();
    if (freeSelf)
        delete this;
}

bool WorkerThread::HandOverCompletion()
{
    return !Application.Terminated() &&
           SendMessageA(completionWindow, kRunCompletion, 0, reinterpret_cast<LPARAM>(this)) == kCompleted;
}

void WorkerThread::AwaitStopRequest()
{
    // Still registered: the thread lives on until the stop request at program end reaches it
    // (or the process ends).
    WaitForSingleObject(stopRequest.load(), INFINITE);
}

void WorkerThread::StopParkedWorkers()
{
    // The event set stays open: a worker may be about to wait for it.
    SetEvent(stopRequest.exchange(CreateEventA(nullptr, TRUE, FALSE, nullptr)));
}

LRESULT CALLBACK WorkerThread::CompletionProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                   LPARAM lParam)
{
    if (message != kRunCompletion)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    // The one place that decides it: once the application has begun to terminate, a completion
    // does nothing.
    if (Application.Terminated())
        return 0;
    auto& worker = *reinterpret_cast<WorkerThread*>(lParam);
    if (worker.OnTerminate)
        RunHandler([&] { worker.OnTerminate(worker); });
    // Before the worker goes on and ends: its id cannot have been given to another thread yet.
    ForgetWorker(worker.threadId_);
    return kCompleted;
}
