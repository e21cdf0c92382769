#include "probe/WorkerRegistry.h"

#include "core/WorkerIds.h"
#include "probe/WorkerThread.h"

#include <mutex>

namespace {

// The registry, and the lock that whoever uses it holds: workers are registered by the launcher's
// thread, and forgotten on the UI thread.
struct Locked {
    std::unique_lock<std::mutex> hold;
    WorkerIds& registry;
    WorkerIds* operator->() { return &registry; }
};

Locked Registry()
{
    static std::mutex lock;
    static WorkerIds registry;
    return Locked{std::unique_lock<std::mutex>(lock), registry};
}

} // namespace

void RegisterWorker(std::uint32_t threadId)
{
    Registry()->Register(threadId);
}

void StopWorker(std::int32_t slot)
{
    // Only a parked worker waits for the request: it does not cut an echo short.
    if (Registry()->Clear(slot) != 0)
        WorkerThread::StopParkedWorkers();
}

void StopAllWorkers()
{
    const auto length = static_cast<std::int32_t>(Registry()->Length());
    for (std::int32_t slot = 1; slot <= length; ++slot)
        StopWorker(slot);
}

void ForgetWorker(std::uint32_t threadId)
{
    Registry()->Forget(threadId);
}

std::size_t RegisteredWorkerSlots()
{
    return Registry()->Length();
}

std::uint32_t RegisteredWorkerId(std::int32_t slot)
{
    return Registry()->At(slot);
}

std::size_t RunningWorkers()
{
    return Registry()->Occupied();
}
