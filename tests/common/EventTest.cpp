#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/Event.h"

namespace quorvin {
namespace {

TEST(Event, ManualResetStaysSignalled) {
    Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));  // still set: manual reset
    e.Reset();
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(10));
}

TEST(Event, WaitAnyPrefersTheFirstListed) {
    Event stop, go;
    go.Set();
    EXPECT_EQ(WaitAny({&stop, &go}, 0), 1);
    stop.Set();
    EXPECT_EQ(WaitAny({&stop, &go}, 0), 0);
    EXPECT_EQ(WaitAny({&stop, &go}), 0);
}

TEST(Event, WaitAnyTimesOutAndWakesOnSetFromAnotherThread) {
    Event stop, go;
    EXPECT_EQ(WaitAny({&stop, &go}, 20), -1);
    std::thread setter([&] {
        Delay(20);
        go.Set();
    });
    EXPECT_EQ(WaitAny({&stop, &go}, 5000), 1);
    setter.join();
}

TEST(Event, ManyWaitersAllWake) {
    Event stop, go;
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 8; ++i) {
        waiters.emplace_back([&] {
            if (WaitAny({&stop, &go}, 5000) == 0) ++woke;
        });
    }
    Delay(20);
    stop.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke.load(), 8);
}

TEST(Event, DelayWaitsAtLeastItsLength) {
    const auto start = std::chrono::steady_clock::now();
    Delay(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace quorvin
