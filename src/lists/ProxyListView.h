#pragma once
// A report list view that shows a list of rows (the control asks for the texts it draws, so a
// repaint shows the rows as they are), with whole-row single selection that follows its row
// through inserts, deletes and sorts. Every change goes through this class and is drawn at once.
// Only a growing row count waits up to 50 ms before the control is told it, since telling it
// costs milliseconds (it redraws its scroll bar) and completions arrive by the thousand. Before
// the control handles the user's input it is told everything and has drawn it, so a click acts
// on the rows the user sees. UI thread only.

#include "core/ListRows.h"
#include "win/Controls.h"

#include <optional>
#include <string>

class ProxyListView : public ListView {
public:
    // What a notification from the control means to the window that holds the list.
    struct Event {
        enum Kind { None, ColumnClick, DoubleClick } kind = None;
        int column = -1;
    };

    // The window style the list view is created with.
    static constexpr DWORD kStyle = LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
    // Grid lines and whole-row selection, and the hand-over of changes; once after creation.
    void SetUp();

    std::size_t Count() const { return rows_.Count(); }
    const ListRow& Row(std::size_t position) const { return rows_.At(position); }

    void Clear();
    // Inserts a row with `caption` and no sub-items at `position`.
    void Insert(std::size_t position, const std::string& caption);
    void AssignSubItemText(std::size_t position, const std::string& text);
    void AppendSubItem(std::size_t position, const std::string& text);
    void Delete(std::size_t position);
    // Ascending by CompareListItems with `data` (a column index).
    void Sort(int data);

    // The item commands: without a selected row they do nothing. Copying raises
    // std::runtime_error "Cannot open clipboard" when another window holds the clipboard.
    void DeleteSelected();
    void CopySelectedCaption(HWND owner) const;

    std::optional<std::size_t> SelectedPosition() const { return rows_.Selected(); }

    // Handles a notification from the control: answers its questions for texts and notes
    // selection changes, and tells the window of column clicks and double clicks.
    Event HandleNotify(const NMHDR& header, LRESULT& result);

private:
    // After every change: the control shows the selection and redraws; the count may wait.
    void Changed();
    // Before the user's input: the control is told the count and has drawn every change.
    void ShowNow();
    void ShowCount();
    void ShowSelection();
    static LRESULT CALLBACK ControlProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    std::string CellText(std::size_t position, int column) const;

    ListRows rows_;
    // What the control was last told or reported: its row count and selected index.
    std::size_t shownCount_ = 0;
    int shownSelection_ = -1;
    bool showing_ = false; // selection changes made by this class are not the user's
    bool countDue_ = false;
    bool repaintDue_ = false; // invalidated since the control last painted
};
