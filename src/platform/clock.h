// The wall clock and sleeping.
#pragma once

#include <cstdint>

struct HAL_CLOCK {
  int64_t seconds;      // since 1970-01-01 00:00:00 UTC
  int64_t nanoseconds;  // 0..999999999, at millisecond resolution
};

// The current time in seconds since 1970 (also stored through `out` when it
// is not null). A time set in the shared-memory header replaces the clock,
// so that every process of the segment sees the same "now".
int64_t al_time(int64_t *out);

// Sleeps for the given number of milliseconds (nothing for 0 or less),
// resuming after signals until the time has passed.
void al_msleep(int milliseconds);

// Milliseconds of a steady clock, which no change of the wall clock moves:
// what deadlines within the process are counted in. Never 0.
int64_t al_steady_ms();

// Fills the clock record from the wall clock; 0, or -1 when the clock
// cannot be read (the record is then zero).
int HAL_getclock(HAL_CLOCK *clock);
