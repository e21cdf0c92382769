#pragma once
// A timer of the UI thread that needs no window: once started, it runs its handler every
// interval (inside the error box's boundary) until it is stopped or goes. Its message comes after
// the thread's other messages, paint and input among them. UI thread only.

#include <windows.h>

#include <functional>

class ThreadTimer {
public:
    ThreadTimer() = default;
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;
    ~ThreadTimer() { Stop(); }

    // (Re)starts it with `intervalMs`; `onTick` runs on every tick until it is stopped.
    void Start(UINT intervalMs, std::function<void()> onTick);
    void Stop();
    bool Running() const { return id_ != 0; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);

    UINT_PTR id_ = 0;
    std::function<void()> onTick_;
};
