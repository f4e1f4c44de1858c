// The waits of a driver server's connection: who holds a row or a table
// (and is named in a refusal), the one wait behind every locked read,
// table action and SQL statement's row (AwaitHolders: order of arrival,
// one bound, the circle check), the line of a table's waiters that new row
// locks keep behind, and the rows an SQL DELETE or UPDATE takes before the
// write transaction (RowsFree), lends while it waits for that, and gives
// back when it ends.
#include "protocol/driver_conn.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/zdb_errors.h"
#include "common/driver_log.h"
#include "platform/log.h"
#include "sql/common/sql_exception.h"

namespace molvane::driver {

// What a refused SQL statement's text ends with, as a refused record
// request's does: after a circle of waits (`circle`, the refusal's
// reason) the transaction must end to undo it; after a wait that ran out,
// the holder's.
std::string DriverConnection::StatementAdvice(const std::string &circle) {
  if (circle.empty()) return "; try again once that host has ended its transaction";
  if (circle.rfind("it would have waited", 0) == 0) return "; end this transaction and do its work again";
  return "; commit or abort that transaction first";
}

std::string DriverConnection::SessionText(std::uint32_t session) const {
  // The name is the peer's: escaped as the log writes it, so that another
  // host's bytes reach no message text raw.
  std::string text = "session " + std::to_string(session);
  if (const DriverSession *s = store_.Find(session); s != nullptr && !s->name().empty())
    text += " (\"" + LogEscaped(s->name()) + "\")";
  const std::uint64_t party = shared_.PartyOf(session);
  if (sessions_.count(session) != 0) return text + " of this host";
  if (party == party_) return text + " of this host on another of its connections";
  if (party < DriverShared::kClaimedParty) return text + " of process " + std::to_string(party);
  return text + " of another host";
}

std::string DriverConnection::OwnTransactionHolds(std::uint32_t holder, const std::string &what) const {
  return SessionText(holder) + " holds " + what + ": a program's transactions do not wait for each other";
}

bool DriverConnection::ClosesCircle(std::uint32_t session, const std::vector<std::uint32_t> &holders,
                                    const HeldText &what) {
  const std::vector<std::uint32_t> circle = shared_.waits.Circle(session, holders);
  if (circle.empty()) return false;
  // The holder through which the wait would close the circle.
  const std::uint32_t holder = circle.front();
  if (sessions_.count(holder) != 0) {
    // Another transaction of the program on this connection.
    lock_refusal_ = OwnTransactionHolds(holder, what(holder));
  } else if (shared_.PartyOf(holder) == party_) {
    // The host holds it itself, on another connection of this server
    // (reached under another driver name): it would wait for itself.
    lock_refusal_ = SessionText(holder) + " holds " + what(holder) +
                    ": a host's transactions through two driver names of one driver server do not wait for "
                    "each other; use one driver name for the tables of one transaction";
  } else {
    lock_refusal_ = "it would have waited in a circle: " + SessionText(holder) + " holds " + what(holder);
    for (std::size_t i = 1; i < circle.size(); ++i)
      lock_refusal_ += (i == 1 ? " and waits for " : ", which waits for ") + SessionText(circle[i]);
    lock_refusal_ += circle.size() == 1 ? " and waits for this host" : ", which waits for this host";
  }
  DriverLog(__FILE__, __LINE__, 0, "session %u refused at once: %s", session, lock_refusal_.c_str());
  refusal_ = lock_refusal_;
  return true;
}

bool DriverConnection::AwaitRow(DriverSession *session, const RowRef &row, const std::function<bool()> &take,
                                bool statement) {
  const std::uint32_t id = session->id();
  // A locked read is given a row that an SQL statement waiting for the
  // write transaction took; a statement's own wait waits for it, so that
  // two statements never take each other's rows in turn.
  const Yields yields = [this, id, &row, statement](std::uint32_t holder) {
    return !statement && QueuedStatementGaveRow(id, holder, row);
  };
  // A free row of a table whose lock another session waits for is held
  // by that wait for a new lock of the row.
  return AwaitHolders(
      session, row.table_key + '\0' + row.key,
      [this, id, &row] {
        std::uint32_t h = data_.HolderOf(id, row, &store_);
        if (h == 0) h = TableWaiterAhead(id, row.table_key);
        return h != 0 ? std::vector<std::uint32_t>{h} : std::vector<std::uint32_t>{};
      },
      [this, id, &row](std::uint32_t holder) {
        return data_.HolderOf(id, row, &store_) == holder ? std::string("the row")
                                                          : std::string("a place ahead in the wait for the table");
      },
      take, yields);
}

bool DriverConnection::AwaitHolders(DriverSession *session, const std::string &line, const Holders &holders,
                                    const HeldText &what, const std::function<bool()> &take, const Yields &yields) {
  // The wait is for the holders, in order of arrival, under the one
  // waiting policy (WaitBound): it is over when one holder kept what it
  // waits for for the whole of it, whoever else took it before or left
  // the line meanwhile. A wait that would close a circle is refused at
  // once, when it begins or whenever its holders change.
  const std::uint32_t id = session->id();
  lock_refusal_.clear();
  std::vector<std::uint32_t> checked = holders();
  if (monitor_ == nullptr || options_.lock_wait_ms <= 0) return false;
  if (!checked.empty() && yields && yields(checked.front())) {
    if (take()) return true;
    checked = holders();
  }
  if (!checked.empty() && ClosesCircle(id, checked, what)) return false;
  // The holder the bound runs for: the one waited for first, as long as
  // it holds on.
  std::uint32_t bound_holder = checked.empty() ? 0 : checked.front();
  WaitBound bound(std::chrono::milliseconds(options_.lock_wait_ms), bound_holder);
  // The waiter leaves after its last try, so that the next waiter of the
  // line is not woken before this one has taken what it waited for. Its
  // line is filed under one holder, whose release looks at it again.
  LockTicket waiting(*monitor_, line, [holders]() -> std::uint64_t {
    const std::vector<std::uint32_t> h = holders();
    return h.empty() ? 0 : h.front();
  });
  const WaitEntry entry(shared_.waits, id, holders);
  bool parked = false, taken = false;
  while (!taken) {
    if (cancelled_ && cancelled_()) break;
    std::vector<std::uint32_t> now_held = holders();
    if (!now_held.empty() && now_held != checked) {
      checked = now_held;
      if (yields && yields(now_held.front())) {
        if ((taken = take())) break;
        now_held = checked = holders();
      }
      if (!now_held.empty() && ClosesCircle(id, now_held, what)) break;
    }
    if (std::find(now_held.begin(), now_held.end(), bound_holder) == now_held.end())
      bound_holder = now_held.empty() ? 0 : now_held.front();
    if (!bound.Goes(bound_holder, std::chrono::steady_clock::now())) break;
    if (!parked && on_state_) on_state_(RequestState::kParked);
    parked = true;
    monitor_->SleepForLock(waiting.get(), bound.deadline());
    taken = take();
  }
  if (parked && on_state_) on_state_(RequestState::kRunning);
  return taken;
}

bool DriverConnection::AwaitTable(DriverSession *session, const std::string &table, int compnr, int action,
                                  bool *took) {
  *took = false;
  const std::uint32_t id = session->id();
  const int physical = PhysicalCompnr(table, compnr);
  const DdTableDesc *desc = tables_.Find(table, physical, this);
  if (desc == nullptr) return true;  // the action answers for it
  const std::string table_key = TableKey(table, physical);
  const std::string sqlite_table = SqliteTableName(desc->name, physical);
  const Holders holders = [this, id, &table_key, &sqlite_table] {
    return data_.TableHolders(id, table_key, sqlite_table, &store_);
  };
  // A lock of the table, or a statement running on it, holds the table;
  // otherwise the holder holds rows of it.
  const HeldText what = [this, id, &table_key](std::uint32_t holder) {
    return data_.HolderOf(id, table_key, std::string(1, '\x01')) == holder ? std::string("the table")
                                                                           : std::string("rows of the table");
  };
  auto free = [&] { return data_.TableHolders(id, table_key, sqlite_table, &store_, 1).empty(); };
  // A child or in-process driver refuses at once (DataPlane::TableAction).
  if (monitor_ == nullptr || free()) {
    if (monitor_ != nullptr && action != lock_table) *took = data_.LockTable(id, table_key);
    return true;
  }
  // While it waits, new row locks of the table wait behind it; when it
  // ends, they look again.
  struct Waiting {
    DriverConnection &c;
    std::uint32_t id;
    const std::string &table_key;
    Waiting(DriverConnection &conn, std::uint32_t session, const std::string &key)
        : c(conn), id(session), table_key(key) {
      c.shared_.table_waiters[table_key].push_back(id);
    }
    ~Waiting() {
      auto it = c.shared_.table_waiters.find(table_key);
      if (it != c.shared_.table_waiters.end()) {
        std::erase(it->second, id);
        if (it->second.empty()) c.shared_.table_waiters.erase(it);
      }
      c.monitor_->LocksReleased({id});
    }
  };
  const Waiting waiting(*this, id, table_key);
  if (!AwaitHolders(session, table_key, holders, what, free)) {
    // The client asks who held the table (EXE_SYSTEM 9, code 105): the
    // circle (ClosesCircle noted it), or the holder as the wait ended.
    if (lock_refusal_.empty()) {
      const std::vector<std::uint32_t> now_held = holders();
      refusal_ = now_held.empty() ? std::string() : SessionText(now_held.front()) + " holds " + what(now_held.front());
    }
    return false;
  }
  if (action != lock_table) *took = data_.LockTable(id, table_key);
  return true;
}

std::uint32_t DriverConnection::TableWaiterAhead(std::uint32_t session, const std::string &table_key) const {
  if (shared_.table_waiters.empty()) return 0;
  auto it = shared_.table_waiters.find(table_key);
  if (it == shared_.table_waiters.end()) return 0;
  for (std::uint32_t waiter : it->second) {
    if (waiter == session) continue;
    if (shared_.PartyOf(waiter) == shared_.PartyOf(session) || !shared_.waits.Circle(session, {waiter}).empty())
      return 0;
    return waiter;
  }
  return 0;
}

std::string DriverConnection::AheadText(std::uint32_t waiter) const {
  return SessionText(waiter) + " waits for a lock of the table ahead of it";
}

bool DriverConnection::QueuedStatementGaveRow(std::uint32_t session, std::uint32_t holder,
                                              const RowRef &row) const {
  auto it = shared_.queued_statements.find(holder);
  if (it == shared_.queued_statements.end()) return false;
  DriverConnection &other = *it->second;
  const bool statement_row = std::any_of(other.statement_rows_.begin(), other.statement_rows_.end(),
                                         [&row](const RowRef &r) { return r.table_key == row.table_key && r.key == row.key; });
  if (!statement_row) return false;
  DriverLog(__FILE__, __LINE__, 0,
            "session %u gave back the rows its SQL statement took to session %u, and waits on for the write "
            "transaction", holder, session);
  other.statement_robbed_ = true;
  other.GiveBackStatementRows(holder);
  shared_.queued_statements.erase(it);
  return true;
}

void DriverConnection::GiveBackStatementRows(std::uint32_t id,
                                             const std::vector<std::pair<std::string, sqlite3_int64>> &changed) {
  for (const RowRef &row : statement_rows_) {
    const bool kept = row.rowid != 0 && std::any_of(changed.begin(), changed.end(), [&row](const auto &c) {
                        return c.second == row.rowid && c.first == row.sqlite_table;
                      });
    if (!kept) data_.Unlock(id, row.table_key, row.key);
  }
  // Their waiters look again now: the statement may wait on.
  if (monitor_ != nullptr && !statement_rows_.empty()) monitor_->LocksReleased({id});
  statement_rows_.clear();
}

bool DriverConnection::RowsFree(std::uint32_t id, const std::string &table, int physical,
                                const AgentContext::RowFinder &find) {
  DriverSession *session = SessionFor(id);
  if (session == nullptr) return false;
  const std::string table_key = TableKey(table, physical);
  const int logical = LogicalCompnr(table, physical);
  const DataContext ctx = DataCtx();
  if (&find != &statement_find_) {
    statement_find_ = find;
    statement_table_ = table;
    statement_physical_ = physical;
    statement_lends_ = 0;
  }
  try {
    for (;;) {
      std::vector<sqlite3_int64> rowids;
      statement_found_at_ = store_.transactions_ended();
      if (!find(&rowids)) {
        // More rows than are taken one by one: the statement holds the
        // table whole while it runs, and is refused while another
        // session holds locks there.
        if (!data_.LockedForOthers(id, table, physical)) return true;
        GiveBackStatementRows(id);
        statement_found_at_.reset();
        return false;
      }
      // A table lock (or another session's statement running on the
      // table) holds every row, also where the statement would change
      // none: it is waited for first, under a key that no row has. The
      // rows follow in the order of their keys, the one order of every
      // statement, so that two statements never each hold a row the
      // other waits for.
      std::vector<std::string> keys = data_.KeysOfRows(session, table, physical, rowids, ctx);
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
      std::vector<RowRef> rows{RowRef{table_key, std::string(1, '\x01'), {}, 0, {}}};
      for (const std::string &key : keys) rows.push_back(data_.FindRow(session, table, logical, key, ctx));
      if (!TakeStatementRows(session, table, logical, rows, ctx)) continue;
      if (!statement_requeues_) return true;
      // It gave back the write transaction for its wait: it queues for it
      // again with its rows, and finds them once more when it has it,
      // since others ran meanwhile.
      statement_requeues_ = false;
      if (!BeginStatementWrite(id))
        throw SQLException("QP999", 215,
                           SQLString((std::string("The session's transaction did not start: ") +
                                      sqlite3_errmsg(session->db()))
                                         .c_str()));
    }
  } catch (...) {
    // Refused, or the rows could not be found again: what the statement
    // took goes back.
    statement_requeues_ = false;
    GiveBackStatementRows(id);
    statement_found_at_.reset();
    statement_find_ = nullptr;
    throw;
  }
}

bool DriverConnection::TakeStatementRows(DriverSession *session, const std::string &table, int logical,
                                         const std::vector<RowRef> &rows, const DataContext &ctx) {
  const std::uint32_t id = session->id();
  std::vector<std::uint8_t> reply;
  WireWriter out(reply);
  for (const RowRef &row : rows) {
    if (data_.LocksRow(id, row.table_key, row.key)) continue;  // taken before
    auto take = [&] {
      out.Truncate(0);
      return TableWaiterAhead(id, row.table_key) == 0 &&
             data_.Read(session, table, logical, 1, row.key, ctx, out) != kLocked;
    };
    auto note = [&] {
      if (data_.LocksRow(id, row.table_key, row.key)) statement_rows_.push_back(row);
    };
    // A free row is taken at once, before the write transaction, so that
    // no other session locks it while the statement waits for that; one
    // that others wait for (the first may have been woken for it and not
    // yet have run) is waited for behind them, so that the statement
    // never takes a row from a waiter that holds what it will wait for
    // (a record transaction may hold the write transaction as it waits).
    const bool awaited = monitor_ != nullptr && (monitor_->Awaited(row.table_key + '\0' + row.key) ||
                                                 TableWaiterAhead(id, row.table_key) != 0);
    if (!awaited && data_.HolderOf(id, row, &store_) == 0 && take()) {
      note();
      continue;
    }
    // Another session holds it: the statement gives back the rows it
    // took, so that it never holds one while it waits for another (a
    // record transaction may lock its rows in any order), takes the row
    // as a locked read takes it, waiting as that does, and then finds its
    // rows again, since others ran.
    GiveBackStatementRows(id);
    // Once it has the write transaction for its own first write (a second
    // look found a row that a commit made match held by another session),
    // it has changed nothing yet: it gives the write transaction back too,
    // so that it never waits for a row while it holds what the row's
    // holder needs to commit, and queues for it again once it holds its
    // rows (RowsFree).
    if (statement_began_write_ && session->active() && monitor_ != nullptr) {
      session->GiveBackWrite();
      RestoreTables(id);
      statement_began_write_ = false;
      statement_requeues_ = true;
      monitor_->WriteEnded();
    }
    const auto start = std::chrono::steady_clock::now();
    if ((!awaited && take()) || AwaitRow(session, row, take, true)) {
      note();
      return false;
    }
    // Refused: the error names the row, its holder and the wait, and says
    // what the record refusal says of the transaction.
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start).count();
    char where[32];
    std::snprintf(where, sizeof where, "%.8s%03d", table.c_str(), logical);
    std::string what = row.key_text.empty() ? std::string(where) + " (a lock of the table, or another session's "
                                                                 "SQL statement running on it)"
                                            : std::string(where) + ", key " + row.key_text + ",";
    std::string text = "Record is locked: the SQL statement's row of " + what + " was refused ";
    const std::uint32_t now_held = data_.HolderOf(id, row, &store_);
    if (!lock_refusal_.empty()) {
      text += "at once: " + lock_refusal_ + StatementAdvice(lock_refusal_);
    } else if (now_held != 0 && sessions_.count(now_held) != 0) {
      // Another transaction of the program (a child or in-process driver
      // serves no other): nothing could end it while this one waited.
      const std::string own = OwnTransactionHolds(now_held, "it");
      text += "at once: " + own + StatementAdvice(own);
      refusal_ = text;
    } else {
      char secs[32];
      std::snprintf(secs, sizeof secs, "%lld.%lld", ms / 1000, ms % 1000 / 100);
      if (monitor_ == nullptr)
        text += "at once";
      else if (options_.lock_wait_ms <= 0)
        text += "at once (the driver server's --lock-wait-ms is 0)";
      else
        text += "after waiting " + std::string(secs) + " s (the driver server's --lock-wait-ms)";
      if (now_held != 0)
        text += ": " + SessionText(now_held) + " holds it";
      else if (const std::uint32_t ahead = TableWaiterAhead(id, row.table_key); ahead != 0)
        text += ": " + AheadText(ahead);
      text += monitor_ == nullptr ? std::string("; try again once that transaction has ended") : StatementAdvice("");
      refusal_ = text;
    }
    throw SQLException(SQLExZDBError::StateForError(ZE_LOCKED), ZE_LOCKED, SQLString(text.c_str()));
  }
  return true;
}

}  // namespace molvane::driver
