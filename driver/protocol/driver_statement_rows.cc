#include "protocol/driver_statement_rows.h"

#include <algorithm>
#include <cstdio>

#include <molvane/sql.h>
#include <molvane/zdb.h>

#include "common/driver_log.h"
#include "dbc/zdb_errors.h"
#include "platform/log.h"
#include "protocol/driver_conn.h"
#include "sql/common/sql_exception.h"

namespace molvane::driver {

namespace {

// "1.5", the seconds of a wait as the refusals say them.
std::string Seconds(long long ms) {
  char secs[32];
  std::snprintf(secs, sizeof secs, "%lld.%lld", ms / 1000, ms % 1000 / 100);
  return secs;
}

}  // namespace

bool StatementRows::NeedsRows(std::uint32_t id, const std::string &table, int physical) const {
  // In a server other hosts run while a statement waits for the write
  // transaction: one that will wait takes its rows first. Once it holds
  // the write transaction it looks again unless no transaction ended
  // since it found its rows (none can have come to match then).
  if (c_.monitor_ != nullptr)
    if (DriverSession *s = c_.SessionFor(id); s != nullptr && !s->active()) return true;
  if (found_at_ && *found_at_ == c_.store_.transactions_ended()) return false;
  return c_.data_.LockedForOthers(id, table, physical);
}

void StatementRows::Start(std::uint32_t id, const std::string &table, int physical,
                          const AgentContext::RowFinder *find) {
  if (find != nullptr && !find_) find_ = *find;
  if (started_) return;
  started_ = true;
  id_ = id;
  table_ = table;
  physical_ = physical;
  lends_ = circle_lends_ = 0;
  const auto now = Clock::now();
  started_at_ = now;
  until_ = now + std::max<Clock::duration>(WaitBound::kMaxWait, std::chrono::milliseconds(c_.options_.lock_wait_ms));
  deadline_.reset();
  if (const long deadline = c_.agent_.exec_deadline(); deadline > 0) {
    deadline_ = Clock::time_point(std::chrono::microseconds(deadline));
    until_ = std::min(*until_, *deadline_);
  }
}

bool StatementRows::TimedOut() const { return deadline_ && Clock::now() >= *deadline_; }

void StatementRows::CheckDeadline(const std::string &what) const {
  if (TimedOut()) throw SQLExZDBError(SQL_ERR_TIMEOUT);
  if (!until_ || Clock::now() < *until_) return;
  const std::string text = "Record is locked: the SQL statement's wait for " + what + " was refused after " +
                           Seconds(std::chrono::duration_cast<std::chrono::milliseconds>(*until_ - started_at_).count()) +
                           " s: no wait of the driver server lasts longer in all" + c_.StatementAdvice("");
  c_.refusal_ = text;
  throw SQLException(SQLExZDBError::StateForError(ZE_LOCKED), ZE_LOCKED, SQLString(text.c_str()));
}

bool StatementRows::Take(std::uint32_t id, const std::string &table, int physical,
                         const AgentContext::RowFinder &find) {
  DriverSession *session = c_.SessionFor(id);
  if (session == nullptr) return false;
  Start(id, table, physical, &find);
  try {
    if (Hold(session, holds_ == Holds::kWrite)) return true;
  } catch (...) {
    Release(id);
    throw;
  }
  // It gave back the write transaction for a wait and could not begin it
  // again.
  Release(id);
  throw SQLException("QP999", 215,
                     SQLString((std::string("The session's transaction did not start: ") + sqlite3_errmsg(session->db()))
                                   .c_str()));
}

bool StatementRows::Begin(std::uint32_t id) {
  DriverSession *s = c_.SessionFor(id);
  if (s == nullptr) return false;
  Start(id, table_, physical_, nullptr);
  joins_ = s->active();
  try {
    if (!Hold(s, true)) {
      Release(id);
      return false;
    }
  } catch (...) {
    Release(id);
    throw;
  }
  return true;
}

bool StatementRows::Hold(DriverSession *session, bool write) {
  // The statement's waits end together at until_: the connection's waits
  // look at it (DriverConnection::AwaitHolders, AwaitWriteTurn).
  struct Bounded {
    DriverConnection &c;
    Bounded(DriverConnection &conn, std::optional<Clock::time_point> until) : c(conn) { c.wait_until_ = until; }
    ~Bounded() { c.wait_until_.reset(); }
  } bounded(c_, until_);
  for (;;) {
    // It finds its rows (again) unless it holds every row it found and no
    // transaction ended since (none can have come to match then).
    const bool fresh = taken_ && found_at_ && *found_at_ == c_.store_.transactions_ended();
    if (find_ && !fresh && TakePass(session) == Pass::kWaited) {
      CheckDeadline("its rows");
      continue;
    }
    if (!write || holds_ == Holds::kWrite) return true;
    switch (QueueForWrite(session)) {
      case Turn::kBegun:
        // Others ran while it waited: it looks at its rows once more.
        continue;
      case Turn::kLent:
        CheckDeadline("its rows");
        continue;
      case Turn::kRefused:
        return false;
    }
  }
}

StatementRows::Pass StatementRows::TakePass(DriverSession *session) {
  const std::uint32_t id = session->id();
  const DataContext ctx = c_.DataCtx();
  const int logical = c_.LogicalCompnr(table_, physical_);
  const std::string table_key = TableKey(table_, physical_);
  std::vector<sqlite3_int64> rowids;
  found_at_ = c_.store_.transactions_ended();
  taken_ = false;
  // Past the rows it keeps, the statement holds the table whole once it
  // runs: it waits for every holder of the table's rows, as a lock of the
  // table does. Otherwise for the table's own lock, another statement
  // running on the table, or a lock, clear or drop of it waiting ahead.
  const bool listed = find_(&rowids);
  std::string sqlite_table;
  if (const DdTableDesc *desc = c_.tables_.Find(table_, physical_, &c_)) sqlite_table = SqliteTableName(desc->name, physical_);
  const DriverConnection::Holders table_holders = [this, id, listed, &table_key, &sqlite_table] {
    if (!listed) return c_.data_.TableHolders(id, table_key, sqlite_table, &c_.store_);
    std::uint32_t h = c_.data_.TableLockHolder(id, table_key);
    if (h == 0) h = c_.TableWaiterAhead(id, table_key);
    return h != 0 ? std::vector<std::uint32_t>{h} : std::vector<std::uint32_t>{};
  };
  const DriverConnection::HeldText table_text = [this, id, listed, &table_key](std::uint32_t holder) {
    if (c_.data_.TableLockHolder(id, table_key) == holder) return std::string("the table");
    return listed ? std::string("a place ahead in the wait for the table") : std::string("rows of the table");
  };
  char where[32];
  std::snprintf(where, sizeof where, "%.8s%03d", table_.c_str(), logical);
  if (!table_holders().empty()) {
    GiveBackRows();
    GiveBackWrite(session);
    const auto start = Clock::now();
    if (c_.AwaitHolders(session, table_key, table_holders, table_text, [&] { return table_holders().empty(); }))
      return Pass::kWaited;
    // A waiter ahead is named as such (Refuse), a holder by what it holds.
    std::uint32_t holder = c_.data_.TableLockHolder(id, table_key);
    if (holder == 0 && !listed) {
      const std::vector<std::uint32_t> now_held = table_holders();
      holder = now_held.empty() ? 0 : now_held.front();
    }
    Refuse(std::string("the SQL statement's turn at ") + where +
               (listed ? " (a lock of the table, or another session's SQL statement running on it)"
                       : " (more rows than it locks one by one: the whole table)"),
           holder, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
           holder != 0 ? table_text(holder) : std::string());
  }
  if (!listed) {
    taken_ = true;
    return Pass::kAll;
  }
  // The rows follow in the order of their keys, the one order of every
  // statement, so that two statements never each hold a row the other
  // waits for.
  std::vector<std::string> keys = c_.data_.KeysOfRows(session, table_, physical_, rowids, ctx);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<std::uint8_t> reply;
  WireWriter out(reply);
  for (const std::string &key : keys) {
    const RowRef row = c_.data_.FindRow(session, table_, logical, key, ctx);
    if (c_.data_.LocksRow(id, row.table_key, row.key)) continue;  // taken before
    auto take = [&] {
      out.Truncate(0);
      return c_.TableWaiterAhead(id, row.table_key) == 0 &&
             c_.data_.Read(session, table_, logical, 1, row.key, ctx, out) != kLocked;
    };
    auto note = [&] {
      if (c_.data_.LocksRow(id, row.table_key, row.key)) rows_.push_back(row);
      if (holds_ == Holds::kNothing) holds_ = Holds::kRows;
    };
    // A free row is taken at once, before the write transaction, so that
    // no other session locks it while the statement waits for that; one
    // that others wait for (the first may have been woken for it and not
    // yet have run) is waited for behind them, so that the statement
    // never takes a row from a waiter that holds what it will wait for.
    const bool awaited = c_.monitor_ != nullptr && (c_.monitor_->Awaited(row.table_key + '\0' + row.key) ||
                                                    c_.TableWaiterAhead(id, row.table_key) != 0);
    if (!awaited && c_.data_.HolderOf(id, row, &c_.store_) == 0 && take()) {
      note();
      continue;
    }
    // Another session holds it: the statement gives back what it took and
    // waits for the row as a locked read does, then finds its rows again,
    // since others ran.
    GiveBackRows();
    GiveBackWrite(session);
    const auto start = Clock::now();
    if ((!awaited && take()) || c_.AwaitRow(session, row, take, true)) {
      note();
      return Pass::kWaited;
    }
    const std::string what = row.key_text.empty() ? std::string(where) : std::string(where) + ", key " + row.key_text + ",";
    Refuse("the SQL statement's row of " + what, c_.data_.HolderOf(id, row, &c_.store_),
           std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }
  taken_ = true;
  return Pass::kAll;
}

void StatementRows::Refuse(const std::string &what, std::uint32_t holder, long long ms,
                           const std::string &held) const {
  if (TimedOut()) throw SQLExZDBError(SQL_ERR_TIMEOUT);
  std::string text = "Record is locked: " + what + " was refused ";
  if (!c_.lock_refusal_.empty()) {
    text += "at once: " + c_.lock_refusal_ + c_.StatementAdvice(c_.lock_refusal_);
  } else if (holder != 0 && c_.sessions_.count(holder) != 0) {
    // Another transaction of the program (a child or in-process driver
    // serves no other): nothing could end it while this one waited.
    const std::string own = c_.OwnTransactionHolds(holder, held);
    text += "at once: " + own + c_.StatementAdvice(own);
  } else {
    if (c_.monitor_ == nullptr)
      text += "at once";
    else if (c_.options_.lock_wait_ms <= 0)
      text += "at once (the driver server's --lock-wait-ms is 0)";
    else
      text += "after waiting " + Seconds(ms) + " s (the driver server's --lock-wait-ms)";
    if (holder != 0)
      text += ": " + c_.SessionText(holder) + " holds " + held;
    else if (const std::uint32_t ahead = c_.TableWaiterAhead(id_, TableKey(table_, physical_)); ahead != 0)
      text += ": " + c_.AheadText(ahead);
    text += c_.monitor_ == nullptr ? std::string("; try again once that transaction has ended")
                                   : c_.StatementAdvice("");
  }
  c_.refusal_ = text;
  throw SQLException(SQLExZDBError::StateForError(ZE_LOCKED), ZE_LOCKED, SQLString(text.c_str()));
}

StatementRows::Turn StatementRows::QueueForWrite(DriverSession *session) {
  const std::uint32_t id = session->id();
  c_.lock_refusal_.clear();
  lent_ = false;
  bool begun;
  {
    // While it waits, another session may want a row it took (Lend).
    struct Queued {
      StatementRows &s;
      ~Queued() {
        s.c_.shared_.queued_statements.erase(s.id_);
        if (s.holds_ == Holds::kQueued) s.holds_ = Holds::kRows;
      }
    } queued{*this};
    if (c_.monitor_ != nullptr && !joins_ && !rows_.empty()) {
      c_.shared_.queued_statements[id] = &c_;
      holds_ = Holds::kQueued;
    }
    begun = c_.BeginWrite(session);
  }
  if (begun) {
    session->WatchChanges();
    began_write_ = !joins_;
    holds_ = Holds::kWrite;
    return Turn::kBegun;
  }
  if (lent_ && find_) return Turn::kLent;
  if (TimedOut()) throw SQLExZDBError(SQL_ERR_TIMEOUT);
  if (!session->busy()) return Turn::kRefused;
  const std::string text = "Record is locked: the SQL statement's wait for the write transaction was " +
                           std::string(c_.lock_refusal_.empty() ? "refused: " : "") + c_.WriteRefusal() +
                           c_.StatementAdvice(c_.lock_refusal_);
  throw SQLException(SQLExZDBError::StateForError(ZE_LOCKED), ZE_LOCKED, SQLString(text.c_str()));
}

bool StatementRows::Lend(std::uint32_t to, const RowRef &row) {
  if (holds_ != Holds::kQueued) return false;
  const bool held = std::any_of(rows_.begin(), rows_.end(), [&row](const RowRef &r) {
    return r.table_key == row.table_key && r.key == row.key;
  });
  if (!held) return false;
  // A statement lent often enough keeps its rows and its place in the
  // queue: the reader waits behind it, so that a stream of readers cannot
  // keep it from running. Only a session whose wait for it would close a
  // circle (it holds the write transaction the statement waits for, or
  // waits for that one's host) is lent them still: the statement waits
  // for that session anyway, and one of the two would be refused.
  if (c_.shared_.waits.Circle(to, {id_}).empty()) {
    if (lends_ >= kLends) return false;
    ++lends_;
  }
  lent_ = true;
  GiveBackRows();
  c_.shared_.queued_statements.erase(id_);
  return true;
}

bool StatementRows::LendForCircle(std::uint32_t holder) {
  // The circle goes through a row the statement took (the writer waited
  // for the row's holder before, and the statement took the row as that
  // one let it go): it is of the statement's own making.
  if (holds_ != Holds::kQueued || circle_lends_ >= kLends || rows_.empty()) return false;
  GiveBackRows();
  c_.shared_.queued_statements.erase(id_);
  holds_ = Holds::kNothing;
  if (!c_.shared_.waits.Circle(id_, {holder}).empty()) return false;
  ++circle_lends_;
  lent_ = true;
  return true;
}

void StatementRows::Starts(std::uint32_t id, const std::string &table, int physical) {
  // While the statement steps, other threads run: none may lock a row of
  // the table that it is yet to change.
  c_.data_.StatementStarts(id, table, physical);
  if (DriverSession *s = c_.SessionFor(id)) s->StatementStarts();
  holds_ = Holds::kRunning;
}

void StatementRows::Ended(std::uint32_t id, const std::string &table, int physical, const SQLException *failure) {
  c_.data_.StatementEnded(id);
  DriverSession *session = c_.SessionFor(id);
  if (session == nullptr) {
    Release(id);
    return;
  }
  auto watched = session->TakeWatched();
  session->StatementEnded(failure == nullptr);
  if (failure == nullptr) {
    // The rows it changed are held by the transaction's changes; a row it
    // took and then did not change, since it matched no more, is free.
    c_.data_.LockChangedRows(session, table, physical, watched, c_.DataCtx());
    GiveBackRows(watched);
    Reset();
    return;
  }
  // A failed statement frees what it reached: its rows leave the changed
  // rows (StatementEnded), no key of them is locked, and the rows it took
  // go back. One that began its transaction's write leaves nothing in it:
  // the write transaction goes back at once. A statement that SQLite
  // rolled back with the transaction it joined (an interrupt, a time-out,
  // an I/O error) lost the transaction's earlier work: the session takes
  // no more work until its client aborts, and what it held goes now.
  const bool joined = joins_;
  Release(id);
  if (!joined || session->active() || session->lost() != 0) return;
  const SQLString *text = failure->GetMessageText();
  const std::string cause = std::to_string(failure->GetZDBError()) + " (" +
                            (text->Length() > 0 ? text->GetString() : zdberrorstr(failure->GetZDBError())) + ")";
  std::string reason = session->RolledBackReason(" when its SQL statement failed with error " + cause);
  DriverLog(__FILE__, __LINE__, 0, "%s", reason.c_str());
  session->TransactionLost(ZE_COMMUNICATION, std::move(reason));
  c_.TransactionLost(id);
}

void StatementRows::GiveBackRows(const std::vector<std::pair<std::string, sqlite3_int64>> &changed) {
  taken_ = false;
  if (rows_.empty()) return;
  for (const RowRef &row : rows_) {
    const bool kept = row.rowid != 0 && std::any_of(changed.begin(), changed.end(), [&row](const auto &c) {
                        return c.second == row.rowid && c.first == row.sqlite_table;
                      });
    if (!kept) c_.data_.Unlock(id_, row.table_key, row.key);
  }
  rows_.clear();
  // Their waiters look again now.
  if (c_.monitor_ != nullptr) c_.monitor_->LocksReleased({id_});
}

void StatementRows::GiveBackWrite(DriverSession *session) {
  // Only a write transaction the statement began holds nothing else.
  if (!began_write_) return;
  began_write_ = false;
  if (holds_ == Holds::kWrite || holds_ == Holds::kRunning) holds_ = rows_.empty() ? Holds::kNothing : Holds::kRows;
  c_.GiveBackWrite(session);
}

void StatementRows::Release(std::uint32_t id) {
  id_ = id;
  GiveBackRows();
  if (DriverSession *s = c_.SessionFor(id)) GiveBackWrite(s);
  c_.shared_.queued_statements.erase(id);
  Reset();
}

void StatementRows::Reset() {
  holds_ = Holds::kNothing;
  started_ = false;
  find_ = nullptr;
  rows_.clear();
  joins_ = began_write_ = lent_ = taken_ = false;
  lends_ = circle_lends_ = 0;
  found_at_.reset();
  until_.reset();
  deadline_.reset();
}

}  // namespace molvane::driver
