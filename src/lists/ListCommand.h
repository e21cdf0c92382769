#pragma once
// What the commands of one list run on: the probes of its lines, the checks of its rows, and what
// the window's status bar shows of them. UI thread only.

#include "core/LineOutcomes.h"
#include "lists/CommandProgress.h"
#include "lists/ProbeLauncher.h"
#include "verify/ProxyCheckPool.h"

#include <cstdint>
#include <string>
#include <vector>

// The lines of the command that runs, and the rows they got.
struct CommandLines {
    std::vector<std::string> texts; // numbered as the probes and checks number them
    bool withCountry = false;       // the main list's rows, with the line's country; else the checker's
    LineOutcomes outcomes{0, LineOutcomes::Unproved::NoRow};
    std::vector<std::uint64_t> rows; // each line's row; 0: none yet
};

struct ListCommand {
    ProbeLauncher probes;
    ProxyCheckPool checks;
    CommandProgress progress;
    CommandLines lines;

    // True while the command's probes or checks run, or wait to.
    bool Working() const { return probes.Busy() || checks.Running() > 0 || checks.Waiting() > 0; }
};
