#pragma once
// The card's multi-buffer: which blocks it holds, oldest first, by sequence
// number. A block's samples are a pure function of its number, so they are
// made only when the block is handed over, straight into the caller's
// buffer: a block dropped or flushed unread costs nothing, and the queue
// costs eight bytes a block. Not synchronised; the card guards it.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace adcard::sim {

class BlockQueue {
public:
    BlockQueue() = default;
    // Throws std::bad_alloc when the storage cannot be had.
    explicit BlockQueue(std::size_t capacity) : sequence_(capacity) {}

    std::size_t capacity() const { return sequence_.size(); }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Adds the newest block; false, and nothing added, when full.
    bool push(uint64_t sequence)
    {
        if (count_ == sequence_.size())
            return false;
        sequence_[(head_ + count_) % sequence_.size()] = sequence;
        ++count_;
        return true;
    }
    // The oldest block's number, removed; the queue must not be empty.
    uint64_t pop()
    {
        const uint64_t s = sequence_[head_];
        head_ = (head_ + 1) % sequence_.size();
        --count_;
        return s;
    }
    // Removes every block; returns how many there were.
    std::size_t clear() { return std::exchange(count_, 0); }

private:
    std::vector<uint64_t> sequence_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace adcard::sim
