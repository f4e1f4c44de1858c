// Makes operator new of this test binary fail on demand, so that the
// out-of-memory paths run without exhausting memory.
#pragma once

// Lets `skip` further allocations succeed, then fails the next `count`
// (each failure runs the installed new-handler as a real one would).
void FailAllocations(int skip, int count);
// Lets every allocation succeed again.
void StopFailingAllocations();
// Allocations failed since the binary started.
int FailedAllocations();
// Allocations that are still to succeed before the armed failures begin.
int PendingSkips();
// Counts one allocation of another allocator (the library's mal_*) in the
// same sequence: true when it is to fail.
bool AllocationShouldFail();

// Non-zero when LeakSanitizer finds memory that nothing reaches; 0 in
// builds without it.
int LeakCheck();
// Prints the current stack to standard error in sanitizer builds; nothing
// in builds without one.
void PrintStack();

// Fails allocations for the life of the object.
class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(int skip = 0, int count = 1 << 30) { FailAllocations(skip, count); }
  ~ScopedAllocationFailure() { StopFailingAllocations(); }
  ScopedAllocationFailure(ScopedAllocationFailure const &) = delete;
  ScopedAllocationFailure &operator=(ScopedAllocationFailure const &) = delete;
};
