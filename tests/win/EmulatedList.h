#pragma once
// Public proxy lists as users get them, on an emulated internet (host::EmulatedInternet), with the
// truth of every line: most addresses never answer, some are unreachable or refuse, some take
// connections and answer nothing, a few are real proxies near and far (some behind a filter that
// drops echoes), and a few are hostile.

#include "core/IpCheckPage.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace emulated {

enum class Kind { Silent, Unreachable, Refusing, Swallowing, Elite, Anonymous, Transparent, Forger, Dripper, Filtered };

// The service inside the emulated internet, on its ports 80 and 443.
inline constexpr const char* kServiceAddress = "198.18.255.254";

// The port on which an address of the emulated internet plays `kind` (see emulated-internet).
inline int PortOf(Kind kind)
{
    switch (kind) {
    case Kind::Elite:
    case Kind::Filtered: return 8001;
    case Kind::Anonymous: return 8002;
    case Kind::Transparent: return 8003;
    case Kind::Swallowing: return 3128;
    case Kind::Forger: return 8004;
    case Kind::Dripper: return 8005;
    default: return 8080; // nothing listens there
    }
}

// Its echo is answered.
inline bool Echoes(Kind kind)
{
    return kind != Kind::Silent && kind != Kind::Unreachable && kind != Kind::Filtered;
}

// The anonymity of a proxy whose check passes; nullopt for every other kind.
inline std::optional<Anonymity> TrueAnonymity(Kind kind)
{
    switch (kind) {
    case Kind::Elite:
    case Kind::Filtered: return Anonymity::Elite;
    case Kind::Anonymous: return Anonymity::Anonymous;
    case Kind::Transparent: return Anonymity::Transparent;
    default: return std::nullopt;
    }
}

// It is listed: its echo answers, or it is a proxy that works.
inline bool Listed(Kind kind)
{
    return Echoes(kind) || TrueAnonymity(kind).has_value();
}

struct Line {
    std::string address;
    Kind kind;
    unsigned delayMs; // one way
    std::string Host() const { return address + ":" + std::to_string(PortOf(kind)); }
};

// How many lines of each kind, in the order of Kind.
using Counts = std::vector<std::size_t>;

struct World {
    std::vector<Line> lines; // in the list's order

    // The emulator's table: every line's host with its delay, `jitterPercent` of it either way,
    // and `loss` of its packets lost (where it answers).
    std::string HostTable(unsigned jitterPercent, double loss) const
    {
        std::string table;
        for (const Line& line : lines) {
            const char* kind = line.kind == Kind::Silent        ? "silent"
                               : line.kind == Kind::Unreachable ? "unreachable"
                               : line.kind == Kind::Filtered    ? "no-echo"
                                                                : "answers";
            char entry[128];
            std::snprintf(entry, sizeof entry, "%s %s %u %u %.4f\n", line.address.c_str(), kind, line.delayMs,
                          line.delayMs * jitterPercent / 100, loss);
            table += entry;
        }
        return table;
    }

    // The list as the service serves it: "address:port;country" lines.
    std::string ProxyList() const
    {
        std::string list;
        for (const Line& line : lines)
            list += line.Host() + ";US\r\n";
        return list;
    }

    std::size_t Count(bool (*which)(Kind)) const
    {
        std::size_t count = 0;
        for (const Line& line : lines)
            count += which(line.kind);
        return count;
    }
};

// 198.18.A.B for the `index`th line, B from 1 to 250.
inline std::string Address(std::size_t index)
{
    return "198." + std::to_string(18 + index / 62500) + "." + std::to_string(index / 250 % 250) + "." +
           std::to_string(index % 250 + 1);
}

// `counts` lines of each kind in a random order, each with a one-way delay from `nearestMs` to
// `farthestMs`.
inline World MakeWorld(const Counts& counts, unsigned nearestMs, unsigned farthestMs, unsigned seed = 2026)
{
    std::vector<Kind> kinds;
    for (std::size_t kind = 0; kind < counts.size(); ++kind)
        kinds.insert(kinds.end(), counts[kind], static_cast<Kind>(kind));
    std::mt19937 random(seed);
    std::shuffle(kinds.begin(), kinds.end(), random);
    std::uniform_int_distribution<unsigned> delay(nearestMs, farthestMs);
    World world;
    for (std::size_t index = 0; index < kinds.size(); ++index)
        world.lines.push_back({Address(index), kinds[index], delay(random)});
    return world;
}

} // namespace emulated
