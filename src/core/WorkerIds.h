#pragma once
// Bookkeeping of the worker registry: thread ids in slots numbered from 1, where 0 marks an empty
// slot. Not synchronised: one thread owns an instance.

#include <cstddef>
#include <cstdint>
#include <vector>

class WorkerIds {
public:
    // Appends `id` in a new slot.
    void Register(std::uint32_t id);

    // Empties slot `slot` and returns the id it held: 0 for an empty slot or a number outside
    // 1..Length(). Once every slot is empty the registry shrinks to length 0.
    std::uint32_t Clear(std::int32_t slot);

    // Empties the last slot that holds `id`, with the same shrinking rule; no slot, no change.
    void Forget(std::uint32_t id);

    std::size_t Length() const { return slots_.size(); }
    // The slots that hold an id.
    std::size_t Occupied() const { return occupied_; }
    // The id in slot `slot` (1-based), 0 when empty or out of range.
    std::uint32_t At(std::int32_t slot) const;

private:
    void Empty(std::size_t index);

    std::vector<std::uint32_t> slots_;
    std::size_t occupied_ = 0;
};
