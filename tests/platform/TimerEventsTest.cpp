#include "platform/TimerEvents.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {

// What a test's ticks did, shared with the callback through the user value.
struct STickLog {
    uint32_t nTickMs = 0; // how long each tick works
    std::atomic<int> nTicks{0};
    std::atomic<int> nInside{0};
    std::atomic<int> nMaxInside{0};
    std::atomic<bool> bTickRunning{false};
    std::atomic<uint32_t> nFirstTickAt{0};
    bool bKillSelf = false; // the tick kills its own event
    std::mutex lock;
    std::set<std::thread::id> threads;
};

void Tick(uint32_t nId, uint32_t /*nMsg*/, uintptr_t nUser, uintptr_t, uintptr_t) {
    auto& log = *reinterpret_cast<STickLog*>(nUser);
    const int inside = ++log.nInside;
    int seen = log.nMaxInside.load();
    while (inside > seen && !log.nMaxInside.compare_exchange_weak(seen, inside)) {
    }
    log.bTickRunning = true;
    if (log.nTicks.fetch_add(1) == 0)
        log.nFirstTickAt = TimeGetTime();
    {
        std::lock_guard guard(log.lock);
        log.threads.insert(std::this_thread::get_id());
    }
    if (log.nTickMs)
        SleepMs(log.nTickMs);
    if (log.bKillSelf)
        TimeKillEvent(nId);
    log.bTickRunning = false;
    --log.nInside;
}

uint32_t Start(STickLog& log, uint32_t nDelayMs) {
    return TimeSetEvent(nDelayMs, 1, Tick, reinterpret_cast<uintptr_t>(&log), kTimePeriodic);
}

bool WaitFor(const std::atomic<int>& value, int atLeast, uint32_t nTimeoutMs) {
    const uint32_t start = TimeGetTime();
    while (value.load() < atLeast) {
        if (TimeGetTime() - start > nTimeoutMs)
            return false;
        SleepMs(1);
    }
    return true;
}

} // namespace

TEST(Clock, SleepAdvancesTheMillisecondClockByAtLeastTheDelay) {
    const uint32_t before = TimeGetTime();
    SleepMs(30);
    EXPECT_GE(static_cast<uint32_t>(TimeGetTime() - before), 30u);
}

TEST(TimerEvents, RefusesAZeroDelayAndAOneShotEvent) {
    STickLog log;
    EXPECT_EQ(Start(log, 0), 0u);
    EXPECT_EQ(TimeSetEvent(10, 1, Tick, reinterpret_cast<uintptr_t>(&log), 0), 0u);
    EXPECT_EQ(TimeSetEvent(10, 1, nullptr, 0, kTimePeriodic), 0u);
}

TEST(TimerEvents, KillingAnUnknownEventFails) {
    EXPECT_EQ(TimeKillEvent(0xFFFFFFF0u), -1);
}

TEST(TimerEvents, FirstTickComesOnePeriodAfterTheStart) {
    STickLog log;
    const uint32_t start = TimeGetTime();
    const uint32_t id = Start(log, 60);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor(log.nTicks, 1, 2000));
    EXPECT_EQ(TimeKillEvent(id), 0);
    EXPECT_GE(static_cast<uint32_t>(log.nFirstTickAt - start), 59u);
}

TEST(TimerEvents, LongTicksNeverOverlapAndRunOnOneThread) {
    STickLog log;
    log.nTickMs = 25; // longer than the period
    const uint32_t id = Start(log, 10);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor(log.nTicks, 6, 3000));
    EXPECT_EQ(TimeKillEvent(id), 0);
    EXPECT_EQ(log.nMaxInside.load(), 1);
    EXPECT_EQ(log.threads.size(), 1u);
}

TEST(TimerEvents, AnOverrunningTickDelaysTheNextInsteadOfPilingUp) {
    STickLog log;
    log.nTickMs = 60;
    const uint32_t id = Start(log, 10);
    ASSERT_NE(id, 0u);
    SleepMs(400);
    EXPECT_EQ(TimeKillEvent(id), 0);
    // Back-to-back 60 ms ticks fit at most about seven times into 400 ms; had
    // the missed periods been made up, there would be many more.
    EXPECT_LE(log.nTicks.load(), 8);
    EXPECT_GE(log.nTicks.load(), 3);
}

TEST(TimerEvents, KillWaitsForARunningTickAndNothingTicksAfterIt) {
    STickLog log;
    log.nTickMs = 150;
    const uint32_t id = Start(log, 10);
    ASSERT_NE(id, 0u);
    while (!log.bTickRunning.load())
        SleepMs(1);
    EXPECT_EQ(TimeKillEvent(id), 0);
    EXPECT_FALSE(log.bTickRunning.load());
    EXPECT_EQ(log.nInside.load(), 0);
    const int ticks = log.nTicks.load();
    SleepMs(100);
    EXPECT_EQ(log.nTicks.load(), ticks);
    EXPECT_EQ(TimeKillEvent(id), -1);
}

TEST(TimerEvents, ATickMayKillItsOwnEvent) {
    STickLog log;
    log.bKillSelf = true;
    const uint32_t id = Start(log, 10);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor(log.nTicks, 1, 2000));
    SleepMs(80);
    EXPECT_EQ(log.nTicks.load(), 1);
    EXPECT_EQ(TimeKillEvent(id), -1);
    while (log.nInside.load() != 0)
        SleepMs(1);
}

TEST(TimerEvents, EventsTickIndependently) {
    STickLog a;
    STickLog b;
    const uint32_t idA = Start(a, 10);
    const uint32_t idB = Start(b, 10);
    ASSERT_NE(idA, idB);
    ASSERT_TRUE(WaitFor(a.nTicks, 3, 2000));
    ASSERT_TRUE(WaitFor(b.nTicks, 3, 2000));
    EXPECT_EQ(TimeKillEvent(idA), 0);
    const int bTicks = b.nTicks.load();
    ASSERT_TRUE(WaitFor(b.nTicks, bTicks + 2, 2000));
    EXPECT_EQ(TimeKillEvent(idB), 0);
}
