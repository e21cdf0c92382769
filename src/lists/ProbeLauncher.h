#pragma once
// Starts the probes of one list's command (a refresh of the main list, a check in the checker):
// one worker per line. Up to 250 lines are started at once, before the command returns and
// before any completion runs; longer lists go on in steps of as many between the window's
// messages, so that it paints and lists rows meanwhile. Starting needs room for threads: the
// platform's own limit, and a bound of 2000 live workers of this program, which keeps its memory
// in check (under Wine each running thread holds about 1 MB). Lines that find no room wait and
// are started as running workers end, checked every 20 ms while any wait, so that every line is
// probed once and the list ends as with unlimited threads. UI thread only.

#include "core/ProbeQueue.h"
#include "probe/PingThrd.h"
#include "probe/icmp.h"

#include <functional>
#include <string>
#include <vector>

// What a window does with one finished probe, on the UI thread; the probe is valid until it
// returns. Not called once the application has begun to terminate.
using ProbeHandler = std::function<void(TPingThread& probe)>;

class ProbeLauncher {
public:
    ProbeLauncher() = default;
    ProbeLauncher(const ProbeLauncher&) = delete;
    ProbeLauncher& operator=(const ProbeLauncher&) = delete;
    ~ProbeLauncher();

    // Drops the lines of the earlier command still waiting, then starts a probe per line of
    // `lines` (echo with 56 data bytes, TTL 32, 4000 ms timeout, no reverse lookup; the country
    // taken from the line when `withCountry`). Raises EThreadCreation only when no thread can be
    // created while no worker of this program runs, which no wait would mend; nothing waits then.
    void Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe);

    // The most workers of this program that run at once (by default 2000); the previous bound is
    // returned. For tests, which show the waiting with a few lines.
    static std::size_t BoundLiveWorkers(std::size_t most);

private:
    static void CALLBACK Retry(HWND, UINT, UINT_PTR timer, DWORD);
    bool StartOne(const std::string& line);
    void StartWaiting();
    // Lines wait: soon after the messages waiting now when a step was full, else after a while.
    void ScheduleNextStep(bool stepWasFull);
    void StopRetrying();

    TICMPLibraryHold echoLibrary_; // so that thousands of probes do not load and unload it
    ProbeQueue queue_;
    bool withCountry_ = false;
    ProbeHandler onProbe_;
    UINT_PTR timer_ = 0;
};
