#include "win/StatusBar.h"

namespace {

constexpr int kProgressRange = 1000;

} // namespace

void StatusBar::Create(HWND parent, HFONT font)
{
    hwnd_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_TOOLTIPS, 0, 0, 0, 0, parent,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
    Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Send(WM_SIZE); // takes its height
    progress_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 0, 0, hwnd_, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SendMessageA(progress_, PBM_SETRANGE32, 0, kProgressRange);
}

void StatusBar::Layout(int progressWidth)
{
    progressWidth_ = progressWidth;
    Send(WM_SIZE);
    SetParts(IsWindowVisible(progress_) != FALSE);
}

void StatusBar::SetParts(bool withProgress)
{
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int parts[] = {withProgress ? client.right - progressWidth_ : -1, -1};
    Send(SB_SETPARTS, withProgress ? 2 : 1, reinterpret_cast<LPARAM>(parts));
    if (!withProgress)
        return;
    RECT part{};
    Send(SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    InflateRect(&part, -2, -2);
    MoveWindow(progress_, part.left, part.top, part.right - part.left, part.bottom - part.top, FALSE);
}

void StatusBar::SetText(const std::string& text)
{
    text_ = text;
    Show();
}

void StatusBar::SetNotice(const std::string& notice)
{
    notice_ = notice;
    Show();
}

void StatusBar::Show()
{
    const std::string shown = notice_.empty() || text_.empty() ? notice_ + text_ : notice_ + "  |  " + text_;
    Send(SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    Send(SB_SETTIPTEXTA, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

int StatusBar::Height() const
{
    RECT bounds{};
    GetWindowRect(hwnd_, &bounds);
    return bounds.bottom - bounds.top;
}

std::string StatusBar::Text() const
{
    const auto length = LOWORD(Send(SB_GETTEXTLENGTHA, 0));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    Send(SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

void StatusBar::ShowProgress(std::size_t done, std::size_t total)
{
    const auto position = total == 0 ? 0 : static_cast<WPARAM>(static_cast<double>(done) / total * kProgressRange);
    SendMessageA(progress_, PBM_SETPOS, position, 0);
    if (GetWindowLongPtrA(progress_, GWL_STYLE) & WS_VISIBLE)
        return;
    SetParts(true);
    ShowWindow(progress_, SW_SHOWNA);
}

void StatusBar::HideProgress()
{
    ShowWindow(progress_, SW_HIDE);
    SetParts(false);
}
