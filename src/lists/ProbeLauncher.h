#pragma once
// Starts the probes of one list's command (a refresh of the main list, a check in the checker):
// one worker per line. Up to 250 lines are started at once, before the command returns and
// before any completion runs; longer lists go on in steps of as many between the window's
// messages, so that it paints and lists rows meanwhile. Starting needs room for threads: the
// platform's own limit, and a bound of 2000 live workers of this program, which keeps its memory
// in check (under Wine each running thread holds about 1 MB). Lines that find no room wait and
// are started as running workers end, checked every 20 ms while any wait, so that every line is
// probed once and the list ends as with unlimited threads.
//
// A worker is known to be live by its thread. One whose thread ended without its completion (the
// platform can end a thread it cannot serve) is noticed on the next check, at least every 250 ms
// while workers run: its slot is freed and its line probed again once, or, the second time or
// once a newer command has begun, handed to the window as a probe that got no answer. UI thread
// only.

#include "core/ProbeQueue.h"
#include "probe/PingThrd.h"
#include "probe/icmp.h"
#include "win/ThreadTimer.h"
#include "win/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// What a window does with one finished probe, on the UI thread; the probe is valid until it
// returns. Not called once the application has begun to terminate.
using ProbeHandler = std::function<void(TPingThread& probe)>;

class ProbeLauncher {
public:
    ProbeLauncher() = default;
    ProbeLauncher(const ProbeLauncher&) = delete;
    ProbeLauncher& operator=(const ProbeLauncher&) = delete;
    // Its workers still running complete without a handler.
    ~ProbeLauncher();

    // Drops the lines of the earlier command still waiting, then starts a probe per line of
    // `lines` (echo with 56 data bytes, TTL 32, 4000 ms timeout, no reverse lookup; the country
    // taken from the line when `withCountry`). Raises, and starts nothing, when the echo client
    // cannot be built (std::runtime_error: the failed step and the platform's text). Raises
    // EThreadCreation only when no thread can be created while no worker of this program runs,
    // which no wait would mend; nothing waits then.
    void Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe);

    // True while lines of its command wait or its workers run.
    bool Busy() const { return queue_.Waiting() > 0 || !live_.empty(); }

    // Looks for workers whose thread ended without their completion, at once.
    void NoticeLostWorkers();
    // How many lines were probed again since the program started, for the curious.
    static std::size_t LinesProbedAgain();

    // The most workers of this program that run at once (by default 2000); the previous bound is
    // returned. For tests, which show the waiting with a few lines.
    static std::size_t BoundLiveWorkers(std::size_t most);

private:
    // A worker started here whose completion has not run.
    struct Live {
        UniqueKernelHandle thread;
        std::string line;
        bool again;
        unsigned command;
        ProbeHandler onProbe;
    };

    bool StartOne(const std::string& line, bool again);
    void StartWaiting();
    void Completed(TPingThread& worker);
    void Lost(TPingThread* worker);
    // The next step: soon after the messages waiting now when a step was full, after a while
    // when lines wait for room, or only to look after the workers still running.
    void ScheduleNextStep(bool stepWasFull);

    TICMPLibraryHold echoLibrary_; // so that thousands of probes do not load and unload it
    ProbeQueue queue_;
    bool withCountry_ = false;
    ProbeHandler onProbe_;
    unsigned command_ = 0;
    std::unordered_map<TPingThread*, Live> live_;
    ThreadTimer timer_;
};
