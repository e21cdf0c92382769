#include "win/Application.h"

#include <commctrl.h>

TApplication Application;

void TApplication::Initialize()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
}

void TApplication::Run(HWND mainWindow, int showCommand)
{
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchOne(message);
    terminated_ = true;
}

bool TApplication::DispatchOne(const MSG& message)
{
    if (message.message == WM_QUIT)
        return false;
    const HWND active = GetActiveWindow();
    if (active && IsDialogMessageA(active, const_cast<MSG*>(&message)))
        return true;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

void TApplication::Terminate()
{
    terminated_ = true;
    PostQuitMessage(0);
}
