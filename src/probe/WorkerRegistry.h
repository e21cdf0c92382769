#pragma once
// The registry of worker thread ids, so that program end can ask the workers still running to
// stop. UI thread only. A worker's slot is emptied when its completion has run, so the stop
// request only ever reaches this program's own live workers, never a recycled id.

#include <cstddef>
#include <cstdint>

// Appends a worker's thread id.
void RegisterWorker(std::uint32_t threadId);

// Posts a quit request to the worker in slot `slot` (1-based) and empties the slot; nothing for
// 0 or a number beyond the registry's length.
void StopWorker(std::int32_t slot);

// Stops every registered worker and empties the registry. Does not wait for them.
void StopAllWorkers();

// Empties the slot of a worker whose completion has run (or that was never started).
void ForgetWorker(std::uint32_t threadId);

// The registry's length, for tests.
std::size_t RegisteredWorkerSlots();

// The workers registered whose completion has not run yet.
std::size_t RunningWorkers();
