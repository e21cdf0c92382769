#pragma once
// What a list shows of each line of its command, as two answers come for the line in either
// order: its echo's (a ping in time, or none) and its check's verdict (the check of the line's
// port starts with the command, not after the echo). A line is listed as soon as either proves
// it: its echo answered in time (its row shows the ping), or its check found it working (its row
// shows no ping until one comes in time). A line proved by neither gets no row, or, in a list
// that says so, a row of its own that says it is bad (without the verdict's cells). Every line is
// listed at most once. The first check of a line gives up early where its port takes no
// connection: a line whose echo answered in time and whose first check did not reach it is
// checked once more, and that second verdict is the row's.

#include "core/ProxyVerdict.h"

#include <cstddef>
#include <optional>
#include <vector>

// Whether a verdict proves a line to be a proxy worth a row: the page, or the tunnel, came
// through it.
bool VerdictProvesProxy(const ProxyVerdict& verdict);

// What the list does after an answer of one line.
struct LineChange {
    bool addRow = false;          // the line gets its row now
    bool bad = false;             // that row says the line is bad (with BadRows only)
    std::optional<unsigned> ping; // the ping to show: of the new row, or filled into the row
    std::optional<ProxyVerdict> verdict; // lands in the line's row (the new one, or the one it has)
    bool hurryCheck = false;      // the line's check, where it has not started, goes before others
    bool checkAgain = false;      // the line is checked once more, as one that answers

    bool operator==(const LineChange&) const = default;
};

class LineOutcomes {
public:
    enum class Unproved { NoRow, BadRow };

    LineOutcomes(std::size_t lines, Unproved unproved);

    // The echo of line `line` answered: `ping` where in time, nullopt where it did not (or too
    // late). A line out of range, or whose echo has answered already, changes nothing.
    LineChange Echo(std::size_t line, std::optional<unsigned> ping);
    // The check of line `line` came to `verdict`.
    LineChange Verdict(std::size_t line, const ProxyVerdict& verdict);

    bool Listed(std::size_t line) const { return line < lines_.size() && lines_[line].listed; }

private:
    struct Line {
        bool echoed = false;
        std::optional<unsigned> ping;
        std::optional<ProxyVerdict> verdict;
        bool listed = false;
        bool checkedAgain = false;
    };
    // The row of a line that neither answer proved, once both have come.
    LineChange Unproven(Line& line);
    // Whether the line, listed by its echo, is to be checked again for its verdict; its first
    // verdict is then forgotten.
    static bool CheckAgain(Line& line);

    std::vector<Line> lines_;
    Unproved unproved_;
};
