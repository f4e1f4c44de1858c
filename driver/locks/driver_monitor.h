// How the threads of a driver server share what its connections share:
// the monitor, in three pieces over one waiting policy (WaitBound): the
// hand-off of the one mutex (MonitorHandOff), the write queue (WriteQueue)
// and the row waiters (RowWaiters).
//
// Each client connection of a server has a worker thread that carries out
// its requests; the poll loop only moves bytes. Everything the connections
// share (the sessions' store, row and table locks, kept batches,
// dictionaries, and the library code the driver runs) is used under one
// mutex, the monitor. The monitor is handed on in the order threads asked
// for it, each waiting thread woken alone when its turn comes; the thread
// next in line is woken a turn early and spins a while (unless the machine
// is crowded), so that the monitor does not sit idle while a sleeping
// thread is scheduled. Long work (a query stepping in SQLite) offers it to
// waiting threads every hundred steps (Yield), so a long query holds up no
// other host's keyed read or commit.
//
// A request that needs the write transaction while another session holds
// it is parked: it joins a first-come queue and its thread sleeps without
// the monitor. Only the request at the head of the queue tries to begin,
// so a write that arrives while others wait goes behind them, and only the
// head is woken when a write transaction ends; the next one is woken when
// the head leaves. The caller keeps the deadline: a request is refused
// when one transaction held the file for the whole wait, not because many
// short ones were ahead of it.
//
// A locked read of a row that another host's session holds waits the same
// way among the row waiters: it sleeps until its row is free (asked with
// the monitor held), in order of arrival, one waiter of a row woken at a
// time, so that the hosts that want a hot row take it in turn instead of
// each trying again and again. The waiters are kept by row, and each
// row's line under the session that holds the row: a release looks only
// at the rows of the sessions that released, so that it costs what it
// frees, not what others wait for.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace molvane::driver {

// The one waiting policy of a server's waits, for the write transaction
// and for a row alike: a wait is over (the request answers 107) when one
// holder has kept what it waits for for `bound` of it, whoever else comes
// and goes meanwhile; the bound starts again only when what it waits for
// changes hands, and no wait lasts longer in all than kMaxWait or the
// bound, whichever is longer (a bound set above kMaxWait holds: the first
// holder is waited for that long, and its successors in what is left).
class WaitBound {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kMaxWait{20000};
  // `holder` names who holds what the request waits for as it starts to
  // wait (a session, or a count of the hands it went through).
  WaitBound(std::chrono::milliseconds bound, std::uint64_t holder)
      : bound_(bound), holder_(holder), start_(Clock::now()), deadline_(start_ + bound) {}
  // What the request waits for is held by `holder` at `now`: false when
  // the wait is over.
  bool Goes(std::uint64_t holder, Clock::time_point now) {
    if (holder != holder_) {
      holder_ = holder;
      deadline_ = std::min(now + bound_, start_ + std::max(kMaxWait, bound_));
    }
    return now < deadline_;
  }
  Clock::time_point start() const { return start_; }
  Clock::time_point deadline() const { return deadline_; }

 private:
  std::chrono::milliseconds bound_;
  std::uint64_t holder_;
  Clock::time_point start_;
  Clock::time_point deadline_;
};

// The hand-off: the monitor, one mutex handed on in the order asked for,
// and the sleep of a request that waits without it (in the write queue or
// among the row waiters).
class MonitorHandOff {
 public:
  using Clock = std::chrono::steady_clock;

  // The monitor, in the order asked for. An `urgent` thread (one whose
  // connection holds what others may wait for: the write transaction, row
  // or table locks, or rows changed) goes before the others, behind the
  // urgent ones already waiting, so that what others wait for is not
  // kept behind their refused tries. It passes no thread that urgent
  // ones have passed kMaxPassed times already: a connection that holds
  // something for long does not starve the others.
  void Lock(bool urgent = false);
  void Unlock();
  // Called with the monitor held inside long work: threads that wait for
  // it go first, then the caller has it again, as urgent as it took it.
  void Yield();
  static constexpr int kMaxPassed = 8;
  // How many threads wait for the monitor.
  std::size_t waiting() const;

 protected:
  // A request that sleeps without the monitor until it is woken.
  struct Sleeper {
    std::condition_variable cv;
    std::uint64_t wakes = 0;  // how often it was woken
    std::uint64_t seen = 0;   // ... of which it has seen
  };
  // With mu_ held: the sleeper looks again (a wake that comes before it
  // sleeps counts, so none is lost between its try and its sleep).
  static void Wake(Sleeper &sleeper);
  // With mu_ held by `lock` and the monitor held: releases the monitor,
  // sleeps until `me` (if any) is woken or `until`, and takes the monitor
  // again, before the threads that hold nothing when it was woken.
  void SleepWithout(std::unique_lock<std::mutex> &lock, Sleeper *me, Clock::time_point until);
  mutable std::mutex mu_;

 private:
  struct Waiter {  // a thread waiting for the monitor
    // kGo when the monitor is handed to it: the thread waits on it without
    // mu_ and runs on without taking mu_ again. kNext while it is first in
    // line: it spins for a while (kSpin) before it sleeps.
    std::atomic<int> state{0};
    void Wait();
    bool urgent = false;  // it goes before the others
    int passed = 0;       // urgent threads that went before it
  };
  static constexpr int kAsleep = 0, kNext = 1, kGo = 2;
  static constexpr std::chrono::microseconds kSpin{200};
  // With mu_ held: takes the monitor, waiting for its turn; hands it on.
  void Acquire(std::unique_lock<std::mutex> &lock, bool urgent);
  void Release();

  bool held_ = false;             // a thread holds the monitor
  bool holder_urgent_ = false;    // ... which took it as urgent
  std::deque<Waiter *> waiting_;  // threads waiting for it, in order
};

// The write queue: the requests parked for the write transaction, first
// come, first served. Called with the monitor held.
class WriteQueue : protected virtual MonitorHandOff {
 public:
  // A request parked for the write transaction: its place in the queue
  // (a ticket). ParkedTicket below leaves the queue for its holder.
  std::uint64_t Park();
  // The ticket is at the head of the queue: its request may try to begin.
  bool First(std::uint64_t ticket) const;
  // How many parked requests are ahead of the ticket.
  std::size_t Position(std::uint64_t ticket) const;
  // The request leaves the queue (it began, or its wait is over); the next
  // one, now the head, is woken to try.
  void Leave(std::uint64_t ticket);
  // The head of the queue began its write transaction: the write
  // transaction changed hands.
  void Began() { ++turns_; }
  // How often the write transaction changed hands so far (WaitBound).
  std::uint64_t turns() const { return turns_; }
  // Releases the monitor and sleeps until the parked request is woken
  // (WriteEnded while it is the head, Leave of the head before it, WakeAll)
  // or `until`, then takes the monitor again, before the threads that do
  // not write when it was woken.
  void Sleep(std::uint64_t ticket, Clock::time_point until);
  // A write transaction ended: the head of the queue tries to begin.
  void WriteEnded();

 protected:
  // Every parked request looks again.
  void WakeParked();

 private:
  struct Parked : Sleeper {
    std::uint64_t ticket = 0;
  };
  std::list<Parked>::iterator Find(std::uint64_t ticket);
  std::list<Parked>::const_iterator Find(std::uint64_t ticket) const;

  std::uint64_t next_ticket_ = 1;
  std::uint64_t turns_ = 0;   // under the monitor
  std::list<Parked> parked_;  // the parked requests in their order
};

// The row waiters: the locked reads that wait for a row another session
// holds, in order of arrival by row, each row's line filed under the
// session that holds the row. Called with the monitor held.
class RowWaiters : protected virtual MonitorHandOff {
 public:
  // A request that waits for another session's lock on `row`: its place
  // among the row waiters; `holder` tells, with the monitor held, which
  // session holds the row against it now (0: the row is free for it).
  // LockTicket below leaves for its holder.
  std::uint64_t AwaitLock(std::string row, std::function<std::uint64_t()> holder);
  // Releases the monitor and sleeps until a release of the row's holder
  // (LocksReleased, or LeaveLock of the waiter before it) finds the row
  // free for it, WakeAll, or `until`; then takes the monitor again, before
  // the threads that hold nothing.
  void SleepForLock(std::uint64_t ticket, Clock::time_point until);
  // The waiter leaves (it took the row, or its wait is over); the next
  // waiter of the row is woken when the row is free for it.
  void LeaveLock(std::uint64_t ticket);
  // The sessions released locks: the first waiter of each row they held is
  // woken when its row is free.
  void LocksReleased(const std::vector<std::uint32_t> &sessions);
  // True while requests wait in the line of `row` (the first may have been
  // woken for it and not yet have taken it).
  bool Awaited(const std::string &row) const;

 protected:
  // Every row waiter looks again.
  void WakeRowWaiters();

 private:
  struct Waiting : Sleeper {
    std::string row;                         // the row it waits for
    std::function<std::uint64_t()> holder;   // ... who holds it against it
    std::list<Waiting *>::iterator in_line;  // ... and its place in the row's line
  };
  // The waiters of one row in their order, and the session whose release
  // the row's line waits for (kUnknown: any release).
  struct RowLine {
    std::list<Waiting *> waiters;
    std::uint64_t holder = kNone;
  };
  static constexpr std::uint64_t kNone = ~std::uint64_t{0};  // filed under no session
  static constexpr std::uint64_t kUnknown = 0;
  // With mu_ held: the first waiter of the row is woken when the row is
  // free for it, else the line is filed under the row's holder.
  void LookAt(const std::string &row, RowLine &line);
  // Files the line of `row` under `holder` (kNone: under none).
  void File(const std::string &row, RowLine &line, std::uint64_t holder);

  friend struct RowWaitersPeer;  // the tests' look at the lines kept

  std::uint64_t next_ticket_ = 1;
  std::unordered_map<std::uint64_t, Waiting> waiting_;  // the requests waiting for a row, by ticket
  std::unordered_map<std::string, RowLine> rows_;       // ... in their order by row
  // The rows whose lines wait for a session's release, by session.
  std::unordered_map<std::uint64_t, std::unordered_set<std::string>> rows_held_by_;
};

// The monitor of a driver server: the hand-off, the write queue and the
// row waiters over it.
class DriverMonitor : public virtual MonitorHandOff, public WriteQueue, public RowWaiters {
 public:
  // Every parked request and row waiter looks again: a connection is being
  // ended (its request gives up) or the server stops. Called with or
  // without the monitor.
  void WakeAll() {
    WakeParked();
    WakeRowWaiters();
  }
};

// A request's place among the row waiters for a scope (AwaitLock, and
// LeaveLock on every way out). Made and ended with the monitor held.
class LockTicket {
 public:
  LockTicket(DriverMonitor &monitor, std::string row, std::function<std::uint64_t()> holder)
      : monitor_(monitor), ticket_(monitor.AwaitLock(std::move(row), std::move(holder))) {}
  ~LockTicket() { monitor_.LeaveLock(ticket_); }
  LockTicket(const LockTicket &) = delete;
  LockTicket &operator=(const LockTicket &) = delete;
  std::uint64_t get() const { return ticket_; }

 private:
  DriverMonitor &monitor_;
  std::uint64_t ticket_;
};

// A request's place in the write queue for a scope: Park, and Leave on
// every way out, an exception's included, so that no ticket is left at the
// head of the queue to hold up every later write.
class ParkedTicket {
 public:
  explicit ParkedTicket(DriverMonitor &monitor) : monitor_(monitor), ticket_(monitor.Park()) {}
  ~ParkedTicket() { monitor_.Leave(ticket_); }
  ParkedTicket(const ParkedTicket &) = delete;
  ParkedTicket &operator=(const ParkedTicket &) = delete;
  std::uint64_t get() const { return ticket_; }

 private:
  DriverMonitor &monitor_;
  std::uint64_t ticket_;
};

// Holds the monitor for a scope; does nothing without one (a child or
// in-process driver has a single thread).
class MonitorGuard {
 public:
  explicit MonitorGuard(DriverMonitor *monitor, bool urgent = false) : monitor_(monitor) {
    if (monitor_ != nullptr) monitor_->Lock(urgent);
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
