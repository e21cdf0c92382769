#include "core/WorkerIds.h"

void WorkerIds::Register(std::uint32_t id)
{
    slots_.push_back(id);
    if (id != 0)
        ++occupied_;
}

std::uint32_t WorkerIds::At(std::int32_t slot) const
{
    if (slot < 1 || static_cast<std::size_t>(slot) > slots_.size())
        return 0;
    return slots_[static_cast<std::size_t>(slot) - 1];
}

std::uint32_t WorkerIds::Clear(std::int32_t slot)
{
    const std::uint32_t id = At(slot);
    if (slot >= 1 && static_cast<std::size_t>(slot) <= slots_.size())
        Empty(static_cast<std::size_t>(slot) - 1);
    return id;
}

void WorkerIds::Forget(std::uint32_t id)
{
    if (id == 0)
        return;
    for (std::size_t index = slots_.size(); index-- > 0;)
        if (slots_[index] == id) {
            Empty(index);
            return;
        }
}

void WorkerIds::Empty(std::size_t index)
{
    if (slots_[index] != 0) {
        slots_[index] = 0;
        --occupied_;
    }
    if (occupied_ == 0)
        slots_.clear();
}
