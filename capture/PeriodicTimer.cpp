#include "capture/PeriodicTimer.h"

#include "capture/CaptureEngine.h"
#include "platform/TimerEvents.h"

CPeriodicTimer::~CPeriodicTimer() {
    if (m_nTimerId != 0)
        TimeKillEvent(m_nTimerId);
}

int CPeriodicTimer::Create(uint32_t nDelayMs, uint32_t nResolutionMs, CCaptureEngine* pOwner) {
    m_nDelayMs = nDelayMs;
    m_nResolutionMs = nResolutionMs;
    m_pOwner = pOwner;
    m_nTimerId = TimeSetEvent(nDelayMs, nResolutionMs, &CPeriodicTimer::TimerProc,
                              reinterpret_cast<uintptr_t>(this), kTimePeriodic);
    return m_nTimerId != 0 ? 1 : 0;
}

void CPeriodicTimer::TimerProc(uint32_t /*nTimerId*/, uint32_t /*nMsg*/, uintptr_t nUser,
                               uintptr_t /*nReserved1*/, uintptr_t /*nReserved2*/) {
    auto* pTimer = reinterpret_cast<CPeriodicTimer*>(nUser);
    if (pTimer && pTimer->m_pOwner)
        pTimer->m_pOwner->RunCycle();
}
