#pragma once
// A bounded single-producer, single-consumer queue of preallocated slots.
// The producer never waits: it claims a free slot or learns there is none.
// The consumer sleeps until the producer wakes it or its deadline comes; a
// slot published without waking waits for the next wake, so that several
// slots cost the consumer one wake-up. The producer makes a system call to
// wake it only when the consumer has said that it sleeps.
#include "recording/wake_event.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
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
    // Producer: lets the consumer take every slot published so far. The
    // fence orders the stores before it (a slot, a request to quit) before
    // the look at sleeping_: either the consumer sees them before it sleeps,
    // or this sees it sleeping.
    void wake()
    {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (sleeping_.load(std::memory_order_relaxed))
            ready_.set();
    }
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
        static const std::atomic<bool> never{false};
        return *front(never);
    }
    // Consumer: as front(), but null once `quit` is set and every slot
    // published before it has been taken, or once `until` has passed with
    // nothing published. Whoever sets `quit` then wakes.
    Slot *front(const std::atomic<bool> &quit, WakeEvent::Clock::time_point until = WakeEvent::Clock::time_point::max())
    {
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        for (;;) {
            if (head_.load(std::memory_order_acquire) != tail)
                return &slots_[tail % slots_.size()];
            if (quit.load(std::memory_order_acquire))
                return nullptr;
            sleeping_.store(true, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_seq_cst); // pairs with wake()'s
            const bool quiet = head_.load(std::memory_order_acquire) == tail && !quit.load(std::memory_order_acquire);
            // A wake may find nothing new: it was meant for slots already
            // taken, or came between the look above and the sleep.
            const bool woken = !quiet || ready_.wait(until);
            sleeping_.store(false, std::memory_order_relaxed);
            if (!woken)
                return head_.load(std::memory_order_acquire) == tail ? nullptr : &slots_[tail % slots_.size()];
        }
    }
    void pop() { tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

private:
    std::vector<Slot> slots_;
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
    alignas(64) std::atomic<bool> sleeping_{false};
    WakeEvent ready_;
};

} // namespace adcard
