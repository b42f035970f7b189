#include "simcard/block_queue.h"

#include <algorithm>
#include <cassert>

namespace adcard::sim {

BlockQueue::BlockQueue(std::size_t capacity, std::size_t blockSamples)
    : storage_(capacity * blockSamples), capacity_(capacity), blockSamples_(blockSamples)
{
}

std::span<int16_t> BlockQueue::slot(std::size_t index)
{
    return std::span<int16_t>(storage_).subspan(index * blockSamples_, blockSamples_);
}

std::span<int16_t> BlockQueue::pushSlot()
{
    if (full())
        return {};
    return slot((head_ + count_) % capacity_);
}

void BlockQueue::commitPush()
{
    assert(!full());
    ++count_;
}

bool BlockQueue::popInto(std::span<int16_t> out)
{
    if (empty())
        return false;
    assert(out.size() == blockSamples_);
    const auto block = slot(head_);
    std::copy(block.begin(), block.end(), out.begin());
    return dropOldest();
}

bool BlockQueue::dropOldest()
{
    if (empty())
        return false;
    head_ = (head_ + 1) % capacity_;
    --count_;
    return true;
}

std::size_t BlockQueue::clear()
{
    const std::size_t n = count_;
    head_ = 0;
    count_ = 0;
    return n;
}

} // namespace adcard::sim
