#pragma once
// What "works" means for a proxy, one rule for the lists' checks and for the watch over the proxy
// in use: a check passes when the service's signed statement for its token came back through the
// proxy within the check's limit. A list gives every proxy the same limit; the watch gives the
// proxy in use a limit that follows the proxy's own last passing time, and never more than a
// list's, so that a far proxy that a list found working is never called dead for being far, and
// a near one that stops answering is noticed soon.

#include <cstddef>
#include <deque>
#include <optional>

// The time a check of a listed proxy may take.
inline constexpr unsigned kProxyCheckLimitMs = 10000;

// Whether a check whose page came with a valid statement after `webMs` (nullopt: it did not)
// passed within `limitMs`.
bool Works(std::optional<unsigned> webMs, unsigned limitMs);

// The times of one check of the proxy in use: its limit, and the moment by which a check at the
// proxy's own speed has passed, after which more checks join it (ending at the same limit).
struct WatchTimes {
    unsigned limitMs = 0;
    unsigned doubtMs = 0;
};

// For a proxy whose last check passed in `lastPassMs` (nullopt: never checked): the limit is
// twice that time and a second more, the doubt moment that time and half a second more (earlier
// where checks joined then would not have the proxy's own time left), each at least its floor
// (`floor`: those of a proxy that answers at once) and at most `listLimitMs`. A proxy never
// checked gets the list's limit. So whatever a list found working passes a check with these
// times at its own speed, and so do the checks that join it.
WatchTimes WatchTimesFor(std::optional<unsigned> lastPassMs, WatchTimes floor, unsigned listLimitMs);

// A check of a listed proxy that has not even connected to it gives up this long after its start,
// where its peers connect quickly (ConnectTimes::Quick); one that connected keeps its whole limit,
// so that far proxies still pass.
inline constexpr unsigned kUnconnectedGiveUpMs = 3000;

// A check of a line whose host is not known to answer (its echo has not, or not yet) knocks at
// its port first, and gives up this long after its start, whatever its peers do, where the port
// has not taken the connection: a silent address holds a place no longer. A proxy that answers
// the echo and was not reached in this time is checked again with the time above.
inline constexpr unsigned kKnockGiveUpMs = 2000;

// How long a speed test downloads through a proxy at most.
inline constexpr unsigned kSpeedTestLimitMs = 10000;
// The speed of `bytes` in `milliseconds`, in kB/s (1000 bytes a second), as the "Speed (kB/s)"
// column shows it; a download quicker than a millisecond counts as one.
unsigned SpeedKBps(std::size_t bytes, unsigned milliseconds);

// How long the latest checks took to connect to their proxies.
class ConnectTimes {
public:
    void Add(unsigned milliseconds);
    // Nine in ten of the latest connections (at least eight of them) came within a second.
    bool Quick() const;

private:
    std::deque<unsigned> latest_;
};
