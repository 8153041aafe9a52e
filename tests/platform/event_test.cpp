#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace kestrel::platform {
namespace {

using Mode = Event::Mode;

// Starts n threads that each wait once (up to waitMs) and counts how many were released.
struct Waiters {
    std::atomic<int> released{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> threads;
    Waiters(Event& e, int n, uint32_t waitMs) {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([&, waitMs] {
                waiting.fetch_add(1);
                if (e.Wait(waitMs)) released.fetch_add(1);
            });
        while (waiting.load() < n) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let them block
    }
    int Join() {
        for (auto& t : threads) t.join();
        return released.load();
    }
};

TEST(Event, SetResetAndPollFollowTheResetMode) {
    Event manual(Mode::ManualReset);
    EXPECT_FALSE(manual.Wait(0));
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0)) << "a manual-reset event stays set";
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));

    Event autoReset(Mode::AutoReset, /*signalled=*/true);
    EXPECT_TRUE(autoReset.Wait(0));
    EXPECT_FALSE(autoReset.Wait(0)) << "the waiter that was released clears an auto-reset event";
}

TEST(Event, WaitTimesOut) {
    Event e(Mode::ManualReset);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(40));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(35));
}

TEST(Event, PulseReleasesWaitersOfTheMomentAndLeavesTheEventClear) {
    struct Case { Mode mode; int waiters; int released; };
    for (const Case& c : {Case{Mode::ManualReset, 3, 3}, Case{Mode::AutoReset, 3, 1}}) {
        Event e(c.mode);
        Waiters w(e, c.waiters, 300);
        e.Pulse();
        EXPECT_EQ(w.Join(), c.released) << (c.mode == Mode::ManualReset ? "manual" : "auto");
        EXPECT_FALSE(e.Wait(0)) << "a pulse never leaves the event set";
    }
    Event nobody(Mode::ManualReset);
    nobody.Pulse();
    EXPECT_FALSE(nobody.Wait(0)) << "a pulse with nobody waiting is lost";
}

TEST(Event, SetReleasesAllWaitersOfAManualEventAndOneOfAnAutoEvent) {
    Event manual(Mode::ManualReset);
    Waiters wm(manual, 3, 300);
    manual.Set();
    EXPECT_EQ(wm.Join(), 3);

    Event autoReset(Mode::AutoReset);
    Waiters wa(autoReset, 2, 150);
    autoReset.Set();
    EXPECT_EQ(wa.Join(), 1);
}

TEST(Thread, WaitForReportsWhetherTheBodyEnded) {
    Event go(Mode::ManualReset);
    Thread t;
    ASSERT_TRUE(t.Start([&] { go.Wait(); }));
    EXPECT_FALSE(t.Start([] {})) << "one thread per object";
    EXPECT_FALSE(t.WaitFor(20));
    go.Set();
    EXPECT_TRUE(t.WaitFor(1000));
    EXPECT_FALSE(t.Held());
    EXPECT_TRUE(t.WaitFor(0)) << "no thread held counts as ended";
}

TEST(Tick, ThreadTickWakesEveryWaiterRepeatedly) {
    Event tick(Mode::ManualReset);
    ThreadTick source;
    ASSERT_TRUE(source.Start(tick, 5));
    EXPECT_FALSE(source.Start(tick, 5));
    std::atomic<int> wakes[2] = {0, 0};
    std::atomic<bool> quit{false};
    std::thread a([&] { while (!quit) if (tick.Wait(200)) ++wakes[0]; });
    std::thread b([&] { while (!quit) if (tick.Wait(200)) ++wakes[1]; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    source.Stop();
    quit = true;
    tick.Set();
    a.join();
    b.join();
    // 200 ms at 5 ms is 40 pulses; a loaded machine may lose some but never most of them.
    EXPECT_GT(wakes[0].load(), 10);
    EXPECT_GT(wakes[1].load(), 10);
}

TEST(Tick, ManualTickPulsesOnlyWhileRunning) {
    Event tick(Mode::ManualReset);
    ManualTick source;
    EXPECT_FALSE(source.Fire());
    ASSERT_TRUE(source.Start(tick, 5));
    EXPECT_EQ(source.Period(), 5u);
    Waiters w(tick, 2, 300);
    EXPECT_TRUE(source.Fire());
    EXPECT_EQ(w.Join(), 2);
    source.Stop();
    EXPECT_FALSE(source.Fire());
}

}  // namespace
}  // namespace kestrel::platform
