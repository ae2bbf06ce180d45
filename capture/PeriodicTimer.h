#pragma once

#include <cstdint>

class CCaptureEngine;

// The periodic tick that drives the acquisition cycle: every m_nDelayMs it runs
// the owner's RunCycle on the timer's own thread, one tick after another.
class CPeriodicTimer {
public:
    CPeriodicTimer() = default;
    // Kills the periodic event: waits for a tick in progress; none starts after.
    virtual ~CPeriodicTimer();
    CPeriodicTimer(const CPeriodicTimer&) = delete;
    CPeriodicTimer& operator=(const CPeriodicTimer&) = delete;

    // Starts ticking for pOwner; the first tick comes one period later. Returns 1
    // when the periodic event runs, else 0.
    int Create(uint32_t nDelayMs, uint32_t nResolutionMs, CCaptureEngine* pOwner);
    // The tick: nUser is the timer object.
    static void TimerProc(uint32_t nTimerId, uint32_t nMsg, uintptr_t nUser, uintptr_t nReserved1,
                          uintptr_t nReserved2);

    CCaptureEngine* m_pOwner = nullptr;
    uint32_t m_nDelayMs = 0;
    uint32_t m_nResolutionMs = 0;
    uint32_t m_nTimerId = 0;
};
