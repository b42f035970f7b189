#pragma once
// The card's multi-buffer: a fixed ring of equal-sized blocks, allocated once
// so that no block costs an allocation. Not synchronised; the card guards it.
//
// One producer fills the slot returned by pushSlot() and then calls
// commitPush(); pops never touch that slot, so it may be filled outside the
// card's lock.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace adcard::sim {

class BlockQueue {
public:
    BlockQueue() = default;
    // Throws std::bad_alloc when the storage cannot be had.
    BlockQueue(std::size_t capacity, std::size_t blockSamples);

    std::size_t capacity() const { return capacity_; }
    std::size_t blockSamples() const { return blockSamples_; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == capacity_; }

    // The slot the next block goes into, or an empty span when full.
    std::span<int16_t> pushSlot();
    void commitPush();

    // Copies the oldest block into `out` (blockSamples() long) and removes it.
    bool popInto(std::span<int16_t> out);
    // Removes the oldest block unread.
    bool dropOldest();
    // Removes every block; returns how many there were.
    std::size_t clear();

private:
    std::span<int16_t> slot(std::size_t index);

    // Zeroed at construction, so every page is resident before acquisition
    // starts and filling a slot never faults a page in.
    std::vector<int16_t> storage_;
    std::size_t capacity_ = 0;
    std::size_t blockSamples_ = 0;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace adcard::sim
