#pragma once
// The application object: its title, its message loop and the termination request.
// UI thread only.

#include <windows.h>

#include <atomic>
#include <string>

class TApplication {
public:
    // Registers the common controls the windows use.
    void Initialize();

    // The text of the taskbar button's window and the title of every message box.
    void SetTitle(std::string title) { title_ = std::move(title); }
    const std::string& Title() const { return title_; }

    // Shows `mainWindow` and dispatches messages until the quit request arrives; the
    // application is terminating from then on.
    void Run(HWND mainWindow, int showCommand = SW_SHOW);

    // Dispatches one message; false when it was the quit request, which is left for the
    // outermost loop. Keyboard navigation (Tab, Alt+mnemonic) goes to the active window.
    static bool DispatchOne(const MSG& message);

    // Asks the message loop to end and marks the application as terminating.
    void Terminate();
    // Marks the application as terminating without a quit request (the session is ending).
    void MarkTerminating() { terminated_ = true; }
    // True once termination has begun: late completions do nothing from then on. Any thread.
    bool Terminated() const { return terminated_; }
    // Starts a new run in the same process (used by tests that create windows repeatedly).
    void ResetTermination() { terminated_ = false; }

private:
    std::string title_;
    std::atomic<bool> terminated_{false};
};

extern TApplication Application;
