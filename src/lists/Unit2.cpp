#include "lists/Unit2.h"

#include "app/Unit1.h"

void TForm2::Create(TForm1& mainWindow)
{
    CreateForm(Frame{"TForm2", "Zarnu Proxy Checker", 568, 417,
                     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN},
               mainWindow.Handle());
}

LRESULT TForm2::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        Hide();
        return 0;
    }
    return Form::HandleMessage(message, wParam, lParam);
}
