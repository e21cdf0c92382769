#pragma once
// Starts the probes of one list's command (a refresh of the main list, a check in the checker):
// one probe per line, all at once as far as the platform allows. The probes are started by a
// thread of the launcher's own, never by the UI thread, which only hands over the lines and files
// the completions as they come. A line whose host is an address gets its echo sent by that
// thread without a thread of its own (AsyncEcho: a thousand are out in a quarter of a second);
// its answer comes back to that thread, which hands the probe's completion to the UI thread
// through a mailbox, without waiting for it as a worker does. A line that names its host gets a worker thread of its own, which looks the name up.
// Starting needs room: the platform's own limit on threads, at most 256 worker threads (under
// Wine each running thread holds about 1 MB), and as many echoes out as the platform's echo
// service takes at once, which is learned: where it answers every one, the whole list goes at
// once; where it hands back those beyond its room untaken (Wine does past 256), their lines wait
// and the launcher holds back to that room from then on. Lines that find no room wait and are
// started as probes end, so that every line is probed once and the list ends as with unlimited
// room. A new command drops the lines of the earlier one that wait.
//
// A worker is known to be live by its thread. One whose thread ended without its completion (the
// platform can end a thread it cannot serve) is noticed on the next look, at least every 250 ms
// while workers run: its slot is freed and its line probed again once, or, the second time or
// once a newer command has begun, handed to the window as a probe that got no answer. Where no
// thread at all can be had while none of this program's runs, the lines are dropped and the error
// box says why. Created, used and destroyed on the UI thread.

#include "probe/PingThrd.h"
#include "probe/icmp.h"
#include "win/ThreadTimer.h"
#include "win/UiMailbox.h"
#include "win/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a window does with one finished probe, on the UI thread; the probe is valid until it
// returns. Not called once the application has begun to terminate.
using ProbeHandler = std::function<void(TPingThread& probe)>;

// How long an echo is waited for: a reply that comes later is never listed (kSlowestListedPing),
// so waiting longer would only hold the echo's place.
inline constexpr std::uint32_t kEchoWaitMs = 1000;

class ProbeLauncher {
public:
    ProbeLauncher();
    ProbeLauncher(const ProbeLauncher&) = delete;
    ProbeLauncher& operator=(const ProbeLauncher&) = delete;
    // The launcher's thread ends first; its workers still running complete without a handler.
    ~ProbeLauncher();

    // Drops the lines of the earlier command still waiting, then has a probe started for each
    // line of `lines` (echo with 56 data bytes, TTL 32, kEchoWaitMs timeout, no reverse lookup; the
    // country taken from the line when `withCountry`). Raises, and starts nothing, when the echo
    // client cannot be built (std::runtime_error: the failed step and the platform's text), or
    // when the launcher's thread cannot be had (std::runtime_error "Thread creation error: ...").
    void Launch(std::vector<std::string> lines, bool withCountry, ProbeHandler onProbe);

    // True while lines of its command wait or its workers run.
    bool Busy() const;
    // True while any launcher is busy; for tests, which wait for the probes of a click.
    static bool AnyBusy();

    // Looks for workers whose thread ended without their completion, at once.
    void NoticeLostWorkers();
    // How many lines were probed again since the program started, for the curious.
    static std::size_t LinesProbedAgain();

    // The most probes of this program whose completion has not run, threads and echoes (by
    // default no more than the platform allows); the previous bound is returned. For tests, which show the waiting
    // with a few lines.
    static std::size_t BoundLiveWorkers(std::size_t most);

    struct Shared; // what the UI thread and the launcher's thread share

private:
    void Completed(TPingThread& worker);
    void Lost(TPingThread* worker);
    // The UI thread's look at the workers, while the launcher is busy.
    void Look();

    TICMPLibraryHold echoLibrary_; // so that thousands of probes do not load and unload it
    UiMailbox mailbox_;            // the echoes' completions: the launcher's thread never waits for the UI thread
    std::shared_ptr<Shared> shared_;
    UniqueKernelHandle thread_;
    ThreadTimer timer_;
};
