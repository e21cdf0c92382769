#include "probe/WorkerRegistry.h"

#include "core/WorkerIds.h"

#include <windows.h>

namespace {

WorkerIds& Registry()
{
    static WorkerIds registry;
    return registry;
}

} // namespace

void RegisterWorker(std::uint32_t threadId)
{
    Registry().Register(threadId);
}

void StopWorker(std::int32_t slot)
{
    // The workers never read thread messages: the request does not cut an echo short.
    if (const std::uint32_t threadId = Registry().Clear(slot))
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
}

void StopAllWorkers()
{
    const auto length = static_cast<std::int32_t>(Registry().Length());
    for (std::int32_t slot = 1; slot <= length; ++slot)
        StopWorker(slot);
}

void ForgetWorker(std::uint32_t threadId)
{
    Registry().Forget(threadId);
}

std::size_t RegisteredWorkerSlots()
{
    return Registry().Length();
}

std::size_t RunningWorkers()
{
    return Registry().Occupied();
}
