#pragma once
// The progress a window shows on its taskbar button (Windows 7 and later, through the platform's
// taskbar list). Where the platform has no such interface nothing is shown and nothing is said.
// UI thread only.

#include <windows.h>

#include <cstddef>

struct ITaskbarList3;

class TaskbarProgress {
public:
    TaskbarProgress() = default;
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;
    ~TaskbarProgress();

    void Show(HWND window, std::size_t done, std::size_t total);
    // Back to a plain button.
    void Clear(HWND window);

private:
    bool Ready();

    bool tried_ = false;
    bool comStarted_ = false;
    ITaskbarList3* list_ = nullptr;
};
