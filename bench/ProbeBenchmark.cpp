// Starts one probe worker per distinct loopback address, all at once, the way the windows do,
// and prints how long the whole round took, how it ended and the process's peak memory. The
// first round runs against a Wine server that has just started; later rounds find it warm, as a
// user's refresh does.
//   probe_benchmark [WORKERS [ROUNDS]]   (default 1000 workers, 2 rounds)

#include "probe/PingThrd.h"

#include "BenchSupport.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

namespace {

double Megabytes(SIZE_T bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// One round: returns true when every worker was started and answered.
bool RunRound(int workers)
{
    int started = 0;
    int completed = 0;
    int answered = 0;
    std::map<std::string, int> failures; // creation errors and unanswered probes, by text
    LARGE_INTEGER firstStart, allStarted, lastCompletion;

    firstStart = Now();
    for (int index = 0; index < workers; ++index) {
        try {
            auto* worker = new TPingThread;
            worker->SourceLine = LoopbackAddress(index) + ":8080";
            RegisterWorker(worker->ThreadID());
            worker->FreeOnTerminate = true;
            worker->OnTerminate = [&](WorkerThread& sender) {
                const auto& probe = static_cast<TPingThread&>(sender);
                ++completed;
                if (probe.ReplyCount > 0)
                    ++answered;
                else
                    ++failures[probe.ErrorCode == 0 ? "no echo client" : probe.ErrorText];
                lastCompletion = Now();
            };
            worker->Target = LoopbackAddress(index);
            worker->TimeoutMs = 4000;
            worker->Ttl = 32;
            worker->Start();
            ++started;
        } catch (const std::exception& error) {
            ++failures[error.what()];
        }
    }
    allStarted = Now();

    // The UI thread's part: hand every completion its turn.
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (completed < started && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }

    std::printf("started:                    %d\n", started);
    std::printf("completed:                  %d\n", completed);
    std::printf("answered:                   %d\n", answered);
    for (const auto& [text, count] : failures)
        std::printf("failed (%s): %d\n", text.c_str(), count);
    std::printf("all started after:          %.0f ms\n", Milliseconds(firstStart, allStarted));
    if (completed > 0)
        std::printf("first start to last completion: %.0f ms\n", Milliseconds(firstStart, lastCompletion));
    return completed == workers && answered == workers;
}

} // namespace

int main(int argc, char** argv)
{
    const int workers = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;

    PROCESS_MEMORY_COUNTERS before{sizeof before};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    bool allAnswered = true;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d of %d, %d workers\n", round, rounds, workers);
        allAnswered = RunRound(workers) && allAnswered;
    }
    PROCESS_MEMORY_COUNTERS after{sizeof after};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    std::printf("peak working set:           %.1f MB (%.1f MB before the rounds)\n",
                Megabytes(after.PeakWorkingSetSize), Megabytes(before.WorkingSetSize));
    std::printf("peak private bytes:         %.1f MB (%.1f MB before the rounds)\n",
                Megabytes(after.PeakPagefileUsage), Megabytes(before.PagefileUsage));
    return allAnswered ? 0 : 1;
}
