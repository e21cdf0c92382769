#pragma once
// The lines of one probing command that wait for a thread. Lines are started in steps of at most
// a given number, as far as the platform has room for threads; a line that finds none waits,
// with the lines after it, until a later attempt. A line whose probe was lost (its thread ended
// without an answer) can be put back once, ahead of the others. Not synchronised: one thread
// owns an instance.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class ProbeQueue {
public:
    struct Line {
        std::string text;
        std::size_t number; // its place in the command's lines, from 0
        bool again;         // put back
    };
    // Starts the probe of one line; false when the platform has no room for another thread now
    // (the line is then not started).
    using Starter = std::function<bool(const Line& line)>;

    // Drops whatever still waits from an earlier command, then starts `lines` (numbered in their
    // order) in order until `most` are started or one finds no room; the rest wait. Returns how
    // many were started.
    std::size_t StartAll(std::vector<std::string> lines, const Starter& start, std::size_t most = SIZE_MAX);

    // Starts waiting lines in order until `most` are started or one finds no room. Returns how
    // many were started.
    std::size_t StartWaiting(const Starter& start, std::size_t most = SIZE_MAX);

    // Puts a line back, ahead of the lines that wait, to be started again.
    void PutBack(std::string line, std::size_t number) { PutBack({std::move(line), number, true}); }
    // Puts a line back as it is (`again` as it was: a line that was never probed).
    void PutBack(Line line) { waiting_.push_front(std::move(line)); }

    void Drop() { waiting_.clear(); }
    std::size_t Waiting() const { return waiting_.size(); }

private:
    std::deque<Line> waiting_;
};
