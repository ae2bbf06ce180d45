#pragma once

#include <chrono>
#include <cstdint>

// Milliseconds of a steady clock, wrapping at 2^32 (about 49.7 days): take
// differences as unsigned 32-bit values.
uint32_t TimeGetTime();

// Suspends the calling thread for at least nMs milliseconds.
void SleepMs(uint32_t nMs);

// Nanoseconds of the steady clock, for measuring and pacing.
inline std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
