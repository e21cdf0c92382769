#pragma once
// The tests' message loop: this thread is the UI thread, and what the program's windows and
// workers hand it arrives only while it handles messages.

#include "win/Application.h"

#include <windows.h>

// Handles this thread's messages, as the program's message loop does, until `done` holds or
// `patienceMs` have passed. Returns whether `done` holds.
template <typename Condition>
bool PumpMessagesUntil(Condition done, DWORD patienceMs = 20000)
{
    const ULONGLONG deadline = GetTickCount64() + patienceMs;
    MSG message;
    for (;;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            TApplication::DispatchOne(message);
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}
