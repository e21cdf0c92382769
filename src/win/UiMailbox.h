#pragma once
// Work handed to the UI thread from any thread: each piece runs there, in the order posted,
// through the UI thread's message handling (also inside modal loops, never in the middle of a
// handler that retrieves no messages), a few at a time so that paint and input come between.
// Nothing runs once the application has begun to terminate. Created and destroyed on the UI
// thread; whatever was posted and has not run when it goes is dropped. The posting threads must
// be done with it before it goes.

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

class UiMailbox {
public:
    UiMailbox();
    ~UiMailbox();
    UiMailbox(const UiMailbox&) = delete;
    UiMailbox& operator=(const UiMailbox&) = delete;

    // Any thread.
    void Post(std::function<void()> work);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void RunSome();

    HWND window_ = nullptr;
    std::mutex lock_;
    std::deque<std::function<void()>> posted_;
    bool notified_ = false; // a message is on its way
};
