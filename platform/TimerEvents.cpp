#include "platform/TimerEvents.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/prctl.h>

namespace {

using Clock = std::chrono::steady_clock;

// One periodic event and its thread. The thread holds a reference of its own,
// so an event killed from its own tick lives until that tick has returned.
struct STimerEvent {
    uint32_t nId = 0;
    Clock::duration period{};
    TimerCallback pfnCallback = nullptr;
    uintptr_t nUser = 0;
    std::mutex lock;
    std::condition_variable wake;
    bool bKilled = false;
    std::thread thread;
};

void RunEvent(const std::shared_ptr<STimerEvent>& pEvent) {
    // Ticks, and the short sleeps their callbacks take, wake when asked rather
    // than up to the default 50 microseconds late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    STimerEvent& ev = *pEvent;
    Clock::time_point next = Clock::now() + ev.period;
    std::unique_lock lock(ev.lock);
    for (;;) {
        if (ev.wake.wait_until(lock, next, [&] { return ev.bKilled; }))
            return;
        lock.unlock();
        ev.pfnCallback(ev.nId, 0, ev.nUser, 0, 0);
        lock.lock();
        // A tick that overran its period is followed at once by a single tick,
        // not by one for every period it missed.
        next += ev.period;
        const Clock::time_point now = Clock::now();
        if (next < now)
            next = now;
    }
}

struct SRegistry {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<STimerEvent>> events;
    uint32_t nLastId = 0;
};

SRegistry& Registry() {
    static SRegistry s_registry;
    return s_registry;
}

uint32_t NextFreeId(SRegistry& reg) {
    do {
        ++reg.nLastId;
    } while (reg.nLastId == 0 || reg.events.count(reg.nLastId) != 0);
    return reg.nLastId;
}

} // namespace

uint32_t TimeSetEvent(uint32_t nDelayMs, uint32_t /*nResolutionMs*/, TimerCallback pfnCallback,
                      uintptr_t nUser, uint32_t nFlags) {
    if (nDelayMs == 0 || pfnCallback == nullptr || (nFlags & kTimePeriodic) == 0)
        return 0;
    auto pEvent = std::make_shared<STimerEvent>();
    pEvent->period = std::chrono::milliseconds(nDelayMs);
    pEvent->pfnCallback = pfnCallback;
    pEvent->nUser = nUser;

    SRegistry& reg = Registry();
    std::lock_guard regLock(reg.lock);
    pEvent->nId = NextFreeId(reg);
    try {
        // The event's lock keeps the thread from reading its fields before
        // they are all written.
        std::lock_guard evLock(pEvent->lock);
        pEvent->thread = std::thread(RunEvent, pEvent);
    } catch (const std::system_error&) {
        return 0;
    }
    reg.events.emplace(pEvent->nId, pEvent);
    return pEvent->nId;
}

int TimeKillEvent(uint32_t nTimerId) {
    std::shared_ptr<STimerEvent> pEvent;
    {
        SRegistry& reg = Registry();
        std::lock_guard regLock(reg.lock);
        auto it = reg.events.find(nTimerId);
        if (it == reg.events.end())
            return -1;
        pEvent = std::move(it->second);
        reg.events.erase(it);
    }
    {
        std::lock_guard evLock(pEvent->lock);
        pEvent->bKilled = true;
    }
    pEvent->wake.notify_all();
    // Joining from the event's own tick would wait for itself.
    if (pEvent->thread.get_id() == std::this_thread::get_id())
        pEvent->thread.detach();
    else
        pEvent->thread.join();
    return 0;
}
