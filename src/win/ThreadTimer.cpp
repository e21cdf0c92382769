#include "win/ThreadTimer.h"

#include "win/ErrorBox.h"

#include <map>

namespace {

// The running timers, by their id.
std::map<UINT_PTR, ThreadTimer*>& Timers()
{
    static std::map<UINT_PTR, ThreadTimer*> timers;
    return timers;
}

} // namespace

void ThreadTimer::Start(UINT intervalMs, std::function<void()> onTick)
{
    Stop();
    onTick_ = std::move(onTick);
    id_ = SetTimer(nullptr, 0, intervalMs, &Tick);
    if (id_)
        Timers()[id_] = this;
}

void ThreadTimer::Stop()
{
    if (!id_)
        return;
    KillTimer(nullptr, id_);
    Timers().erase(id_);
    id_ = 0;
}

void CALLBACK ThreadTimer::Tick(HWND, UINT, UINT_PTR id, DWORD)
{
    const auto timer = Timers().find(id);
    if (timer == Timers().end())
        return;
    const std::function<void()> onTick = timer->second->onTick_; // the handler may restart or stop it
    RunHandler(onTick);
}
