#pragma once
// Probing the lines of a proxy list and listing the results: what the main list and the
// checker share, and what each makes of a finished probe. UI thread only.

#include "lists/ListCommand.h"
#include "lists/ProbeLauncher.h"
#include "lists/ProxyListView.h"
#include "probe/PingThrd.h"

#include <string>

// Probes slower than this many milliseconds count as not answering.
inline constexpr std::uint32_t kSlowestListedPing = kEchoWaitMs - 1;

// The main list's refresh: downloads the service's list for `account` into paidproxy.cfg beside
// the executable (never through a proxy of the program's own), empties `list`, puts the decoded
// host lines into `hostNames` and has the command's probes probe every non-empty line. Network
// trouble is never a box: the list stays empty, and the status bar says that the list could not
// be fetched. Raises EInOutError for the list file, std::runtime_error "Text exceeds memo
// capacity" when the box cannot take the text, and what ProbeLauncher::Launch raises.
// A new batch of the command's checks begins, one for every line.
void RefreshProxyList(const std::string& account, ProxyListView& list, const Edit& hostNames, ListCommand& command,
                      ProbeHandler onProbe);

// The checker's "Check List": empties `list` and has the command's probes probe every non-empty
// line of `pasted`, unless `pasted` has no lines at all; a new batch of its checks begins then,
// one for every line.
void CheckProxyLines(const std::string& pasted, ProxyListView& list, ListCommand& command, ProbeHandler onProbe);

// Every line of a command is probed and its port checked at once. A line is listed as soon as its
// echo answers in time (its row shows the ping) or its check finds it working (its row shows
// kNoPing until a ping comes in time); each row's verdict lands in it, and the list is sorted by
// the ping column. A reply record of another status (a router's report) counts as no reply.

// The main list's share of a finished probe: a row "address:port", the country's lines and the
// ping, once its line is proved; a line proved by neither answer gets no row.
void ListAnsweredProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe);

// The checker's share of a finished probe: a row with the whole line and its ping once its line
// is proved, or "BAD PROXY" once neither answer proved it.
void ListCheckedProbe(ProxyListView& list, ListCommand& command, const TPingThread& probe);
