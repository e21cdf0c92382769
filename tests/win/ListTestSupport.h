#pragma once
// Helpers for the tests of the two proxy lists: the service's encoding, reading a list back from
// its control as the user sees it, selecting as the user does, and waiting for the probes.

#include "WindowTestSupport.h"

#include "probe/PingThrd.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace lists {

using Rows = std::vector<std::vector<std::string>>;

// Handles messages until the list view control has been told every row, as the user's program
// does: by its own timer, for at most 5 s.
inline void CatchUp(ProxyListView& list)
{
    PumpMessagesUntil([&] {
        return SendMessageA(list.Handle(), LVM_GETITEMCOUNT, 0, 0) == static_cast<LRESULT>(list.Count());
    }, 5000);
}

// Every row's cell texts, column by column, as the list view control shows them.
inline Rows ListedRows(ProxyListView& list)
{
    CatchUp(list);
    const HWND control = list.Handle();
    Rows rows;
    const int count = static_cast<int>(SendMessageA(control, LVM_GETITEMCOUNT, 0, 0));
    for (int item = 0; item < count; ++item) {
        std::vector<std::string> cells;
        for (int column = 0; column < list.ColumnCount(); ++column) {
            char text[512] = {};
            LVITEMA query{};
            query.iSubItem = column;
            query.pszText = text;
            query.cchTextMax = sizeof text;
            SendMessageA(control, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&query));
            cells.emplace_back(text);
        }
        rows.push_back(cells);
    }
    return rows;
}

// The selected row's position in the control, -1 for none.
inline int SelectedItem(ProxyListView& list)
{
    CatchUp(list);
    return static_cast<int>(SendMessageA(list.Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Selects a row the way a click does.
inline void SelectItem(ProxyListView& list, int item)
{
    CatchUp(list);
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list.Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
}

// A double click on a row of the list.
inline void DoubleClickItem(ProxyListView& list, int item)
{
    CatchUp(list);
    RECT bounds{};
    bounds.left = LVIR_LABEL;
    SendMessageA(list.Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&bounds));
    SendMessageA(list.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                 MAKELPARAM(bounds.left + 4, (bounds.top + bounds.bottom) / 2));
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

// Handles messages until every started probe has completed, for at most 20 s.
inline void AwaitProbes()
{
    EXPECT_TRUE(PumpMessagesUntil([] { return RegisteredWorkerSlots() == 0; })) << "probes still running";
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

} // namespace lists
