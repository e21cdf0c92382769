// The program's entry point: the application object, the two windows and the message loop.

#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "lists/Unit2.h"
#include "probe/PingThrd.h"
#include "settings/SystemProxy.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const SingleInstance instance;
    if (!instance.First()) {
        SingleInstance::ShowRunning("TForm1");
        return 0;
    }
    Application.Initialize();
    Application.SetTitle("Zarnu");
    {
        TForm1 Form1;
        TForm2 Form2;
        const bool created = RunHandler([&] {
            Form1.Create();
            Form1.CreateChecker(Form2);
        });
        if (!created)
            return 1;
        // A run that was killed with its proxy on is mended before the user sees the window.
        RunHandler(RepairSystemProxy);
        Application.Run(Form1.Handle(), Form1.TakeShowCommand());
        // The windows are destroyed here, the checker first: it is owned by the main window.
    }
    StopAllWorkers();
    return 0;
}
