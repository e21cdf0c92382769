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

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd_, message, wParam, lParam);
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
