#include "win/Window.h"

#include "win/ErrorBox.h"

#include <stdexcept>
#include <string>

namespace {

// The icon of the executable's resources (absent in test programs, where the default is used).
constexpr int kApplicationIconId = 1;

void RegisterClassOnce(const char* className, WNDPROC procedure)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA existing{sizeof existing};
    if (GetClassInfoExA(instance, className, &existing))
        return;

    WNDCLASSEXA windowClass{sizeof windowClass};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kApplicationIconId));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!windowClass.hIcon)
        windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&windowClass);
}

} // namespace

Window::~Window()
{
    Destroy();
}

void Window::Destroy()
{
    if (hwnd_)
        DestroyWindow(hwnd_);
}

void Window::CreateBound(const char* className, const char* caption, DWORD style, DWORD exStyle,
                         const RECT& bounds, HWND owner)
{
    RegisterClassOnce(className, &WindowProcedure);
    if (!CreateWindowExA(exStyle, className, caption, style, bounds.left, bounds.top,
                         bounds.right - bounds.left, bounds.bottom - bounds.top, owner, nullptr,
                         GetModuleHandleA(nullptr), this))
        throw std::runtime_error("Cannot create window " + std::string(className));
}

void Window::SetColors(HWND control, COLORREF text, COLORREF background)
{
    colors_[control] = Colors{text, background, UniqueGdiObject(CreateSolidBrush(background))};
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((message == WM_SIZE || message == WM_GETMINMAXINFO) && HandleSizing(message, wParam, lParam))
        return 0;
    switch (message) {
    case WM_COMMAND:
        HandleCommand(wParam, lParam);
        return 0;
    case WM_NOTIFY: {
        const auto& notification = *reinterpret_cast<const NMHDR*>(lParam);
        const auto handler = notifications_.find(notification.hwndFrom);
        return handler != notifications_.end() ? handler->second(notification) : 0;
    }
    case WM_CONTEXTMENU:
        if (const auto handler = contextMenus_.find(reinterpret_cast<HWND>(wParam));
            handler != contextMenus_.end()) {
            handler->second(lParam);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        if (colors_.count(reinterpret_cast<HWND>(lParam)))
            return HandleColors(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        break;
    case WM_CLOSE:
        if (!close_)
            break;
        close_();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam && endSession_)
            endSession_();
        return 0;
    case WM_ACTIVATE:
        if (!activate_ || HIWORD(wParam)) // minimised: nothing to focus
            break;
        activate_(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

bool Window::HandleSizing(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE) {
        if (size_ && wParam != SIZE_MINIMIZED)
            size_();
        return true;
    }
    if (leastSize_.cx <= 0)
        return false;
    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {leastSize_.cx, leastSize_.cy};
    return true;
}

void Window::HandleCommand(WPARAM wParam, LPARAM lParam)
{
    if (lParam) { // from a control
        const auto handler = clicks_.find(reinterpret_cast<HWND>(lParam));
        if (HIWORD(wParam) == BN_CLICKED && handler != clicks_.end())
            handler->second();
        return;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        if (cancel_)
            cancel_();
        return;
    }
    if (const auto handler = menuCommands_.find(LOWORD(wParam)); handler != menuCommands_.end())
        handler->second();
}

LRESULT Window::HandleColors(HDC dc, HWND control)
{
    const Colors& colors = colors_.at(control);
    SetTextColor(dc, colors.text);
    SetBkColor(dc, colors.background);
    return reinterpret_cast<LRESULT>(colors.brush.get());
}

LRESULT CALLBACK Window::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    RunHandler([&] { result = self->HandleMessage(message, wParam, lParam); });
    return result;
}
