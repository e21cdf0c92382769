#include "win/Form.h"

#include "win/Application.h"

namespace {

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

} // namespace

void Form::CreateForm(const Frame& frame, HWND owner)
{
    dpi_ = ScreenDpi();
    font_.reset(CreateProgramFont(dpi_, FW_NORMAL));
    boldFont_.reset(CreateProgramFont(dpi_, FW_BOLD));

    RECT bounds{0, 0, Scale(frame.clientWidth), Scale(frame.clientHeight)};
    AdjustWindowRectEx(&bounds, frame.style, FALSE, WS_EX_CONTROLPARENT);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    RECT workArea{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    const int left = workArea.left + (workArea.right - workArea.left - width) / 2;
    const int top = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    CreateBound(frame.className, frame.caption.c_str(), frame.style, WS_EX_CONTROLPARENT,
                RECT{left, top, left + width, top + height}, owner);
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
}

HWND Form::AddControl(const char* windowClass, const std::string& text, DWORD style,
                      DWORD exStyle, int left, int top, int width, int height, int commandId,
                      bool bold)
{
    const HWND control = CreateWindowExA(
        exStyle, windowClass, text.c_str(), WS_CHILD | style, Scale(left), Scale(top),
        Scale(width), Scale(height), Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(commandId)),
        GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(bold ? boldFont_.get() : font_.get()), FALSE);
    return control;
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
    if (owner)
        EnableWindow(owner, FALSE);
    showingModal_ = true;
    ShowWindow(Handle(), SW_SHOW);
    SetActiveWindow(Handle());

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
    }
}
