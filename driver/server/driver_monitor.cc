#include "server/driver_monitor.h"

#include <algorithm>

namespace molvane::driver {

void DriverMonitor::Lock() {
  std::unique_lock<std::mutex> lock(mu_);
  const std::uint64_t mine = next_++;
  turn_.wait(lock, [&] { return serving_ == mine; });
}

void DriverMonitor::Unlock() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++serving_;
  }
  turn_.notify_all();
}

void DriverMonitor::Yield() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (next_ - serving_ <= 1) return;  // nobody waits
  }
  Unlock();
  Lock();
}

std::uint64_t DriverMonitor::Park() {
  parked_.push_back(next_ticket_);
  return next_ticket_++;
}

bool DriverMonitor::First(std::uint64_t ticket) const {
  return !parked_.empty() && parked_.front() == ticket;
}

std::size_t DriverMonitor::Position(std::uint64_t ticket) const {
  return static_cast<std::size_t>(std::find(parked_.begin(), parked_.end(), ticket) - parked_.begin());
}

void DriverMonitor::Leave(std::uint64_t ticket) {
  auto it = std::find(parked_.begin(), parked_.end(), ticket);
  if (it == parked_.end()) return;
  const bool head = it == parked_.begin();
  parked_.erase(it);
  if (head) WriteEnded();  // the next one may try now
}

void DriverMonitor::Sleep(Clock::time_point until) {
  std::uint64_t seen;
  {
    std::lock_guard<std::mutex> lock(mu_);
    seen = writes_;
  }
  Unlock();
  {
    std::unique_lock<std::mutex> lock(mu_);
    written_.wait_until(lock, until, [&] { return writes_ != seen; });
  }
  Lock();
}

void DriverMonitor::WriteEnded() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++writes_;
  }
  written_.notify_all();
}

}  // namespace molvane::driver
