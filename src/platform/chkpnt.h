// Checkpoint timings: lines of elapsed time appended to files in the log
// folder while the environment variable CHKPNT is set (and not "0").
#pragma once

#include <cstdint>

struct CHKPNT_TIMER {
  int64_t start_ns;  // monotonic clock at ChkpntStart
  int started;       // non-zero between ChkpntStart and ChkpntStop
};

// Non-zero while checkpoints are switched on.
int chkpnt_active();

// Starts a timing (nothing when checkpoints are off).
void ChkpntStart(CHKPNT_TIMER *timer);

// Appends one line to the checkpoint file of that name in the log folder
// ($ZUV_LOG, else $ZUV/log):
//   "2026-12-07 05:31:02.123 UTC     12.345 ms <formatted text>"
// with the time elapsed since ChkpntStart. 0 when written or checkpoints
// are off; -1 when the timer was not started, the name is not a plain
// file name, or the file cannot be written (logged).
int ChkpntStop(CHKPNT_TIMER *timer, const char *file_name, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
