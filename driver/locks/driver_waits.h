// Who waits for whom among the sessions of a driver server, so that no
// circle of waits can close: a wait begins only when the sessions it would
// wait for do not, through the waits under way, wait for its own host.
//
// The sessions of one host count as one party (the host as the server
// knows it: on a Unix socket the peer's process id), so that a host never
// waits for its own other connection either. Each wait under way is kept
// with a function that names, when asked, the sessions it waits for now
// (the holder of its row, the session that holds the write transaction):
// the relation is read as it stands whenever a wait begins or its holder
// changes, never kept stale. Used only with the monitor held.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace molvane::driver {

class WaitsFor {
 public:
  using Party = std::uint64_t;
  // The party of a session; sessions of one host share one.
  using PartyOf = std::function<Party(std::uint32_t session)>;
  // The sessions a wait waits for now (none: it may go on).
  using Blockers = std::function<std::vector<std::uint32_t>()>;

  explicit WaitsFor(PartyOf party_of) : party_of_(std::move(party_of)) {}

  // A wait of `session` is under way until End.
  std::uint64_t Begin(std::uint32_t session, Blockers blockers);
  void End(std::uint64_t wait);
  // The circle a wait of `session` for `blockers` would close: the sessions
  // it would wait for through, from the first it would wait for to the one
  // that waits for its host; empty when it closes none. A blocker of its
  // own host is a circle of its own.
  std::vector<std::uint32_t> Circle(std::uint32_t session, const std::vector<std::uint32_t> &blockers) const;

 private:
  struct Wait {
    std::uint32_t session;
    Blockers blockers;
  };
  PartyOf party_of_;
  std::uint64_t next_ = 1;
  std::map<std::uint64_t, Wait> waits_;
};

// A wait's entry in the relation for a scope.
class WaitEntry {
 public:
  WaitEntry(WaitsFor &waits, std::uint32_t session, WaitsFor::Blockers blockers)
      : waits_(waits), id_(waits.Begin(session, std::move(blockers))) {}
  ~WaitEntry() { waits_.End(id_); }
  WaitEntry(const WaitEntry &) = delete;
  WaitEntry &operator=(const WaitEntry &) = delete;

 private:
  WaitsFor &waits_;
  std::uint64_t id_;
};

}  // namespace molvane::driver
