// In-process allocation sweeps: the calls under test run again and again in
// one process, the Nth allocation failing on the Nth try, so that a try costs
// one call instead of a process and a failure that damages later calls shows.
//
// Allocations are counted over operator new (alloc_failure.h) and the
// library's allocator (mal_* and mal_sys_*, through mal_set_failure_hook).
//
// Use:
//   SweepCalls calls;
//   calls.setup = [] { return zdb_init_api(...) == 0 && zdb_logon("ann") == 0 ? 0 : -1; };
//   calls.step = [] { return zdb_open(...) == 0 ? 0 : zdb_errno; };
//   calls.undo = [] { zdb_close(...); };
//   const SweepOutcome out = SweepAllocations(calls);
//   EXPECT_EQ(out.faults, "");
#pragma once

#include <functional>
#include <string>

namespace molvane::test {

struct SweepCalls {
  // Runs once in the sweep's process before the first try, nothing failing;
  // 0 when the process is ready for the step.
  std::function<int()> setup;
  // The calls under test; returns the error they left (0: success, with a
  // result the step has checked). Runs
  // with one allocation armed to fail: the step should allocate nothing
  // itself beyond the calls it makes.
  std::function<int()> step;
  // Runs after every call of the step, nothing failing, and brings the
  // process back to the state the step starts from (it may be empty).
  std::function<void()> undo;
  // The error a call that meets a failed allocation must give.
  int memory_error = 501;
  // Each try in a process of its own, forked from the sweep's process after
  // setup: every try then starts from the state setup left (first loads,
  // first attaches) instead of the state the tries before it left. Costs a
  // fork per try.
  bool fresh_process_per_try = false;
};

struct SweepOutcome {
  long tries = 0;          // tries that met their failure
  long allocations = 0;    // allocations of the first clean call of the step
  std::string faults;      // one paragraph per fault found; empty when none
};

// Runs the sweep in a forked child of its own (the library keeps
// process-wide state, such as a logon, that the caller's process must not
// take on). For N = 1, 2, ... until the step runs without meeting its
// failure:
//   1. the step runs with its Nth allocation failing and must give
//      memory_error, or succeed with a right result when the calls absorb
//      the failure (a nothrow allocation with a fallback); the step checks
//      its result and returns an error of its own when it is wrong;
//   2. undo runs, then a recoverable leak check pins a leak to N (in one
//      process, the checks stop after the first leak: later ones would
//      report it again);
//   3. the step runs again with nothing failing and must succeed; undo.
// A step that throws, or a child that crashes or runs longer than
// `limit_seconds`, is a fault too. The child's sanitizer reports go to
// `log_path` (a file the sweep writes); a fault quotes the report's frames.
// The variable MOLVANE_SWEEP_AT=N runs try N alone, in the sweep's process,
// with its standard error on the terminal and the stack of the allocation it
// fails printed.
SweepOutcome SweepAllocations(const SweepCalls &calls, const std::string &log_path,
                              int limit_seconds = 300);

// Prints what a sweep of `what` tried, for the test log.
void ReportSweep(const char *what, const SweepOutcome &out);

}  // namespace molvane::test
