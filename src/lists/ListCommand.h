#pragma once
// What the commands of one list run on: the probes of its lines, the checks of its rows, and what
// the window's status bar shows of them. UI thread only.

#include "lists/CommandProgress.h"
#include "lists/ProbeLauncher.h"
#include "verify/ProxyCheckPool.h"

struct ListCommand {
    ProbeLauncher probes;
    ProxyCheckPool checks;
    CommandProgress progress;

    // True while the command's probes or checks run, or wait to.
    bool Working() const { return probes.Busy() || checks.Running() > 0 || checks.Waiting() > 0; }
};
