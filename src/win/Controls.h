#pragma once
// Thin wrappers of the standard controls. They do not own their HWND: the parent window
// destroys its controls. Each method forwards to one control message.

#include "win/UniqueHandle.h"

#include <commctrl.h>

#include <string>
#include <vector>

class Control {
public:
    virtual ~Control() = default;
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND Handle() const { return hwnd_; }

    std::string Text() const;
    virtual void SetText(const std::string& text) { SetWindowTextA(hwnd_, text.c_str()); }
    bool Visible() const { return IsWindowVisible(hwnd_) != FALSE; }
    DWORD Style() const { return static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)); }
    // Position and size in the client coordinates of the parent window.
    RECT Bounds() const;

protected:
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendMessageA(hwnd_, message, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
};

class Button : public Control {
public:
    void Click() const { Send(BM_CLICK); }
};

class Edit : public Control {
public:
    // Lifts the platform's default limit of about 32,000 characters.
    void RemoveTextLimit() const { Send(EM_SETLIMITTEXT, 0); }
    // False when the control cannot take the text (it is then unchanged).
    bool TrySetText(const std::string& text) const
    {
        return Send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
    }
};

// A static text that sizes itself to its text, as the layout's labels do.
class Label : public Control {
public:
    void SetText(const std::string& text) override;
};

class ComboBox : public Control {
public:
    int Add(const std::string& text) const
    {
        return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    int SelectedIndex() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    void Select(int index) const { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    void SetItemHeight(int height) const { Send(CB_SETITEMHEIGHT, 0, height); }
    std::string ItemText(int index) const;
};

class ListView : public Control {
public:
    void SetExtendedStyle(DWORD style) const { Send(LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }
    DWORD ExtendedStyle() const { return static_cast<DWORD>(Send(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
    void AddColumn(const std::string& caption, int width) const;
    int ColumnCount() const
    {
        return static_cast<int>(SendMessageA(Header(), HDM_GETITEMCOUNT, 0, 0));
    }
    int ColumnWidth(int column) const
    {
        return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
    }
    void SetColumnWidth(int column, int width) const
    {
        Send(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
    }
    // The columns in the order they are shown (the user may drag them around).
    std::vector<int> ColumnOrder() const;
    void SetColumnOrder(const std::vector<int>& order) const;
    std::string ColumnCaption(int column) const;
    HWND Header() const { return reinterpret_cast<HWND>(Send(LVM_GETHEADER)); }

    // Items, as the control knows them (an owner-data list is told only their number).
    int ItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    void SetItemCount(std::size_t count) const { Send(LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL); }
    // The first selected item, -1 for none.
    int SelectedItem() const
    {
        return static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    // Selects and focuses `item`, or takes selection and focus from it.
    void SetItemSelected(int item, bool selected) const;
    // The item's whole row in client coordinates; empty for an item the control does not have.
    RECT ItemBounds(int item) const;
    // The text the control shows in a cell (at most 511 characters).
    std::string ItemText(int item, int column) const;
};

// A tooltip that shows `text` while the pointer rests on one control.
class HintTip {
public:
    void Attach(HWND owner, HWND control, const std::string& text);
    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
    std::string text_;
};

// A context menu. It owns its menu handle.
class PopupMenu {
public:
    void Add(UINT commandId, const std::string& caption);
    int Count() const { return GetMenuItemCount(menu_.get()); }
    // Greys the item out, or makes it choosable again.
    void Enable(UINT commandId, bool enabled) const
    {
        EnableMenuItem(menu_.get(), commandId, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
    bool ItemEnabled(int position) const { return !(GetMenuState(menu_.get(), position, MF_BYPOSITION) & MF_GRAYED); }
    // Shows a check mark beside the item, or none.
    void Check(UINT commandId, bool checked) const
    {
        CheckMenuItem(menu_.get(), commandId, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
    bool Checked(UINT commandId) const { return (GetMenuState(menu_.get(), commandId, MF_BYCOMMAND) & MF_CHECKED) != 0; }
    std::string ItemCaption(int position) const;
    UINT ItemId(int position) const { return GetMenuItemID(menu_.get(), position); }
    // Shows the menu at `screenPoint`; the chosen command reaches `owner` as WM_COMMAND.
    void Popup(HWND owner, POINT screenPoint) const;
    // Shows the menu where a WM_CONTEXTMENU for `control` asks: at the pointer, or at the
    // control's top left corner when the keyboard asked (`position` -1).
    void PopupFor(HWND owner, HWND control, LPARAM position) const;

private:
    UniqueHMenu menu_{CreatePopupMenu()};
};
