#pragma once
// Helpers for the tests of the two proxy lists: the service's encoding, reading a list back from
// its control as the user sees it, selecting as the user does, and waiting for the probes.

#include "WindowTestSupport.h"

#include "lists/ProbeLauncher.h"
#include "verify/ProxyCheckPool.h"
#include "probe/PingThrd.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lists {

using Rows = std::vector<std::vector<std::string>>;

// Handles messages until the list view control has been told every row, as the user's program
// does: by its own timer, for at most 5 s.
inline void CatchUp(ProxyListView& list)
{
    PumpMessagesUntil([&] { return list.ItemCount() == static_cast<int>(list.Count()); }, 5000);
}

// The columns of the check, after the list's own: the verdict's three, then "Exit" and "Type";
// the speed column comes last.
constexpr int kCheckColumns = 5;
constexpr int kSpeedColumns = 1;

// The column of the proxy's kind.
inline int TypeColumn(const ListView& list)
{
    return list.ColumnCount() - kSpeedColumns - 1;
}

// Whether every row has its verdict; read from the rows, not from the control, so that looking
// costs the probes' completions nothing.
inline bool AllVerdictsIn(const ProxyListView& list)
{
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (list.Row(position).Checks.empty())
            return false;
    return true;
}

// Whether a row shows an elite proxy with HTTPS; read from the rows too.
inline bool ShowsVerifiedElite(const ProxyListView& list)
{
    for (std::size_t position = 0; position < list.Count(); ++position) {
        const std::vector<std::string>& checks = list.Row(position).Checks;
        if (checks.size() >= 3 && checks[1] == "yes" && checks[2] == "elite")
            return true;
    }
    return false;
}

// Every row's cell texts in columns `first` up to `end`, as the list view control shows them.
inline Rows ListedCells(ProxyListView& list, int first, int end)
{
    CatchUp(list);
    Rows rows;
    for (int item = 0; item < list.ItemCount(); ++item) {
        std::vector<std::string> cells;
        for (int column = first; column < end; ++column)
            cells.push_back(list.ItemText(item, column));
        rows.push_back(cells);
    }
    return rows;
}

// Every row's cells of the list's own columns.
inline Rows ListedRows(ProxyListView& list)
{
    return ListedCells(list, 0, list.ColumnCount() - kSpeedColumns - kCheckColumns);
}

// Every row's caption and verdict cells ("Web (ms)", "HTTPS", "Anonymity").
inline Rows ListedVerdicts(ProxyListView& list)
{
    const int first = list.ColumnCount() - kSpeedColumns - kCheckColumns;
    Rows rows = ListedCells(list, first, first + 3);
    for (int item = 0; item < static_cast<int>(rows.size()); ++item)
        rows[item].insert(rows[item].begin(), list.ItemText(item, 0));
    return rows;
}

// The selected row's position in the control, -1 for none.
inline int SelectedItem(ProxyListView& list)
{
    CatchUp(list);
    return list.SelectedItem();
}

// Selects a row the way a click does.
inline void SelectItem(ProxyListView& list, int item)
{
    CatchUp(list);
    list.SetItemSelected(item, true);
}

// A double click on a row of the list.
inline void DoubleClickItem(ProxyListView& list, int item)
{
    CatchUp(list);
    const RECT bounds = list.ItemBounds(item);
    SendMessageA(list.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, (bounds.top + bounds.bottom) / 2));
}

// A click on a column header, as the list view reports it to its window.
inline void ClickColumn(HWND window, const ListView& list, int column)
{
    NMLISTVIEW click{};
    click.hdr.hwndFrom = list.Handle();
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list.Handle()));
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageA(window, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

// Chooses the context menu item with `caption`.
inline void ChooseMenuItem(HWND window, const PopupMenu& menu, const std::string& caption)
{
    for (int position = 0; position < menu.Count(); ++position)
        if (menu.ItemCaption(position) == caption) {
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(menu.ItemId(position), 0), 0);
            return;
        }
    ADD_FAILURE() << "no menu item " << caption;
}

// The text on the clipboard; empty when it holds none.
inline std::string ClipboardText()
{
    if (!OpenClipboard(nullptr))
        return {};
    const HANDLE data = GetClipboardData(CF_TEXT);
    const char* locked = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    const std::string text = locked ? locked : "";
    if (locked)
        GlobalUnlock(data);
    CloseClipboard();
    return text;
}

// Handles messages until every line handed to a launcher is probed and checked and every probe
// has completed, for at most 20 s.
inline void AwaitProbes()
{
    EXPECT_TRUE(PumpMessagesUntil([] {
        return !ProbeLauncher::AnyBusy() && RegisteredWorkerSlots() == 0 && !ProxyCheckPool::AnyBusy();
    })) << "probes or checks still running";
}

// Gives the row at `position` the verdict of a check that found an elite HTTP proxy: a proxy
// whose kind is known goes into the settings as it is.
inline void JudgeHttp(ProxyListView& list, std::size_t position)
{
    ProxyVerdict verdict;
    verdict.webMs = 100;
    verdict.anonymity = Anonymity::Elite;
    verdict.kind = ProxyKind::Http;
    list.SetVerdict(list.IdAt(position), verdict);
}

// A finished probe as a completion handler receives it; the worker is never started.
inline std::unique_ptr<TPingThread> FinishedProbe(const std::string& line, std::int32_t replies,
                                                  std::uint32_t roundTripMs, const std::string& country = "")
{
    auto probe = std::make_unique<TPingThread>();
    probe->SourceLine = line;
    probe->Country = country;
    probe->ReplyCount = replies;
    probe->RoundTripMs = roundTripMs;
    return probe;
}

// A probe whose body only sets its results, as a finished echo leaves them.
class ScriptedProbe : public TPingThread {
public:
    ScriptedProbe(std::int32_t replies, std::uint32_t roundTripMs) : replies_(replies), roundTripMs_(roundTripMs) {}

protected:
    void Execute() override
    {
        ReplyCount = replies_;
        RoundTripMs = roundTripMs_;
    }

private:
    std::int32_t replies_;
    std::uint32_t roundTripMs_;
};

// Runs a probe of `line` through the real hand-over to `onProbe` after the application has
// begun to terminate: the worker offers no completion and waits for the stop request at program
// end, which it then gets.
inline void CompleteAfterTermination(std::function<void(TPingThread&)> onProbe, const std::string& line)
{
    Application.MarkTerminating();
    auto* probe = new ScriptedProbe(1, 3);
    probe->SourceLine = line;
    probe->FreeOnTerminate = true;
    probe->OnTerminate = [onProbe](WorkerThread& sender) { onProbe(static_cast<TPingThread&>(sender)); };
    const DWORD threadId = probe->ThreadID();
    RegisterWorker(threadId);
    const UniqueKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, threadId));
    probe->Start();
    // Parked: while messages are handled, no completion runs and the thread does not end.
    EXPECT_FALSE(PumpMessagesUntil([&] { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 300));
    StopAllWorkers();
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
}

} // namespace lists
