// The writer's queue and what it sleeps on: a wake or a deadline ends the
// sleep, and no wake is lost between the consumer's last look and its sleep.
#include "tests/support/row_name.h"
#include "recording/slot_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace adcard::testing {
namespace {

using ::PrintTo; // rows print as their names
using Clock = WakeEvent::Clock;

TEST(SlotQueue, OneWakeLetsTheConsumerTakeEverySlotPublishedBeforeIt)
{
    SlotQueue<int> q(8);
    for (int i = 0; i < 3; ++i) {
        *q.claim() = i;
        q.publish(false);
    }
    q.wake();
    std::vector<int> got;
    // Hangs, and the test times out, if each slot needed a wake of its own.
    std::thread consumer([&] {
        for (int i = 0; i < 3; ++i) {
            got.push_back(q.front());
            q.pop();
        }
    });
    consumer.join();
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
}

TEST(WakeEvent, ASetIsKeptForTheNextWaitAndSetsCountAsOne)
{
    WakeEvent e;
    const Clock::time_point past = Clock::now() - std::chrono::seconds(1);
    EXPECT_FALSE(e.wait(past)) << "clear: a passed deadline ends the wait";
    e.set();
    e.set();
    EXPECT_TRUE(e.wait(past)) << "set before the wait";
    EXPECT_FALSE(e.wait(past)) << "two sets taken by one wait";
}

// What the consumer finds, with everything done before it looks: these never
// sleep, since the deadline has passed or the queue has an answer.
struct WaitRow {
    const char *name;
    bool publish;   // a slot published without a wake
    bool wake;      // a wake, with or without a slot
    bool quit;      // quit set (and woken)
    bool timed;     // a deadline already passed; otherwise none
    bool expectSlot;
};

class SlotQueueWait : public ::testing::TestWithParam<WaitRow> {};

TEST_P(SlotQueueWait, ReturnsTheSlotOrNullWithoutWaitingForMore)
{
    const WaitRow &row = GetParam();
    SlotQueue<int> q(4);
    std::atomic<bool> quit{false};
    if (row.publish) {
        *q.claim() = 7;
        q.publish(false);
    }
    if (row.wake)
        q.wake();
    if (row.quit) {
        quit = true;
        q.wake();
    }
    const Clock::time_point until = row.timed ? Clock::now() - std::chrono::milliseconds(1) : Clock::time_point::max();
    int *s = q.front(quit, until);
    ASSERT_EQ(s != nullptr, row.expectSlot);
    if (s) {
        EXPECT_EQ(*s, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SlotQueueWait,
                         ::testing::Values(WaitRow{"deadline_with_nothing", false, false, false, true, false},
                                           WaitRow{"deadline_with_an_unwoken_slot", true, false, false, true, true},
                                           WaitRow{"deadline_after_a_wake_for_nothing", false, true, false, true, false},
                                           WaitRow{"quit_with_nothing_left", false, false, true, false, false},
                                           WaitRow{"quit_with_a_slot_left", true, false, true, false, true}),
                         kRowName);

// The producer acts while the consumer looks or sleeps, round after round,
// so that its wake falls on every step of the consumer's way to the sleep.
// A lost wake shows as the far deadline reached with nothing taken.
TEST(SlotQueue, AWakeWhileTheConsumerGoesToSleepIsNeverLost)
{
    constexpr int kRounds = 2000;
    SlotQueue<int> q(2);
    std::atomic<bool> quit{false}, lost{false}, quitSeen{false};
    std::atomic<int> taken{0};
    std::thread consumer([&] {
        for (int i = 0; i < kRounds; ++i) {
            int *s = q.front(quit, Clock::now() + std::chrono::seconds(60));
            if (!s || *s != i) {
                lost = true;
                return;
            }
            q.pop();
            taken = i + 1;
        }
        // Then the quit, to a consumer asleep with no deadline.
        quitSeen = q.front(quit) == nullptr;
    });
    for (int i = 0; i < kRounds && !lost; ++i) {
        *q.claim() = i; // one slot at a time: each round the consumer sleeps anew
        q.publish();
        while (taken.load() < i + 1 && !lost)
            std::this_thread::yield();
    }
    quit = true;
    q.wake();
    consumer.join();
    EXPECT_FALSE(lost) << "a wake was lost after " << taken.load() << " rounds";
    EXPECT_TRUE(quitSeen);
}

} // namespace
} // namespace adcard::testing
