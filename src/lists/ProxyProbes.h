#pragma once
// Probing the lines of a proxy list and listing the results: what the main list and the
// checker share, and what each makes of a finished probe. UI thread only.

#include "lists/ProxyListView.h"
#include "probe/PingThrd.h"

#include <string>
#include <vector>

// Probes slower than this many milliseconds count as not answering.
inline constexpr std::uint32_t kSlowestListedPing = 999;

// Creates, registers and starts the worker that probes one host line: echo with 56 data bytes,
// TTL 32, 4000 ms timeout, no reverse lookup. `onTerminate` runs on this thread when the probe
// has ended. Raises std::runtime_error when no thread can be created.
void StartProbe(const std::string& line, const std::string& country,
                WorkerThread::TNotifyEvent onTerminate);

// The lines of a text box's text, a lone CR or LF counting as a line break too; a final empty
// line does not count.
std::vector<std::string> TextLines(const std::string& text);

// Replaces the text of a text box. Raises std::runtime_error "Text exceeds memo capacity" when
// the box cannot take it.
void SetBoxText(const Edit& box, const std::string& text);

// The main list's share of a finished probe: a row "address:port", the country lines, the ping
// for an echo reply under a second; then the list is sorted by the ping column if an echo reply
// came. A reply record of another status (a router's report) counts as no reply.
void ListAnsweredProbe(ProxyListView& list, const TPingThread& probe);

// The checker's share of a finished probe: a row with the whole line and its ping, or
// "BAD PROXY" without an echo reply under a second; then the list is sorted by the ping column.
void ListCheckedProbe(ProxyListView& list, const TPingThread& probe);
