#include "lists/ProxyListView.h"

#include "core/ExitPlace.h"
#include "core/ServiceUrl.h"
#include "lists/CommandProgress.h"
#include "settings/AgentOverride.h"
#include "win/Clipboard.h"

#include <algorithm>

namespace {

constexpr UINT_PTR kSubclassId = 1;
// The speed column's place after the list's own columns: after the five check columns.
constexpr int kSpeedColumn = 5;
constexpr const char* kHint = "Double or Right click here to Hide Your IP";
// Menu commands, distinct across the lists of every window.
UINT nextMenuCommand = 1000;
// The control's own timer that tells it the row count and has it redraw the changed rows, and
// how long changes are gathered.
constexpr UINT_PTR kShowTimer = 0x5A52;
constexpr UINT kGatherMs = 50;

// How long changes gather before the control learns them: longer for a long list, since each new
// count costs the control time for every row it has (under Wine some 4 ms a thousand).
UINT GatherMs(std::size_t rows)
{
    return std::max<UINT>(kGatherMs, static_cast<UINT>(rows / 40));
}

// Input that must meet the control in the state of the rows.
bool IsUserInput(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || message == WM_CONTEXTMENU;
}

// The check cell that the check column `checkColumn` shows: "Exit" shows two (the exit address's
// cell stands for both), and the kind comes after them.
std::size_t CheckCellOf(int checkColumn)
{
    return checkColumn == 4 ? kProxyKindCell : static_cast<std::size_t>(checkColumn);
}

// The keyboard's menu key (asked for on its release) and Shift+F10.
bool IsMenuKey(UINT message, WPARAM key)
{
    return ((message == WM_KEYDOWN || message == WM_KEYUP) && key == VK_APPS) ||
           (message == WM_SYSKEYDOWN && key == VK_F10 && GetKeyState(VK_SHIFT) < 0);
}

} // namespace

void ProxyListView::SetUp(Window& window, std::initializer_list<Column> columns, int countryItem,
                          const int (&checkWidths)[6], Commands commands)
{
    commands_ = std::move(commands);
    countryItem_ = countryItem;
    SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP); // columns can be moved
    SetWindowSubclass(hwnd_, &ControlProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    for (const Column& column : columns)
        AddColumn(column.caption, column.width);
    listColumns_ = static_cast<int>(columns.size());
    const char* const checkCaptions[] = {"Web (ms)", "HTTPS", "Anonymity", "Exit", "Type"};
    for (int i = 0; i < 5; ++i)
        AddColumn(checkCaptions[i], checkWidths[i]);
    AddColumn("Speed (kB/s)", checkWidths[5]);
    hint_.Attach(window.Handle(), hwnd_, kHint);

    const std::pair<const char*, Window::Handler*> items[] = {
        {"Delete", &commands_.Delete1},
        {"Use This Proxy", &commands_.SelectProxy1},
        {"Stop Hide My IP", &commands_.StopHideMyIP1},
        {"Copy to Clipboard", &commands_.CopytoClipboard1},
        {"Copy Working Proxies", &commands_.CopyWorkingProxies1},
    };
    for (const auto& [caption, handler] : items) {
        const UINT command = nextMenuCommand++;
        PopupMenu1.Add(command, caption);
        window.OnMenuCommand(command, [handler = handler] { (*handler)(); });
        copyWorkingCommand_ = command; // the last
    }
    copyDetailsCommand_ = nextMenuCommand++;
    PopupMenu1.Add(copyDetailsCommand_, "Copy Working Proxies with Details");
    window.OnMenuCommand(copyDetailsCommand_, [this, &window] { CopyWorkingProxyDetails(window.Handle()); });
    const UINT speedCommand = nextMenuCommand++;
    PopupMenu1.Add(speedCommand, "Test Speed");
    window.OnMenuCommand(speedCommand, [this] { TestSpeeds(); });
    PopupMenu1.Enable(copyWorkingCommand_, false);
    PopupMenu1.Enable(copyDetailsCommand_, false);
    const HWND owner = window.Handle();
    const auto popup = [this, owner](LPARAM position) { PopupMenu1.PopupFor(owner, hwnd_, position); };
    window.OnContextMenu(hwnd_, popup);
    window.OnContextMenu(Header(), popup);
    window.OnNotify(hwnd_, [this](const NMHDR& header) { return HandleNotify(header); });
}

LRESULT CALLBACK ProxyListView::ControlProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR, DWORD_PTR self)
{
    auto& list = *reinterpret_cast<ProxyListView*>(self);
    if (message == WM_TIMER && wParam == kShowTimer) {
        list.ShowGathered();
        return 0;
    }
    if (IsUserInput(message))
        list.ShowNow();
    if (IsMenuKey(message, wParam)) {
        // The list view does not ask for its context menu from the keyboard itself.
        if (message != WM_KEYDOWN)
            SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), -1);
        return 0;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, &ControlProcedure, kSubclassId);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void ProxyListView::Clear()
{
    rows_.Clear();
    if (workingRows_ > 0) {
        PopupMenu1.Enable(copyWorkingCommand_, false);
        PopupMenu1.Enable(copyDetailsCommand_, false);
    }
    workingRows_ = 0;
    Changed();
}

void ProxyListView::CountWorking(const ListRow& row, int change)
{
    if (!IsWorking(row))
        return;
    workingRows_ += change;
    if (workingRows_ == (change > 0 ? 1u : 0u)) {
        PopupMenu1.Enable(copyWorkingCommand_, workingRows_ > 0);
        PopupMenu1.Enable(copyDetailsCommand_, workingRows_ > 0);
    }
}

void ProxyListView::Insert(std::size_t position, const std::string& caption)
{
    rows_.Insert(position).Caption = caption;
    Changed();
}

void ProxyListView::AssignSubItemText(std::size_t position, const std::string& text)
{
    ::AssignSubItemText(rows_.Edit(position), text);
    Changed();
}

void ProxyListView::AppendSubItem(std::size_t position, const std::string& text)
{
    rows_.Edit(position).SubItems.push_back(text);
    Changed();
}

void ProxyListView::Delete(std::size_t position)
{
    CountWorking(rows_.At(position), -1);
    rows_.Delete(position);
    Changed();
}

void ProxyListView::DeleteSelected()
{
    if (const auto selected = rows_.Selected())
        Delete(*selected);
}

void ProxyListView::CopySelectedCaption(HWND owner) const
{
    if (const auto selected = rows_.Selected())
        CopyTextToClipboard(owner, rows_.At(*selected).Caption);
}

namespace {

// Puts `lines` on the clipboard, one a line; nothing when there are none.
void CopyLines(HWND owner, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\r\n") + line;
    if (!text.empty())
        CopyTextToClipboard(owner, text);
}

} // namespace

void ProxyListView::CopyWorkingProxies(HWND owner) const
{
    CopyLines(owner, WorkingProxies(rows_));
}

void ProxyListView::CopyWorkingProxyDetails(HWND owner) const
{
    CopyLines(owner, WorkingProxyDetails(rows_));
}

std::uint64_t ProxyListView::InsertInOrder(ListRow row, int data)
{
    const std::uint64_t id = rows_.InsertInOrder(std::move(row), data);
    Changed();
    return id;
}

void ProxyListView::SetSubItem(std::uint64_t id, std::size_t index, const std::string& text, int data)
{
    if (rows_.SetSubItem(id, index, text, data))
        Changed();
}

void ProxyListView::SetVerdict(std::uint64_t id, const ProxyVerdict& verdict)
{
    const ListRow* row = rows_.Find(id);
    if (!row)
        return;
    CountWorking(*row, -1);
    rows_.SetVerdict(id, verdict);
    CountWorking(*row, +1);
    Changed();
}

void ProxyListView::SortByColumn(int column)
{
    if (column == listColumns_ + kSpeedColumn)
        Sort(kSpeedColumnData);
    else
        Sort(column < listColumns_ ? column : kCheckColumnData + static_cast<int>(CheckCellOf(column - listColumns_)));
}

void ProxyListView::TestSpeeds()
{
    std::vector<SpeedTests::Test> tests;
    const auto add = [&](std::size_t position) {
        const ListRow& row = rows_.At(position);
        const std::uint64_t id = rows_.IdAt(position);
        const auto kind = KindOf(row);
        rows_.SetSpeed(id, kind ? "testing" : kNoPing);
        if (kind)
            tests.push_back({id, RowProxy(row), *kind});
    };
    if (const auto selected = rows_.Selected())
        add(*selected);
    else
        for (const std::size_t position : WorkingRowsBestFirst(rows_))
            add(position);
    Changed();
    speedTally_ = {0, tests.size(), 0, 0};
    const auto tell = [this] {
        if (commands_.statusBar)
            commands_.statusBar->SetText(SpeedText(speedTally_, UsersNumberStyle()));
    };
    speeds_.Start(std::move(tests), ServiceHost(), CheckUserAgent(), [this, tell](std::uint64_t id, std::optional<unsigned> kBps) {
        ++speedTally_.tested;
        if (kBps) {
            ++speedTally_.measured;
            speedTally_.fastestKBps = std::max(speedTally_.fastestKBps, *kBps);
        }
        rows_.SetSpeed(id, kBps ? std::to_string(*kBps) : "fails");
        Changed();
        tell();
    });
    tell();
}

void ProxyListView::Sort(int data)
{
    if (!hwnd_) // the window does not exist yet
        return;
    rows_.Sort(data);
    Changed();
}

void ProxyListView::Changed()
{
    if (!hwnd_)
        return;
    // Rows that are gone must not be drawn as blanks, and the selected row must not point past
    // the rows the control knows: a shrinking count is told at once, and so is the selection.
    if (rows_.Count() < shownCount_ || (rows_.Selected() && *rows_.Selected() >= shownCount_))
        ShowCount();
    ShowSelection();
    redrawDue_ = true;
    if (!gathering_) {
        gathering_ = SetTimer(hwnd_, kShowTimer, GatherMs(rows_.Count()), nullptr) != 0;
        if (!gathering_) // no timer to be had: show it now
            ShowGathered();
    }
}

void ProxyListView::ShowGathered()
{
    if (gathering_) {
        KillTimer(hwnd_, kShowTimer);
        gathering_ = false;
    }
    ShowCount();
    if (redrawDue_) // drawn from the rows as they are when it paints
        InvalidateRect(hwnd_, nullptr, FALSE);
    redrawDue_ = false;
}

void ProxyListView::ShowNow()
{
    ShowGathered();
    UpdateWindow(hwnd_);
}

void ProxyListView::ShowCount()
{
    if (shownCount_ == rows_.Count())
        return;
    showing_ = true;
    SetItemCount(rows_.Count());
    showing_ = false;
    shownCount_ = rows_.Count();
    ShowSelection();
}

void ProxyListView::ShowSelection()
{
    // The control keeps its selection at an index; it is moved only when the row has moved.
    const int selected = rows_.Selected() ? static_cast<int>(*rows_.Selected()) : -1;
    if (selected == shownSelection_)
        return;
    showing_ = true;
    if (shownSelection_ >= 0 && static_cast<std::size_t>(shownSelection_) < shownCount_)
        SetItemSelected(shownSelection_, false);
    if (selected >= 0)
        SetItemSelected(selected, true);
    shownSelection_ = selected;
    showing_ = false;
}

std::string ProxyListView::CellText(std::size_t position, int column) const
{
    if (position >= rows_.Count() || column < 0)
        return {};
    const ListRow& row = rows_.At(position);
    if (column == 0)
        return row.Caption;
    if (column == listColumns_ + kSpeedColumn)
        return row.Speed;
    if (column >= listColumns_) {
        const std::size_t check = CheckCellOf(column - listColumns_);
        if (check == kExitAddressCell)
            return ExitText(row);
        return check < row.Checks.size() ? row.Checks[check] : std::string();
    }
    if (column - 1 == countryItem_)
        return ShownCountry(row, countryItem_);
    const auto index = static_cast<std::size_t>(column) - 1;
    return index < row.SubItems.size() ? row.SubItems[index] : std::string();
}

// The control asks for the text of a cell it draws, in the ANSI or the wide form.
void ProxyListView::AnswerText(LVITEMA& item) const
{
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
        lstrcpynA(item.pszText, CellText(static_cast<std::size_t>(item.iItem), item.iSubItem).c_str(),
                  item.cchTextMax);
}

void ProxyListView::AnswerText(LVITEMW& item) const
{
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    const std::string text = CellText(static_cast<std::size_t>(item.iItem), item.iSubItem);
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, item.pszText, item.cchTextMax) == 0)
        item.pszText[item.cchTextMax - 1] = L'\0';
}

LRESULT ProxyListView::HandleNotify(const NMHDR& header)
{
    switch (header.code) {
    case LVN_GETDISPINFOA:
        AnswerText(reinterpret_cast<NMLVDISPINFOA&>(const_cast<NMHDR&>(header)).item);
        break;
    case LVN_GETDISPINFOW:
        AnswerText(reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)).item);
        break;
    case LVN_ODFINDITEMA:
    case LVN_ODFINDITEMW:
        return -1; // no type-ahead search
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
        if (!showing_) {
            shownSelection_ = SelectedItem();
            rows_.Select(shownSelection_ >= 0 ? std::optional<std::size_t>(shownSelection_) : std::nullopt);
        }
        break;
    case LVN_COLUMNCLICK:
        commands_.ColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        break;
    case NM_DBLCLK:
        commands_.DblClick();
        break;
    case NM_CUSTOMDRAW:
        return DrawRow(reinterpret_cast<NMLVCUSTOMDRAW&>(const_cast<NMHDR&>(header)));
    }
    return 0;
}

// A row whose proxy failed both the page and the tunnel is grey; a transparent one red.
LRESULT ProxyListView::DrawRow(NMLVCUSTOMDRAW& draw) const
{
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT || draw.nmcd.dwItemSpec >= rows_.Count())
        return CDRF_DODEFAULT;
    const std::vector<std::string>& checks = rows_.At(draw.nmcd.dwItemSpec).Checks;
    if (checks.size() >= 3 && checks[0] == "fails" && checks[1] == "no")
        draw.clrText = GetSysColor(COLOR_GRAYTEXT);
    else if (checks.size() >= 3 && checks[2] == "transparent")
        draw.clrText = RGB(192, 0, 0);
    return CDRF_DODEFAULT;
}
