#pragma once
// The base of the program's worker threads. A worker is created suspended (on any thread, once the
// UI thread has prepared the completions), has its thread id at once, and runs Execute on its own
// thread once started. Then its completion
// event OnTerminate runs on the UI thread while the worker waits: completions are delivered
// through the UI thread's message handling, one at a time, also inside modal loops, and never in
// the middle of a handler that retrieves no messages. With FreeOnTerminate the worker deletes
// itself right after its completion. Once the application has begun to terminate, no completion
// runs: a worker that ends then stays registered, its thread parked until the stop request at
// program end (StopParkedWorkers) reaches it.

#include "win/UniqueHandle.h"

#include <cstdint>
#include <functional>
#include <stdexcept>

// Raised when the platform cannot create another thread (no descriptors or memory left):
// "Thread creation error: " and the system's text.
class EThreadCreation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WorkerThread {
public:
    using TNotifyEvent = std::function<void(WorkerThread& sender)>;
    // For a worker without a thread of its own: its owner does the body's work elsewhere and then
    // hands its completion over with CompleteHere.
    struct WithoutThread {};

    // Creates the thread suspended. Any thread, once PrepareCompletions has run (the first worker
    // made on the UI thread prepares them itself). Raises EThreadCreation when the platform
    // cannot create another thread.
    WorkerThread();
    // Makes the window through which completions reach the UI thread, where it is missing. UI
    // thread only.
    static void PrepareCompletions();
    // A worker that has no thread (its id is 0, and it is never registered or started).
    explicit WorkerThread(WithoutThread);
    // A worker that was never started is ended without running its body. A started worker is
    // deleted by itself (FreeOnTerminate) or by its owner once its completion has run.
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    std::uint32_t ThreadID() const { return threadId_; }
    // The worker's thread, for waiting on it: signalled once the thread has ended. Owned by the
    // worker (a FreeOnTerminate worker closes it when it deletes itself): duplicate it to keep it.
    HANDLE ThreadHandle() const { return thread_.get(); }

    // Starts the body. Request fields must be written before; they are not touched afterwards.
    void Start();
    // For a worker without a thread: hands its completion to the UI thread from the calling
    // thread and waits until it has run, then frees the worker where FreeOnTerminate. Once the
    // application has begun to terminate no completion runs: false, and the worker is left to
    // the caller, who may still hold it. Not on the UI thread.
    bool CompleteHere();

    bool FreeOnTerminate = false;
    // Runs on the UI thread with the worker as sender; the sender is valid until it returns.
    TNotifyEvent OnTerminate;

protected:
    // The body, on the worker's own thread. An exception that leaves it is dropped.
    virtual void Execute() = 0;

private:
    static unsigned WINAPI ThreadStart(void* worker);
    static LRESULT CALLBACK CompletionProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                LPARAM lParam);
    void Complete();
    // Runs the completion on the UI thread and waits for it; false once the application has
    // begun to terminate, when none runs.
    bool HandOverCompletion();
    // Parks a worker whose completion can no longer run until it is asked to stop.
    static void AwaitStopRequest();

public:
    // Ends the parked workers' waits, for good: the stop request at program end. Any thread.
    static void StopParkedWorkers();

    UniqueKernelHandle thread_;
    DWORD threadId_ = 0;
    bool started_ = false;
    bool abandoned_ = false; // set before a never-started thread is resumed to end at once
};
