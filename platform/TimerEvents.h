#pragma once

#include <cstdint>

// Periodic timer events. Each event has its own thread: ticks come one after
// another on it, never overlapping; a tick that overruns the period delays the
// next one (which then comes at once) instead of piling ticks up.
using TimerCallback = void (*)(uint32_t nTimerId, uint32_t nMsg, uintptr_t nUser,
                               uintptr_t nReserved1, uintptr_t nReserved2);

inline constexpr uint32_t kTimePeriodic = 1;

// Starts an event that calls pfnCallback(id, 0, nUser, 0, 0) every nDelayMs
// milliseconds, the first time nDelayMs from now. The resolution is accepted for
// the callers' sake; the steady clock decides. Returns the event's identifier,
// or 0 when it cannot start (zero delay, no kTimePeriodic, no thread).
uint32_t TimeSetEvent(uint32_t nDelayMs, uint32_t nResolutionMs, TimerCallback pfnCallback,
                      uintptr_t nUser, uint32_t nFlags);

// Ends the event: waits for a tick in progress to return; no tick starts after.
// Called from the event's own tick it only stops further ticks. Returns 0, or -1
// for an unknown identifier.
int TimeKillEvent(uint32_t nTimerId);
