// How the threads of a driver server share what its connections share.
//
// Each client connection of a server has a worker thread that carries out
// its requests; the poll loop only moves bytes. Everything the connections
// share (the sessions' store, row and table locks, kept batches,
// dictionaries, and the library code the driver runs) is used under one
// mutex, the monitor. The monitor is handed on in the order threads asked
// for it, and long work (a query stepping in SQLite) offers it to waiting
// threads every hundred steps (Yield), so a long query holds up no other
// host's keyed read or commit.
//
// A request that needs the write transaction while another session holds
// it is parked: it joins a first-come queue with its deadline and its
// thread sleeps without the monitor until the transaction ends. Only the
// request at the head of the queue tries to begin, so a write that arrives
// while others wait goes behind them. Its deadline moves on each time the
// queue moves: a request is refused when one transaction held the file
// for the whole wait, not because many short ones were ahead of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace molvane::driver {

class DriverMonitor {
 public:
  using Clock = std::chrono::steady_clock;

  // The monitor, in the order asked for.
  void Lock();
  void Unlock();
  // Called with the monitor held inside long work: threads that wait for
  // it go first, then the caller has it again.
  void Yield();

  // A request parked for the write transaction: its place in the queue
  // (a ticket). Called with the monitor held.
  std::uint64_t Park();
  // The ticket is at the head of the queue: its request may try to begin.
  bool First(std::uint64_t ticket) const;
  // How many parked requests are ahead of the ticket.
  std::size_t Position(std::uint64_t ticket) const;
  // The request leaves the queue (it began, or its wait is over).
  void Leave(std::uint64_t ticket);
  // The head of the queue began its write transaction: the queue moved.
  void Began() { ++turns_; }
  // How often the queue moved so far: a request waits as long as it moves.
  std::uint64_t turns() const { return turns_; }
  // Releases the monitor and sleeps until a write transaction may have
  // ended (WriteEnded) or `until`, then takes the monitor again.
  void Sleep(Clock::time_point until);
  // A write transaction may have ended, or a parked request's connection
  // is being ended: parked requests look again. Called with the monitor
  // held, or by the loop to wake a request whose host went away.
  void WriteEnded();

 private:
  std::mutex mu_;
  std::condition_variable turn_;     // the monitor changed hands
  std::uint64_t next_ = 0;           // the next thread's number
  std::uint64_t serving_ = 0;        // the number of the thread that holds it
  std::condition_variable written_;  // a write transaction may have ended
  std::uint64_t writes_ = 0;
  std::uint64_t next_ticket_ = 1;
  std::uint64_t turns_ = 0;    // under the monitor
  std::deque<std::uint64_t> parked_;  // the tickets in their order (under the monitor)
};

// Holds the monitor for a scope; does nothing without one (a child or
// in-process driver has a single thread).
class MonitorGuard {
 public:
  explicit MonitorGuard(DriverMonitor *monitor) : monitor_(monitor) {
    if (monitor_ != nullptr) monitor_->Lock();
  }
  ~MonitorGuard() {
    if (monitor_ != nullptr) monitor_->Unlock();
  }
  MonitorGuard(const MonitorGuard &) = delete;
  MonitorGuard &operator=(const MonitorGuard &) = delete;

 private:
  DriverMonitor *monitor_;
};

}  // namespace molvane::driver
