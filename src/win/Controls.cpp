#include "win/Controls.h"


std::string Control::Text() const
{
    const int length = GetWindowTextLengthA(hwnd_);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(hwnd_, text.data(), length + 1)));
    return text;
}

RECT Control::Bounds() const
{
    RECT bounds{};
    GetWindowRect(hwnd_, &bounds);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd_), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void Label::SetText(const std::string& text)
{
    Control::SetText(text);
    const HDC dc = GetDC(hwnd_);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(Send(WM_GETFONT)));
    RECT extent{0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(hwnd_, dc);
    SetWindowPos(hwnd_, nullptr, 0, 0, extent.right, extent.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string ComboBox::ItemText(int index) const
{
    const LRESULT length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied =
        Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

void ListView::AddColumn(const std::string& caption, int width) const
{
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = width;
    column.pszText = const_cast<char*>(caption.c_str());
    column.iSubItem = ColumnCount();
    Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column.iSubItem),
         reinterpret_cast<LPARAM>(&column));
}

std::vector<int> ListView::ColumnOrder() const
{
    std::vector<int> order(static_cast<std::size_t>(ColumnCount()));
    if (!order.empty())
        Send(LVM_GETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
    return order;
}

void ListView::SetColumnOrder(const std::vector<int>& order) const
{
    Send(LVM_SETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
}

std::string ListView::ColumnCaption(int column) const
{
    char caption[256] = {};
    LVCOLUMNA query{};
    query.mask = LVCF_TEXT;
    query.pszText = caption;
    query.cchTextMax = sizeof caption;
    Send(LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&query));
    return caption;
}

void ListView::SetItemSelected(int item, bool selected) const
{
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
}

RECT ListView::ItemBounds(int item) const
{
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (!Send(LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&bounds)))
        return RECT{};
    return bounds;
}

std::string ListView::ItemText(int item, int column) const
{
    char text[512] = {};
    LVITEMA query{};
    query.iSubItem = column;
    query.pszText = text;
    query.cchTextMax = sizeof text;
    Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&query));
    return text;
}

void HintTip::Attach(HWND owner, HWND control, const std::string& text)
{
    text_ = text;
    hwnd_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text_.data();
    SendMessageA(hwnd_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void PopupMenu::Add(UINT commandId, const std::string& caption)
{
    AppendMenuA(menu_.get(), MF_STRING, commandId, caption.c_str());
}

std::string PopupMenu::ItemCaption(int position) const
{
    char caption[256] = {};
    GetMenuStringA(menu_.get(), static_cast<UINT>(position), caption, sizeof caption,
                   MF_BYPOSITION);
    return caption;
}

void PopupMenu::PopupFor(HWND owner, HWND control, LPARAM position) const
{
    POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (position == -1) {
        point = POINT{0, 0};
        ClientToScreen(control, &point);
    }
    Popup(owner, point);
}

void PopupMenu::Popup(HWND owner, POINT screenPoint) const
{
    // The owner must be in the foreground for the menu to close when the user clicks elsewhere.
    SetForegroundWindow(owner);
    TrackPopupMenu(menu_.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, screenPoint.x, screenPoint.y, 0,
                   owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
}
