#pragma once
// What a list's window shows of its command in its status bar, and on its taskbar button: how far
// the probes and then the checks have got, with a progress bar, and once the command has ended a
// summary that stays until the next one (core/CommandStatus.h). The texts change at most four
// times a second, however fast completions and verdicts come. UI thread only.

#include "core/CommandStatus.h"
#include "verify/ProxyCheck.h"
#include "win/StatusBar.h"
#include "win/TaskbarProgress.h"
#include "win/ThreadTimer.h"

#include <functional>
#include <string>

// The user's way of writing numbers, from their locale.
NumberStyle UsersNumberStyle();

class CommandProgress {
public:
    // Shows in `bar`, and on the taskbar button of `window`. `working` tells whether the
    // command's probes or checks still run; `ended` runs once a command has ended.
    void Attach(HWND window, StatusBar& bar, std::function<bool()> working, std::function<void()> ended = {});

    // A command with `lines` lines to probe began; `droppedEarlier`: it dropped one still running.
    void Began(std::size_t lines, bool droppedEarlier);
    // The command's list could not be fetched, for `reason`: it ends here.
    void ListNotFetched(const std::string& reason);
    void Probed(bool answered);
    void Listed() { ++tally_.listed; }
    void CheckAdded(std::size_t count = 1) { tally_.checks += count; }
    void Verdict(const ProxyVerdict& verdict);

    const CommandTally& Tally() const { return tally_; }

private:
    void Show();
    void Ended();

    HWND window_ = nullptr;
    StatusBar* bar_ = nullptr;
    std::function<bool()> working_;
    std::function<void()> ended_;
    CommandTally tally_;
    bool droppedEarlier_ = false;
    std::string shown_; // the text the bar shows while the command runs
    ULONGLONG began_ = 0;
    NumberStyle style_;
    TaskbarProgress taskbar_;
    ThreadTimer timer_;
};
