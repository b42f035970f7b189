#pragma once
// A bounded single-producer, single-consumer queue of preallocated slots.
// The producer never waits: it claims a free slot or learns there is none.
// The consumer sleeps on a semaphore until the producer wakes it; a slot
// published without waking waits for the next wake, so that several slots
// cost the consumer one wake-up.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <semaphore>
#include <vector>

namespace adcard {

template <typename Slot>
class SlotQueue {
public:
    explicit SlotQueue(std::size_t capacity) : slots_(capacity) {}

    std::size_t capacity() const { return slots_.size(); }

    // Producer: a free slot, provided more than `reserve` would stay free;
    // null otherwise. Fill it, then publish().
    Slot *claim(std::size_t reserve = 0)
    {
        const uint64_t head = head_.load(std::memory_order_relaxed);
        const uint64_t used = head - tail_.load(std::memory_order_acquire);
        return used + reserve < slots_.size() ? &slots_[head % slots_.size()] : nullptr;
    }
    void publish(bool wakeConsumer = true)
    {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        if (wakeConsumer)
            wake();
    }
    // Producer: lets the consumer take every slot published so far.
    void wake() { ready_.release(); }
    // Producer: every slot the consumer does not hold, e.g. to size them.
    template <typename F>
    void forEachFree(F &&f)
    {
        const uint64_t head = head_.load(std::memory_order_relaxed);
        const uint64_t tail = tail_.load(std::memory_order_acquire);
        for (uint64_t i = head; i < tail + slots_.size(); ++i)
            f(slots_[i % slots_.size()]);
    }

    // Consumer: waits for the oldest published slot; pop() releases it.
    Slot &front()
    {
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        // A wake may find nothing new: it was meant for slots already taken.
        while (head_.load(std::memory_order_acquire) == tail)
            ready_.acquire();
        return slots_[tail % slots_.size()];
    }
    // Consumer: as front(), but null once `quit` is set and every slot
    // published before it has been taken, or once `until` has passed with
    // nothing published. Whoever sets `quit` then wakes.
    Slot *front(const std::atomic<bool> &quit,
                std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max())
    {
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        while (head_.load(std::memory_order_acquire) == tail) {
            if (quit.load(std::memory_order_acquire))
                return head_.load(std::memory_order_acquire) == tail ? nullptr : &slots_[tail % slots_.size()];
            if (until == std::chrono::steady_clock::time_point::max())
                ready_.acquire();
            else if (!ready_.try_acquire_until(until))
                return head_.load(std::memory_order_acquire) == tail ? nullptr : &slots_[tail % slots_.size()];
        }
        return &slots_[tail % slots_.size()];
    }
    void pop() { tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

private:
    std::vector<Slot> slots_;
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
    std::counting_semaphore<> ready_{0};
};

} // namespace adcard
