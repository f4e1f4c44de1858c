// The sweep runs in a child so that the caller's process keeps no logon and
// no state of the tries. The child writes its findings to a file next to its
// log; the parent waits for it (killing it past the time limit), reads the
// findings and adds the sanitizer frames of the child's log to them.
#include "inprocess_sweep.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

#include "alloc_failure.h"
#include "platform/mal.h"

namespace molvane::test {
namespace {

constexpr int kMaxFaults = 12;  // faults reported in full; later ones are counted
constexpr const char *kLeakMark = "=== sweep: leak check after allocation ";

// MOLVANE_SWEEP_AT=N: the sweep runs try N alone, its standard error on the
// terminal, and prints the stack of the allocation it fails.
long SingleTry() {
  const char *at = std::getenv("MOLVANE_SWEEP_AT");
  return at != nullptr ? std::atol(at) : 0;
}

void PrintFailingStack(const char *allocator) {
  if (SingleTry() == 0) return;
  std::fprintf(stderr, "=== the failing allocation (%s):\n", allocator);
  PrintStack();
}

std::new_handler g_library_handler = nullptr;
void PrintStackThenHandle() {
  PrintFailingStack("operator new");
  if (g_library_handler != nullptr) g_library_handler();
  throw std::bad_alloc();
}

int FailMal(size_t) {
  if (!AllocationShouldFail()) return 0;
  PrintFailingStack("library allocator");
  return 1;
}

// One call of the step with the `nth` allocation failing (0: none). Sets
// *met when the failure was reached and *counted to the allocations seen.
int Call(const SweepCalls &calls, long nth, bool *met, long *counted, bool *threw) {
  const int failed_before = FailedAllocations();
  FailAllocations(nth > 0 ? static_cast<int>(nth - 1) : 1 << 30, 1);
  const int skips_before = PendingSkips();
  int rc = 0;
  *threw = false;
  try {
    rc = calls.step();
  } catch (...) {
    *threw = true;
    rc = -1;
  }
  const int failed = FailedAllocations() - failed_before;
  *counted = skips_before - PendingSkips() + failed;
  StopFailingAllocations();
  *met = failed > 0;
  return rc;
}

void Undo(const SweepCalls &calls) {
  if (calls.undo) calls.undo();
}

// What one try found.
struct TryResult {
  bool met = false;     // the failure was reached
  long counted = 0;     // allocations of the armed call
  bool leaked = false;  // the leak check found a leak
  std::string faults;   // "<what>\n" per fault
};

// Try `nth`: the armed call, undo, a leak check (unless `check_leaks` is
// false), the clean call and undo again.
TryResult RunTry(const SweepCalls &calls, long nth, bool check_leaks) {
  TryResult r;
  bool threw = false;
  const int rc = Call(calls, nth, &r.met, &r.counted, &threw);
  if (threw) r.faults += "an exception left the calls\n";
  if (!r.met) {
    // The step ran out of allocations before its Nth: every one was tried.
    if (rc != 0 && !threw) r.faults += "the call without a failure gave " + std::to_string(rc) + "\n";
    Undo(calls);
    return r;
  }
  // A call may absorb a failure and succeed (a nothrow allocation with a
  // fallback, such as std::stable_sort's buffer); the step checks that its
  // result is right.
  if (rc != calls.memory_error && rc != 0 && !threw)
    r.faults += "the call gave " + std::to_string(rc) + ", not " + std::to_string(calls.memory_error) + "\n";
  Undo(calls);
  if (check_leaks) {
    std::fprintf(stderr, "%s%ld\n", kLeakMark, nth);
    std::fflush(stderr);
    if (LeakCheck() != 0) {
      r.leaked = true;
      r.faults += "leak (report of the log below)\n";
    }
  }
  bool met = false;
  long counted = 0;
  const int again = Call(calls, 0, &met, &counted, &threw);
  if (again != 0 || threw)
    r.faults += "the next clean call gave " + std::to_string(again) + (threw ? " (threw)" : "") + "\n";
  Undo(calls);
  return r;
}

// Try `nth` in a process forked from this one; its result comes back
// through a file.
TryResult RunTryInChild(const SweepCalls &calls, long nth, const std::string &path) {
  std::remove(path.c_str());
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const TryResult r = RunTry(calls, nth, true);
    std::ofstream(path) << r.met << ' ' << r.counted << ' ' << r.leaked << '\n' << r.faults;
    std::_Exit(0);  // the leak check ran; the exit handlers belong to the sweep's process
  }
  int status = 0;
  waitpid(pid, &status, 0);
  TryResult r;
  std::ifstream in(path);
  if (!(in >> r.met >> r.counted >> r.leaked)) {
    r.met = true;  // a try that died met something
    r.faults = "the try's process ended with status " + std::to_string(status) + "\n";
    return r;
  }
  in.get();
  r.faults.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// The body of the child: returns its findings.
SweepOutcome RunSweep(const SweepCalls &calls, const std::string &log_path) {
  SweepOutcome out;
  std::ostringstream faults;
  int fault_count = 0;
  const auto fault = [&](long nth, const std::string &what) {
    if (++fault_count <= kMaxFaults) faults << "allocation " << nth << ": " << what;
  };
  if (calls.setup && calls.setup() != 0) {
    fault(0, "setup failed\n");
    out.faults = faults.str();
    return out;
  }
  mal_set_failure_hook(FailMal);
  bool leak_seen = false;
  if (const long only = SingleTry()) {
    g_library_handler = std::set_new_handler(PrintStackThenHandle);
    const TryResult r = RunTry(calls, only, true);
    std::set_new_handler(g_library_handler);
    mal_set_failure_hook(nullptr);
    if (!r.faults.empty()) fault(only, r.faults);
    out.tries = r.met;
    out.allocations = r.counted;
    out.faults = faults.str();
    return out;
  }
  for (long nth = 1;; ++nth) {
    const TryResult r = calls.fresh_process_per_try
                            ? RunTryInChild(calls, nth, log_path + ".try")
                            : RunTry(calls, nth, !leak_seen);
    leak_seen = leak_seen || r.leaked;
    // A fault of several lines counts once.
    if (!r.faults.empty()) fault(nth, r.faults);
    if (!r.met) {
      out.allocations = r.counted;
      break;
    }
    ++out.tries;
  }
  mal_set_failure_hook(nullptr);
  if (fault_count > kMaxFaults)
    faults << "... and " << fault_count - kMaxFaults << " more faults\n";
  out.faults = faults.str();
  return out;
}

// The first sanitizer report of the child's log, shortened to its frames in
// the library's and the tests' sources.
std::string ReportFrames(const std::string &log_path) {
  std::ifstream log(log_path);
  std::string where;
  bool in_report = false;
  int frames = 0;
  for (std::string line; std::getline(log, line) && frames < 40;) {
    if (line.rfind(kLeakMark, 0) == 0) {
      if (in_report) break;  // a later check reports the same leak again
      continue;
    }
    if (line.find("LeakSanitizer: detected memory leaks") != std::string::npos ||
        line.find("ERROR: AddressSanitizer") != std::string::npos ||
        line.find("runtime error") != std::string::npos) {
      if (!in_report) where += line + "\n";
      in_report = true;
    }
    if (!in_report) continue;
    if (line.find("leak of") != std::string::npos) {
      where += line + "\n";
      continue;
    }
    const std::size_t at = line.find("/src/");
    const std::size_t test_at = line.find("/tests/");
    if (at != std::string::npos || test_at != std::string::npos) {
      where += "  " + line.substr(line.find(" in ") != std::string::npos ? line.find(" in ") + 4 : 0) + "\n";
      ++frames;
    }
  }
  return where;
}

}  // namespace

SweepOutcome SweepAllocations(const SweepCalls &calls, const std::string &log_path,
                              int limit_seconds) {
  const std::string result_path = log_path + ".result";
  std::remove(result_path.c_str());
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (SingleTry() == 0 && std::freopen(log_path.c_str(), "w", stderr) == nullptr) std::_Exit(90);
    std::set_terminate([] {
      PrintStack();
      std::abort();
    });
    const SweepOutcome out = RunSweep(calls, log_path);
    std::ofstream(result_path) << out.tries << ' ' << out.allocations << '\n' << out.faults;
    // exit, not _Exit: the library's exit handlers (logoff of the drivers)
    // run, and a leak the sweep left shows once more at exit (status 23).
    std::exit(0);
  }
  SweepOutcome out;
  std::string problem;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        problem = "the sweep's process ended with status " + std::to_string(status) + "\n";
      break;
    }
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(limit_seconds)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      problem = "the sweep ran longer than " + std::to_string(limit_seconds) + " s\n";
      break;
    }
    usleep(20000);
  }
  std::ifstream result(result_path);
  if (!(result >> out.tries >> out.allocations)) {
    problem += "the sweep left no result\n";
  } else {
    std::string rest((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
    if (!rest.empty() && rest.front() == '\n') rest.erase(0, 1);
    out.faults = rest;
  }
  out.faults += problem;
  if (!out.faults.empty()) out.faults += ReportFrames(log_path);
  return out;
}

void ReportSweep(const char *what, const SweepOutcome &out) {
  std::printf("%s: %ld allocations in a clean call, %ld tries met their failure\n", what,
              out.allocations, out.tries);
}

}  // namespace molvane::test
