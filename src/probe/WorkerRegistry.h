#pragma once
// The registry of worker thread ids: the workers of this program that have not completed, so
// that lines wait for room, and program end can ask the workers still there to stop. Any thread. A worker's slot is emptied when its completion has run, or when its thread is found
// ended without one. The stop request is an event of the program's own that parked workers wait
// for, never a message to a thread id, so it cannot reach a thread that is not one of them.

#include <cstddef>
#include <cstdint>

// Appends a worker's thread id.
void RegisterWorker(std::uint32_t threadId);

// Asks the worker in slot `slot` (1-based) to stop and empties the slot; nothing for 0 or a
// number beyond the registry's length. The request is the one stop request for all parked
// workers: only StopAllWorkers, at program end, calls this.
void StopWorker(std::int32_t slot);

// Stops every registered worker and empties the registry. Does not wait for them.
void StopAllWorkers();

// Empties the slot of a worker whose completion has run (or that was never started).
void ForgetWorker(std::uint32_t threadId);

// The registry's length, and the id in slot `slot` (1-based; 0 for none), for tests.
std::size_t RegisteredWorkerSlots();
std::uint32_t RegisteredWorkerId(std::int32_t slot);

// The workers registered whose completion has not run yet.
std::size_t RunningWorkers();
