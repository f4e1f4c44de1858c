// What one SQL UPDATE or DELETE of a driver connection holds on its way
// to run, and the one place that gives each thing back.
//
// In a driver server a statement takes, in this order: its turn at the
// table (no lock of the table, no other statement running on it and no
// lock, clear or drop of it waiting ahead), the rows it would change (in
// the order of their keys, free or waited for as a locked read waits),
// and then the write transaction. It never waits while it holds what it
// took: before any wait it gives back its rows, and the write transaction
// when it began that itself (nothing of it is in the transaction yet), so
// that a record transaction, which may lock rows in any order and hold the
// write transaction while it asks, never waits for it in a circle. While
// it waits for the write transaction it lends its rows to a session that
// asks for one (a locked read, a batch) at most kLends times; after that
// it keeps its rows and its place, and the others wait behind it as behind
// any holder. One whose wait for it would close a circle (the holder of
// the write transaction it waits for) is lent them whenever it asks: the
// statement waits for that one anyway, and one of the two would be
// refused. Its own write's wait that would close a circle through its rows
// lends them at most kLends times too; then the circle is refused.
//
// Every wait of the statement ends: each is bounded as any wait of the
// server is (WaitBound), and all of them together by the statement's
// time-out (313) and by the longest wait of the server (WaitBound::kMaxWait,
// or the bound when it is longer; then 107).
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sql/sql_agent.h"
#include "store/driver_data.h"

namespace molvane::driver {

class DriverConnection;
class DriverSession;

class StatementRows {
 public:
  using Clock = std::chrono::steady_clock;
  // What the statement holds at each step.
  enum class Holds {
    kNothing,  // no statement runs, or it holds nothing yet
    kRows,     // the rows it took (and its turn at the table)
    kQueued,   // ... while it waits for the write transaction: it may lend them
    kWrite,    // ... and the write transaction (begun or joined)
    kRunning,  // ... and it runs on the table (DataPlane::StatementStarts)
  };
  static constexpr int kLends = 4;

  explicit StatementRows(DriverConnection &conn) : c_(conn) {}

  // The agent's `locked`: true when the statement takes its rows first (a
  // server statement that will wait for the write transaction, or another
  // session holds locks on the table).
  bool NeedsRows(std::uint32_t id, const std::string &table, int physical) const;
  // The agent's `rows_free`: takes the table's turn and the rows `find`
  // finds, and the write transaction again when it held it before and gave
  // it back for a wait. True when it holds them; throws the lock error (or
  // the time-out) when a wait is refused, with everything given back.
  bool Take(std::uint32_t id, const std::string &table, int physical, const AgentContext::RowFinder &find);
  // The agent's `begin`: the write transaction, taking the rows again
  // whenever it lent them. False when the database refused.
  bool Begin(std::uint32_t id);
  // The agent's `changing` and `changed`.
  void Starts(std::uint32_t id, const std::string &table, int physical);
  void Ended(std::uint32_t id, const std::string &table, int physical, const SQLException *failure);
  // Session `to` wants `row`, which the statement took and holds while it
  // waits for the write transaction: true when it lent every row it took
  // (it takes them again behind that one); false when it holds no such
  // row, or once it lent them kLends times unless a wait of `to` for it
  // would close a circle.
  bool Lend(std::uint32_t to, const RowRef &row);
  // A wait of the statement's write for `holder` would close a circle:
  // true when the statement lent its rows and the circle is gone.
  bool LendForCircle(std::uint32_t holder);
  // The statement lent its rows during its wait for the write transaction.
  bool lent() const { return lent_; }
  Holds holds() const { return holds_; }
  // When the statement's waits end, all together (none when no statement
  // waits).
  std::optional<Clock::time_point> until() const { return until_; }

 private:
  enum class Pass { kAll, kWaited };
  enum class Turn { kBegun, kLent, kRefused };
  void Start(std::uint32_t id, const std::string &table, int physical, const AgentContext::RowFinder *find);
  // Takes the table's turn, the rows and (`write`) the write transaction,
  // finding the rows again after every wait.
  bool Hold(DriverSession *session, bool write);
  // One look at the table and the rows found: kWaited after a wait (the
  // rows are found again).
  Pass TakePass(DriverSession *session);
  // Waits in the write queue, lendable while it holds rows.
  Turn QueueForWrite(DriverSession *session);
  // The statement's time-out passed, or every wait of it together reached
  // the longest wait: throws the time-out (313) or the lock error.
  void CheckDeadline(const std::string &what) const;
  bool TimedOut() const;
  // The gives-back, each written once. Rows but those in `changed` (SQLite
  // table, rowid: they stay locked as the transaction's changes).
  void GiveBackRows(const std::vector<std::pair<std::string, sqlite3_int64>> &changed = {});
  void GiveBackWrite(DriverSession *session);
  // Gives back everything and forgets the statement.
  void Release(std::uint32_t id);
  void Reset();
  // The refusal of the statement's wait for what `what` names, of which
  // `holder` holds `held` (0: none known now), after `ms`.
  [[noreturn]] void Refuse(const std::string &what, std::uint32_t holder, long long ms,
                           const std::string &held = "it") const;

  DriverConnection &c_;
  Holds holds_ = Holds::kNothing;
  bool started_ = false;
  std::uint32_t id_ = 0;
  std::string table_;
  int physical_ = 0;
  AgentContext::RowFinder find_;  // how its rows are found (a copy of the agent's)
  std::vector<RowRef> rows_;      // the row locks it took
  bool joins_ = false;            // it joined a write transaction open before it
  bool began_write_ = false;      // ... else it began the write transaction itself
  bool lent_ = false;             // it lent its rows during its wait for the write
  bool taken_ = false;            // it holds every row it found at found_at_
  int lends_ = 0;                 // how often it lent them to a reader
  int circle_lends_ = 0;          // ... and for a circle of its own write's wait
  // The transactions ended when it last found its rows.
  std::optional<std::uint64_t> found_at_;
  Clock::time_point started_at_;               // it began to take what it needs
  std::optional<Clock::time_point> until_;     // every wait of it ends here
  std::optional<Clock::time_point> deadline_;  // its time-out, when it has one
};

}  // namespace molvane::driver
