// Time for the system: a 32-bit millisecond tick that wraps like the
// platform's tick counter, sleeps, and a process-wide time scale.
//
// The scale (environment variable TAMRI_TIME_SCALE, integer >= 1, default 1)
// lets tests and the simulated device run the system's multi-second pauses
// fast while keeping their proportions: every sleep, every wait's timeout and
// every serial time-out is divided by it, and the tick runs that much faster.
#pragma once

#include <cstdint>

namespace plat {

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Milliseconds of system time (scaled) since an arbitrary origin; wraps at 2^32.
uint32_t GetTickCount();

// Suspends the calling thread for `ms` milliseconds of system time.
void Sleep(uint32_t ms);

// The current time scale (>= 1).
int TimeScale();

// Test hook: replaces the scale read from the environment (values < 1 mean 1).
void SetTimeScale(int scale);

// Real milliseconds for `ms` of system time: ms / scale, at least 1 when ms
// is not 0, INFINITE unchanged.
uint32_t RealMs(uint32_t ms);

}  // namespace plat
