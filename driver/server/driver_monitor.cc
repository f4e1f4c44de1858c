#include "server/driver_monitor.h"

#include <algorithm>

namespace molvane::driver {

void DriverMonitor::Acquire(std::unique_lock<std::mutex> &lock, bool urgent) {
  if (!held_ && waiting_.empty()) {
    held_ = true;
    holder_urgent_ = urgent;
    return;
  }
  Waiter me;
  me.urgent = urgent;
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
  me.cv.wait(lock, [&] { return me.go; });
  holder_urgent_ = urgent;
}

void DriverMonitor::Release() {
  if (waiting_.empty()) {
    held_ = false;
    return;
  }
  // Handed straight to the next thread: nobody can take it in between.
  // Notified under mu_, as the waiter's condition lives on its stack.
  Waiter *next = waiting_.front();
  waiting_.pop_front();
  next->go = true;
  next->cv.notify_one();
}

void DriverMonitor::Lock(bool urgent) {
  std::unique_lock<std::mutex> lock(mu_);
  Acquire(lock, urgent);
}

void DriverMonitor::Unlock() {
  std::lock_guard<std::mutex> lock(mu_);
  Release();
}

void DriverMonitor::Yield() {
  std::unique_lock<std::mutex> lock(mu_);
  if (waiting_.empty()) return;
  const bool urgent = holder_urgent_;
  Release();
  Acquire(lock, urgent);
}

std::size_t DriverMonitor::waiting() const {
  std::lock_guard<std::mutex> lock(mu_);
  return waiting_.size();
}

std::uint64_t DriverMonitor::Park() {
  std::lock_guard<std::mutex> lock(mu_);
  parked_.emplace_back().ticket = next_ticket_;
  return next_ticket_++;
}

std::list<DriverMonitor::Parked>::iterator DriverMonitor::FindParked(std::uint64_t ticket) {
  return std::find_if(parked_.begin(), parked_.end(), [&](const Parked &p) { return p.ticket == ticket; });
}

bool DriverMonitor::First(std::uint64_t ticket) const {
  std::lock_guard<std::mutex> lock(mu_);
  return !parked_.empty() && parked_.front().ticket == ticket;
}

std::size_t DriverMonitor::Position(std::uint64_t ticket) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::size_t ahead = 0;
  for (const Parked &p : parked_) {
    if (p.ticket == ticket) break;
    ++ahead;
  }
  return ahead;
}

void DriverMonitor::Wake(Parked &parked) {
  ++parked.wakes;
  parked.cv.notify_one();
}

void DriverMonitor::Leave(std::uint64_t ticket) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = FindParked(ticket);
  if (it == parked_.end()) return;
  const bool head = it == parked_.begin();
  parked_.erase(it);
  if (head && !parked_.empty()) Wake(parked_.front());  // the next one may try now
}

void DriverMonitor::Sleep(std::uint64_t ticket, Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mu_);
  auto it = FindParked(ticket);
  const bool urgent = holder_urgent_;
  Release();
  if (it != parked_.end()) {
    Parked &me = *it;  // stays in the list until its own Leave
    me.cv.wait_until(lock, until, [&] { return me.wakes != me.seen; });
    const bool woken = me.wakes != me.seen;
    me.seen = me.wakes;
    Acquire(lock, woken || urgent);
    return;
  }
  Acquire(lock, urgent);
}

void DriverMonitor::WriteEnded() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!parked_.empty()) Wake(parked_.front());
}

void DriverMonitor::WakeAll() {
  std::lock_guard<std::mutex> lock(mu_);
  for (Parked &p : parked_) Wake(p);
}

}  // namespace molvane::driver
