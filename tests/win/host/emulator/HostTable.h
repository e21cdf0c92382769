#pragma once
// What the emulated internet does with the packets of each of its addresses, as a file of the
// test's gives it: one line per address,
//   ADDRESS KIND DELAY_MS JITTER_MS LOSS
// KIND "answers" (its packets pass, each way DELAY_MS later, give or take JITTER_MS, a share
// LOSS of them lost), "no-echo" (as "answers", but its echoes are dropped, as a filter does),
// "silent" (none passes) or "unreachable" (a packet to it is answered, DELAY_MS there and back,
// with "destination host unreachable"). Blank lines and lines from "#"
// are skipped; an address not listed passes at once.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <unordered_map>

struct HostBehaviour {
    enum class Kind { Answers, NoEcho, Silent, Unreachable };
    Kind kind = Kind::Answers;
    unsigned delayMs = 0;
    unsigned jitterMs = 0;
    double loss = 0;
};

class HostTable {
public:
    // Raises std::runtime_error naming the first line it cannot read.
    static HostTable Read(std::istream& lines);

    // The behaviour of the IPv4 address `address` (network order); nullopt where it is not listed.
    std::optional<HostBehaviour> Find(std::uint32_t address) const;
    std::size_t Size() const { return hosts_.size(); }

private:
    std::unordered_map<std::uint32_t, HostBehaviour> hosts_;
};
