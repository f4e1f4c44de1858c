// Replaces the global allocation functions of the test binary. Memory comes
// from malloc and goes back to free in every form, so the sanitizer sees
// matching pairs. While failures are armed, an allocation calls the current
// new-handler (which throws or returns) and, when the handler returns, fails
// with bad_alloc.
#include "alloc_failure.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOLVANE_LEAK_CHECK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MOLVANE_LEAK_CHECK 1
#endif
#ifdef MOLVANE_LEAK_CHECK
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <new>

namespace {

int g_skip = 0;
int g_fail = 0;
int g_failed = 0;

bool ShouldFail() {
  if (g_fail <= 0) return false;
  if (g_skip > 0) {
    --g_skip;
    return false;
  }
  --g_fail;
  ++g_failed;
  // MOLVANE_FAIL_TRACE=1 shows where each failed allocation was made.
  static bool const trace = std::getenv("MOLVANE_FAIL_TRACE") != nullptr;
  if (trace) PrintStack();
  return true;
}

void *Allocate(std::size_t size) {
  if (ShouldFail()) {
    if (std::new_handler handler = std::get_new_handler()) handler();
    throw std::bad_alloc();
  }
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void *AllocateNoThrow(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void FailAllocations(int skip, int count) {
  g_skip = skip;
  g_fail = count;
}
void StopFailingAllocations() { g_skip = g_fail = 0; }
int FailedAllocations() { return g_failed; }

int LeakCheck() {
#ifdef MOLVANE_LEAK_CHECK
  return __lsan_do_recoverable_leak_check();
#else
  return 0;
#endif
}
void PrintStack() {
#ifdef MOLVANE_LEAK_CHECK
  __sanitizer_print_stack_trace();
#endif
}
int PendingSkips() { return g_skip; }
bool AllocationShouldFail() { return ShouldFail(); }

void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void *operator new(std::size_t size, std::nothrow_t const &) noexcept { return AllocateNoThrow(size); }
void *operator new[](std::size_t size, std::nothrow_t const &) noexcept {
  return AllocateNoThrow(size);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, std::nothrow_t const &) noexcept { std::free(p); }
void operator delete[](void *p, std::nothrow_t const &) noexcept { std::free(p); }
