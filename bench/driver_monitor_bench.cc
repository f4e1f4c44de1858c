// What a release costs a driver server's monitor while locked reads wait:
// `waiters` requests wait, each for its own row, each row held by a session
// of its own; one holder ends its transaction and the monitor looks for
// the waiters it may wake (DriverMonitor::LocksReleased of that session). The anchor: one
// look at every waiter (the question whether its row is free), the least a
// release costs that goes through all of them. `ratio` is the release's
// time divided by the anchor's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "locks/driver_monitor.h"

namespace {

using molvane::driver::DriverMonitor;
using molvane::driver::LockTicket;
using Clock = std::chrono::steady_clock;

// Row i is held by session i + 1; a row is free when its holder is 0.
struct Rows {
  explicit Rows(int n) : holders(static_cast<std::size_t>(n)) {
    for (int i = 0; i < n; ++i) holders[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i + 1);
  }
  static std::string Name(int i) { return "exdep010001" + std::string(1, '\0') + "Q" + std::to_string(i); }
  std::vector<std::uint32_t> holders;
};

void BM_ReleaseAmongWaiters(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  Rows rows(n);
  DriverMonitor monitor;
  std::vector<std::unique_ptr<LockTicket>> waiting;
  for (int i = 0; i < n; ++i) {
    const auto at = static_cast<std::size_t>(i);
    waiting.push_back(std::make_unique<LockTicket>(monitor, Rows::Name(i),
                                                   [&rows, at] { return std::uint64_t{rows.holders[at]}; }));
    monitor.SleepForLock(waiting.back()->get(), Clock::now());  // its row is filed under its holder
  }
  const std::vector<std::uint32_t> releasing{static_cast<std::uint32_t>(n)};
  double release = 0, anchor = 0;
  for (auto _ : state) {
    // The last holder releases; nothing else is free.
    const auto start = Clock::now();
    monitor.LocksReleased(releasing);
    const auto middle = Clock::now();
    std::size_t free = 0;
    for (std::size_t i = 0; i < rows.holders.size(); ++i) free += rows.holders[i] == 0;
    benchmark::DoNotOptimize(free);
    const auto end = Clock::now();
    release += std::chrono::duration<double>(middle - start).count();
    anchor += std::chrono::duration<double>(end - middle).count();
    state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
  }
  state.counters["anchor_us"] = anchor / static_cast<double>(state.iterations()) * 1e6;
  state.counters["ratio"] = anchor > 0 ? release / anchor : 0;
}
BENCHMARK(BM_ReleaseAmongWaiters)->Arg(100)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
