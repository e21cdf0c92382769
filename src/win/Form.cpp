#include "win/Form.h"

#include "win/Application.h"

#include <commctrl.h>

#include <algorithm>

namespace {

RECT WorkArea()
{
    RECT workArea{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    return workArea;
}

// A window `width` by `height` in the middle of the desktop's work area.
RECT CentredOnDesktop(LONG width, LONG height)
{
    const RECT workArea = WorkArea();
    const LONG left = workArea.left + (workArea.right - workArea.left - width) / 2;
    const LONG top = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    return {left, top, left + width, top + height};
}

int ScreenDpi()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// "MS Sans Serif", 8 point: 11 pixels high at 96 dpi.
HGDIOBJ CreateProgramFont(int dpi, int weight)
{
    return CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

constexpr UINT_PTR kDialogKeysSubclass = 0x5A4B;

// A multi-line box wants every key, so that keyboard navigation would never leave it and Esc
// would close its window. It keeps Enter and the other keys, but Tab, Shift+Tab and Esc go to the
// window's navigation as they do from every other control.
LRESULT CALLBACK LeaveDialogKeys(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR)
{
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, &LeaveDialogKeys, kDialogKeysSubclass);
    LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
    const MSG* key = reinterpret_cast<const MSG*>(lParam);
    if (message == WM_GETDLGCODE && key && (key->message == WM_KEYDOWN || key->message == WM_CHAR) &&
        (key->wParam == VK_TAB || key->wParam == VK_ESCAPE))
        result &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
    return result;
}

} // namespace

void Form::FocusFirstControl() const
{
    if (const HWND first = GetNextDlgTabItem(Handle(), nullptr, FALSE))
        SetFocus(first);
}

void Form::Activated(bool active)
{
    const HWND focus = GetFocus();
    if (!active) {
        if (focus && IsChild(Handle(), focus))
            lastFocus_ = focus;
    } else if (lastFocus_ && IsWindow(lastFocus_) && IsChild(Handle(), lastFocus_)) {
        SetFocus(lastFocus_);
    } else {
        FocusFirstControl();
    }
}

void Form::CreateForm(const Frame& frame, HWND owner)
{
    dpi_ = ScreenDpi();
    font_.reset(CreateProgramFont(dpi_, FW_NORMAL));
    boldFont_.reset(CreateProgramFont(dpi_, FW_BOLD));

    RECT bounds{0, 0, Scale(frame.clientWidth), Scale(frame.clientHeight)};
    AdjustWindowRectEx(&bounds, frame.style, FALSE, WS_EX_CONTROLPARENT);
    CreateBound(frame.className, frame.caption.c_str(), frame.style, WS_EX_CONTROLPARENT,
                CentredOnDesktop(bounds.right - bounds.left, bounds.bottom - bounds.top), owner);
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    OnActivate([this](bool active) { Activated(active); });
}

void Form::CreateControls(std::initializer_list<ControlEntry> table, int left, int top)
{
    // Distinct ids, for the platform's notifications; the map goes by handle.
    int controlId = 100;
    for (const ControlEntry& entry : table) {
        entry.control.Attach(AddControl(entry, left, top, controlId++));
        entry.control.SetText(entry.text);
        if (entry.onClick)
            OnClick(entry.control.Handle(), entry.onClick);
    }
}

HWND Form::AddControl(const ControlEntry& entry, int left, int top, int controlId)
{
    const HWND control = CreateWindowExA(
        entry.exStyle, entry.windowClass, "", WS_CHILD | entry.style, Scale(left + entry.left),
        Scale(top + entry.top), Scale(entry.width), Scale(entry.height), Handle(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(entry.bold ? boldFont_.get() : font_.get()), FALSE);
    if (lstrcmpiA(entry.windowClass, WC_EDITA) == 0 && (entry.style & ES_MULTILINE))
        SetWindowSubclass(control, &LeaveDialogKeys, kDialogKeysSubclass, 0);
    return control;
}

void Form::MakeResizable(std::initializer_list<std::pair<Control*, unsigned>> follows)
{
    const HWND window = Handle();
    SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | WS_THICKFRAME | WS_MAXIMIZEBOX);
    // The frame grows by the sizing border: the client area keeps its size.
    RECT client{};
    GetClientRect(window, &client);
    RECT outer = client;
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    GetClientRect(window, &client);
    leastClient_ = {client.right, client.bottom};
    RECT bounds{};
    GetWindowRect(window, &bounds);
    leastWindow_ = {bounds.right - bounds.left, bounds.bottom - bounds.top};
    SetLeastSize(leastWindow_);
    following_.clear();
    for (const auto& [control, follow] : follows) {
        RECT place{};
        GetWindowRect(control->Handle(), &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        following_.push_back({control->Handle(), follow, place});
    }
    OnSize([this] { Resized(); });
}

void Form::Resized()
{
    RECT client{};
    GetClientRect(Handle(), &client);
    const int dx = std::max(0L, client.right - leastClient_.cx);
    const int dy = std::max(0L, client.bottom - leastClient_.cy);
    for (const Following& control : following_) {
        RECT place = control.bounds;
        if (control.follow & kFollowRight)
            OffsetRect(&place, dx, 0);
        if (control.follow & kFollowBottom)
            OffsetRect(&place, 0, dy);
        if (control.follow & kGrowWidth)
            place.right += dx;
        if (control.follow & kGrowHeight)
            place.bottom += dy;
        SetWindowPos(control.control, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (statusBar_)
        statusBar_->Layout(Scale(160));
    InvalidateRect(Handle(), nullptr, TRUE);
}

Form::Placement Form::CurrentPlacement() const
{
    WINDOWPLACEMENT placement{sizeof placement};
    GetWindowPlacement(Handle(), &placement);
    const RECT& normal = placement.rcNormalPosition;
    return {{normal.right - normal.left, normal.bottom - normal.top}, placement.showCmd == SW_SHOWMAXIMIZED};
}

void Form::Place(const Placement& placement)
{
    const RECT workArea = WorkArea();
    // No smaller than the least, no larger than the desktop.
    const LONG leastWidth = leastWindow_.cx, leastHeight = leastWindow_.cy;
    const LONG width = std::clamp(placement.size.cx, leastWidth, std::max(leastWidth, workArea.right - workArea.left));
    const LONG height = std::clamp(placement.size.cy, leastHeight, std::max(leastHeight, workArea.bottom - workArea.top));
    const RECT bounds = CentredOnDesktop(width, height);
    SetWindowPos(Handle(), nullptr, bounds.left, bounds.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    maximizeAtShow_ = placement.maximized;
}

void Form::CreateStatusBar(StatusBar& bar)
{
    statusBar_ = &bar;
    bar.Create(Handle(), static_cast<HFONT>(font_.get()));
    RECT bounds{};
    GetWindowRect(Handle(), &bounds);
    SetWindowPos(Handle(), nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top + bar.Height(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    bar.Layout(Scale(160));
}

void Form::Hide()
{
    if (showingModal_)
        if (const HWND owner = GetWindow(Handle(), GW_OWNER))
            EnableWindow(owner, TRUE);
    ShowWindow(Handle(), SW_HIDE);
}

void Form::ShowModal()
{
    const HWND owner = GetWindow(Handle(), GW_OWNER);
    const HWND ownerFocus = GetFocus(); // lost when the owner is disabled
    if (owner)
        EnableWindow(owner, FALSE);
    showingModal_ = true;
    ShowWindow(Handle(), TakeShowCommand());
    SetActiveWindow(Handle());
    FocusFirstControl();

    MSG message;
    while (Visible()) {
        const BOOL received = GetMessageA(&message, nullptr, 0, 0);
        if (received <= 0) {
            if (received == 0) // the quit request belongs to the outermost loop
                PostQuitMessage(static_cast<int>(message.wParam));
            Hide();
            break;
        }
        TApplication::DispatchOne(message);
    }
    showingModal_ = false;
    if (owner) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
        if (ownerFocus && IsWindow(ownerFocus) && IsChild(owner, ownerFocus))
            SetFocus(ownerFocus);
    }
}
