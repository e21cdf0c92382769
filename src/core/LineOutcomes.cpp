#include "core/LineOutcomes.h"

bool VerdictProvesProxy(const ProxyVerdict& verdict)
{
    return verdict.webMs.has_value() || verdict.https;
}

LineOutcomes::LineOutcomes(std::size_t lines, Unproved unproved) : lines_(lines), unproved_(unproved) {}

LineChange LineOutcomes::Echo(std::size_t number, std::optional<unsigned> ping)
{
    if (number >= lines_.size() || lines_[number].echoed)
        return {};
    Line& line = lines_[number];
    line.echoed = true;
    line.ping = ping;
    LineChange change;
    if (line.listed) {
        change.ping = ping; // a row listed by its check gets its ping
        return change;
    }
    if (!ping)
        return line.verdict ? Unproven(line) : change;
    line.listed = true;
    change.addRow = true;
    change.ping = ping;
    change.checkAgain = CheckAgain(line);
    change.verdict = line.verdict;
    change.hurryCheck = !line.verdict && !change.checkAgain;
    return change;
}

LineChange LineOutcomes::Verdict(std::size_t number, const ProxyVerdict& verdict)
{
    if (number >= lines_.size() || lines_[number].verdict)
        return {};
    Line& line = lines_[number];
    line.verdict = verdict;
    LineChange change;
    if (line.listed) { // by its echo
        change.checkAgain = CheckAgain(line);
        change.verdict = line.verdict;
        return change;
    }
    if (VerdictProvesProxy(verdict)) {
        line.listed = true;
        change.addRow = true;
        change.verdict = verdict; // its ping comes later, if in time
        return change;
    }
    return line.echoed ? Unproven(line) : change;
}

bool LineOutcomes::CheckAgain(Line& line)
{
    if (!line.verdict || !line.verdict->unreached || line.checkedAgain)
        return false;
    line.checkedAgain = true;
    line.verdict.reset();
    return true;
}

LineChange LineOutcomes::Unproven(Line& line)
{
    LineChange change;
    if (unproved_ == Unproved::NoRow)
        return change;
    line.listed = true;
    change.addRow = true;
    change.bad = true; // says it all: no verdict cells
    return change;
}
