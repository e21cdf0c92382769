#pragma once
// A report list view that shows a list of rows (the control asks for the texts it draws, so a
// repaint shows the rows as they are), with whole-row single selection that follows its row
// through inserts, deletes and sorts. Every change goes through this class. The selection, and a
// shrinking row count, reach the control at once; a growing count and the redrawing of changed
// rows are gathered for up to 50 ms, since each costs the window system milliseconds (the count
// redraws the scroll bar) and completions arrive by the thousand. Before the control handles
// the user's input it is told everything and has drawn it, so a click acts on the rows the user
// sees. UI thread only.

#include "core/CommandStatus.h"
#include "core/ListRows.h"
#include "verify/SpeedTests.h"
#include "win/StatusBar.h"
#include "win/Controls.h"
#include "win/Window.h"

#include <initializer_list>
#include <optional>
#include <string>

class ProxyListView : public ListView {
public:
    // What the window that holds the list does for the list's events: the commands of its
    // context menu, a double click on a row, a click on a column header.
    struct Commands {
        Window::Handler Delete1;
        Window::Handler SelectProxy1;
        Window::Handler StopHideMyIP1;
        Window::Handler CopytoClipboard1;
        Window::Handler CopyWorkingProxies1;
        Window::Handler DblClick;
        std::function<void(int column)> ColumnClick;
        StatusBar* statusBar = nullptr; // where a speed test tells how far it has got
    };
    struct Column {
        const char* caption;
        int width; // pixels, already scaled
    };

    // The window style the list view is created with.
    static constexpr DWORD kStyle =
        WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
    // Once the control exists: grid lines, whole-row selection, the columns (the list's own, then
    // the check columns "Web (ms)", "HTTPS", "Anonymity", "Exit", "Type", `checkWidths` wide; the
    // sub-item `countryItem` (-1: none) shows where the user appears, see ShownCountry), the hint "Double
    // or Right click here to Hide Your IP", and the context menu PopupMenu1 ("Delete", "Use This
    // Proxy", "Stop Hide My IP", "Copy to Clipboard"), which opens on the list, on its column
    // header and from the keyboard; its events reach `window` as `commands`; after them "Copy
    // Working Proxies" and "Copy Working Proxies with Details", greyed while no row's proxy has
    // passed its web check, and "Test Speed" (TestSpeeds). Rows whose proxy failed both checks
    // are drawn grey, transparent ones red. The last of `columnWidths` is the "Speed (kB/s)"
    // column's, after the check columns.
    void SetUp(Window& window, std::initializer_list<Column> columns, int countryItem, const int (&checkWidths)[6],
               Commands commands);

    // The commands of a window whose handlers have the names both windows give them: Delete1Click,
    // SelectProxy1Click, StopHideMyIP1Click, CopytoClipboard1Click, CopyWorkingProxies1Click, and
    // the two it names here.
    template <typename TWindow>
    static Commands CommandsOf(TWindow& window, void (TWindow::*dblClick)(),
                               void (TWindow::*columnClick)(int))
    {
        return {[&window] { window.Delete1Click(); },
                [&window] { window.SelectProxy1Click(); },
                [&window] { window.StopHideMyIP1Click(); },
                [&window] { window.CopytoClipboard1Click(); },
                [&window] { window.CopyWorkingProxies1Click(); },
                [&window, dblClick] { (window.*dblClick)(); },
                [&window, columnClick](int column) { (window.*columnClick)(column); },
                &window.StatusBar1};
    }

    PopupMenu PopupMenu1;

    std::size_t Count() const { return rows_.Count(); }
    const ListRow& Row(std::size_t position) const { return rows_.At(position); }
    std::uint64_t IdAt(std::size_t position) const { return rows_.IdAt(position); }

    void Clear();
    // Inserts a row with `caption` and no sub-items at `position`.
    void Insert(std::size_t position, const std::string& caption);
    void AssignSubItemText(std::size_t position, const std::string& text);
    void AppendSubItem(std::size_t position, const std::string& text);
    void Delete(std::size_t position);
    // Ascending by CompareListItems with `data`.
    void Sort(int data);
    // Ascending by the header's column `column`.
    void SortByColumn(int column);
    // What inserting `row` at the top and then Sort(data) do, without walking the list. Returns
    // the row's identity.
    std::uint64_t InsertInOrder(ListRow row, int data);
    // Sets sub-item `index` of the row `id` and sorts by `data` as InsertInOrder does; nothing
    // where the row is gone.
    void SetSubItem(std::uint64_t id, std::size_t index, const std::string& text, int data);
    // The verdict of the row `id`, and the cells that show it, wherever it stands; nothing when
    // the row is gone.
    void SetVerdict(std::uint64_t id, const ProxyVerdict& verdict);

    // The item commands: without a selected row they do nothing. Copying raises
    // std::runtime_error "Cannot open clipboard" when another window holds the clipboard.
    void DeleteSelected();
    void CopySelectedCaption(HWND owner) const;
    // Puts the working proxies on the clipboard, best first (WorkingProxies), one per line with
    // CR LF between; nothing while there are none. Raises as CopySelectedCaption does.
    void CopyWorkingProxies(HWND owner) const;
    // The working rows' proxies with where they leave, one tab-separated line each
    // (WorkingProxyDetails), best first.
    void CopyWorkingProxyDetails(HWND owner) const;

    std::optional<std::size_t> SelectedPosition() const { return rows_.Selected(); }

    // "Test Speed": the speed of the selected row's proxy, or, with none selected, of every
    // working one, shown in the speed column and told in the status bar (SpeedTests). A row whose
    // proxy's kind is not known shows kNoPing.
    void TestSpeeds();
    // The speed tests' time limit; the previous one is returned. For tests.
    static unsigned LimitSpeedTestsTo(unsigned milliseconds) { return SpeedTests::LimitTestsTo(milliseconds); }

private:
    // Answers the control's questions for texts, notes selection changes and passes column
    // clicks and double clicks on.
    LRESULT HandleNotify(const NMHDR& header);
    void AnswerText(LVITEMA& item) const;
    void AnswerText(LVITEMW& item) const;
    LRESULT DrawRow(NMLVCUSTOMDRAW& draw) const;
    // After every change: the control shows the selection; the count and the redrawing may wait.
    void Changed();
    // The gathered changes: the control is told the count and redraws.
    void ShowGathered();
    // Before the user's input: the gathered changes are shown and drawn.
    void ShowNow();
    void ShowCount();
    void ShowSelection();
    static LRESULT CALLBACK ControlProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    std::string CellText(std::size_t position, int column) const;
    // The rows whose proxy works went from none to some, or back: the menu item follows.
    void CountWorking(const ListRow& row, int change);

    ListRows rows_;
    int listColumns_ = 0; // the list's own columns; the check columns follow
    Commands commands_;
    HintTip hint_;
    // What the control was last told or reported: its row count and selected index.
    std::size_t shownCount_ = 0;
    int shownSelection_ = -1;
    bool showing_ = false; // selection changes made by this class are not the user's
    bool gathering_ = false; // the show timer runs
    bool redrawDue_ = false;
    std::size_t workingRows_ = 0;
    UINT copyWorkingCommand_ = 0;
    UINT copyDetailsCommand_ = 0;
    int countryItem_ = -1;
    SpeedTests speeds_;
    SpeedTally speedTally_;
};
