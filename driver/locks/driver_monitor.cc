#include "locks/driver_monitor.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "ipc/ipc_transport.h"

namespace molvane::driver {

void MonitorHandOff::Acquire(std::unique_lock<std::mutex> &lock, bool urgent) {
  if (!held_ && waiting_.empty()) {
    held_ = true;
    holder_urgent_ = urgent;
    return;
  }
  // The waiter outlives the wait: Release may still be waking it when the
  // thread runs on, and it does so under mu_, which the thread needs before
  // it can end.
  thread_local Waiter me;
  me.state.store(kAsleep, std::memory_order_relaxed);
  me.urgent = urgent;
  me.passed = 0;
  // An urgent thread goes behind the urgent ones already waiting and the
  // ones passed often enough; it passes the rest.
  auto at = waiting_.end();
  if (urgent) {
    auto last = std::find_if(waiting_.rbegin(), waiting_.rend(),
                             [](const Waiter *w) { return w->urgent || w->passed >= kMaxPassed; });
    at = last.base();
    for (auto it = at; it != waiting_.end(); ++it) ++(*it)->passed;
  }
  waiting_.insert(at, &me);
  // The thread next in line stays awake: when the monitor comes it runs at
  // once instead of waiting to be scheduled.
  if (waiting_.front() == &me) {
    if (waiting_.size() > 1 && waiting_[1]->state.load(std::memory_order_relaxed) == kNext)
      waiting_[1]->state.store(kAsleep, std::memory_order_relaxed);
    me.state.store(kNext, std::memory_order_relaxed);
  }
  lock.unlock();
  me.Wait();
}

void MonitorHandOff::Waiter::Wait() {
  // On a crowded machine the thread next in line sleeps like the others:
  // its spin would keep the holder, or the host the holder waits for, from
  // running.
  const bool spin = molvane::ipc::ipc_watch_pays();
  auto spin_until = Clock::now() + kSpin;
  for (int n = 1;; ++n) {
    const int s = state.load(std::memory_order_acquire);
    if (s == kGo) return;
    if (spin && s == kNext && (n % 64 != 0 || Clock::now() < spin_until)) {
      if (n % 16 == 15) std::this_thread::yield();
      continue;
    }
    state.wait(s, std::memory_order_acquire);
    spin_until = Clock::now() + kSpin;
  }
}

void MonitorHandOff::Release() {
  if (waiting_.empty()) {
    held_ = false;
    return;
  }
  // Handed straight to the next thread: nobody can take it in between.
  Waiter *next = waiting_.front();
  waiting_.pop_front();
  holder_urgent_ = next->urgent;
  next->state.store(kGo, std::memory_order_release);
  next->state.notify_one();
  if (!waiting_.empty()) {
    Waiter *after = waiting_.front();
    if (after->state.exchange(kNext, std::memory_order_relaxed) == kAsleep) after->state.notify_one();
  }
}

void MonitorHandOff::Lock(bool urgent) {
  std::unique_lock<std::mutex> lock(mu_);
  Acquire(lock, urgent);
}

void MonitorHandOff::Unlock() {
  std::lock_guard<std::mutex> lock(mu_);
  Release();
}

void MonitorHandOff::Yield() {
  std::unique_lock<std::mutex> lock(mu_);
  if (waiting_.empty()) return;
  const bool urgent = holder_urgent_;
  Release();
  Acquire(lock, urgent);
}

std::size_t MonitorHandOff::waiting() const {
  std::lock_guard<std::mutex> lock(mu_);
  return waiting_.size();
}

void MonitorHandOff::Wake(Sleeper &sleeper) {
  ++sleeper.wakes;
  sleeper.cv.notify_one();
}

void MonitorHandOff::SleepWithout(std::unique_lock<std::mutex> &lock, Sleeper *me, Clock::time_point until) {
  const bool urgent = holder_urgent_;
  Release();
  if (me != nullptr) {  // it stays where it is until its own leave
    me->cv.wait_until(lock, until, [&] { return me->wakes != me->seen; });
    const bool woken = me->wakes != me->seen;
    me->seen = me->wakes;
    Acquire(lock, woken || urgent);
    return;
  }
  Acquire(lock, urgent);
}

// ---- The write queue ----

std::uint64_t WriteQueue::Park() {
  std::lock_guard<std::mutex> lock(mu_);
  parked_.emplace_back().ticket = next_ticket_;
  return next_ticket_++;
}

std::list<WriteQueue::Parked>::iterator WriteQueue::Find(std::uint64_t ticket) {
  return std::find_if(parked_.begin(), parked_.end(), [&](const Parked &p) { return p.ticket == ticket; });
}

std::list<WriteQueue::Parked>::const_iterator WriteQueue::Find(std::uint64_t ticket) const {
  return std::find_if(parked_.begin(), parked_.end(), [&](const Parked &p) { return p.ticket == ticket; });
}

bool WriteQueue::First(std::uint64_t ticket) const {
  std::lock_guard<std::mutex> lock(mu_);
  return !parked_.empty() && parked_.front().ticket == ticket;
}

std::size_t WriteQueue::Position(std::uint64_t ticket) const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<std::size_t>(std::distance(parked_.begin(), Find(ticket)));
}

void WriteQueue::Leave(std::uint64_t ticket) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = Find(ticket);
  if (it == parked_.end()) return;
  const bool head = it == parked_.begin();
  parked_.erase(it);
  if (head && !parked_.empty()) Wake(parked_.front());  // the next one may try now
}

void WriteQueue::Sleep(std::uint64_t ticket, Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mu_);
  auto it = Find(ticket);
  SleepWithout(lock, it != parked_.end() ? &*it : nullptr, until);
}

void WriteQueue::WriteEnded() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!parked_.empty()) Wake(parked_.front());
}

void WriteQueue::WakeParked() {
  std::lock_guard<std::mutex> lock(mu_);
  for (Parked &p : parked_) Wake(p);
}

// ---- The row waiters ----

void RowWaiters::WakeRowWaiters() {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto &[ticket, w] : waiting_) Wake(w);
}

std::uint64_t RowWaiters::AwaitLock(std::string row, std::function<std::uint64_t()> holder) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::uint64_t ticket = next_ticket_++;
  Waiting &me = waiting_[ticket];
  me.holder = std::move(holder);
  RowLine &line = rows_[row];
  me.in_line = line.waiters.insert(line.waiters.end(), &me);
  me.row = std::move(row);
  return ticket;
}

void RowWaiters::SleepForLock(std::uint64_t ticket, Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mu_);
  auto it = waiting_.find(ticket);
  if (it == waiting_.end()) return SleepWithout(lock, nullptr, until);
  // The first waiter of a row files its line under the row's holder, whose
  // release then looks at it.
  Waiting &me = it->second;
  RowLine &line = rows_[me.row];
  if (line.waiters.front() == &me) {
    const std::uint64_t holder = me.holder();
    File(me.row, line, holder != 0 ? holder : kUnknown);
  }
  SleepWithout(lock, &me, until);
}

void RowWaiters::File(const std::string &row, RowLine &line, std::uint64_t holder) {
  if (line.holder == holder) return;
  if (line.holder != kNone) {
    auto held = rows_held_by_.find(line.holder);
    if (held != rows_held_by_.end()) {
      held->second.erase(row);
      if (held->second.empty()) rows_held_by_.erase(held);
    }
  }
  line.holder = holder;
  if (holder != kNone) rows_held_by_[holder].insert(row);
}

void RowWaiters::LookAt(const std::string &row, RowLine &line) {
  Waiting &first = *line.waiters.front();
  if (first.wakes != first.seen) return;  // woken already: it looks itself
  const std::uint64_t holder = first.holder();
  if (holder == 0) {
    File(row, line, kNone);
    Wake(first);
  } else {
    File(row, line, holder);
  }
}

void RowWaiters::LeaveLock(std::uint64_t ticket) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = waiting_.find(ticket);
  if (it == waiting_.end()) return;
  Waiting &me = it->second;
  auto at = rows_.find(me.row);
  RowLine &line = at->second;
  // Only the first waiter of a row is ever woken for it: when it goes, the
  // next one looks whether the row is free for it now.
  const bool first = line.waiters.front() == &me;
  line.waiters.erase(me.in_line);
  if (line.waiters.empty()) {
    File(at->first, line, kNone);
    rows_.erase(at);
  } else if (first) {
    LookAt(at->first, line);
  }
  waiting_.erase(it);
}

bool RowWaiters::Awaited(const std::string &row) const {
  std::lock_guard<std::mutex> lock(mu_);
  return rows_.count(row) != 0;
}

void RowWaiters::LocksReleased(const std::vector<std::uint32_t> &sessions) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> rows;  // the lines to look at: filed under these sessions, or unknown
  for (std::uint64_t holder : sessions) {
    auto held = rows_held_by_.find(holder);
    if (held != rows_held_by_.end()) rows.insert(rows.end(), held->second.begin(), held->second.end());
  }
  if (auto unknown = rows_held_by_.find(kUnknown); unknown != rows_held_by_.end())
    rows.insert(rows.end(), unknown->second.begin(), unknown->second.end());
  for (const std::string &row : rows)
    if (auto line = rows_.find(row); line != rows_.end()) LookAt(row, line->second);
}

}  // namespace molvane::driver
