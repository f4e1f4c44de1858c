// The waits of a driver server's connection: who holds a row or a table
// (and is named in a refusal), the one wait behind every locked read,
// table action and SQL statement's row (AwaitHolders: order of arrival,
// one bound, the circle check), the line of a table's waiters that new row
// locks keep behind, and the lending of the rows an SQL DELETE or UPDATE
// took while it waits for the write transaction (StatementRows).
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
    const auto now = std::chrono::steady_clock::now();
    if (!bound.Goes(bound_holder, now) || (wait_until_ && now >= *wait_until_)) break;
    if (!parked && on_state_) on_state_(RequestState::kParked);
    parked = true;
    monitor_->SleepForLock(waiting.get(), wait_until_ ? std::min(bound.deadline(), *wait_until_) : bound.deadline());
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
    return data_.TableLockHolder(id, table_key) == holder ? std::string("the table") : std::string("rows of the table");
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

std::string DriverConnection::TableRefusal(DriverSession *session, const std::string &table, int compnr) const {
  const std::uint32_t id = session->id();
  const int physical = PhysicalCompnr(table, compnr);
  const std::string table_key = TableKey(table, physical);
  std::uint32_t holder = data_.TableLockHolder(id, table_key);
  std::string what = "the table";
  if (holder == 0) {
    const DdTableDesc *desc = tables_.Find(table, physical, this);
    const std::vector<std::uint32_t> holders = data_.TableHolders(
        id, table_key, desc != nullptr ? SqliteTableName(desc->name, physical) : std::string(), &store_, 1);
    if (holders.empty()) return std::string();
    holder = holders.front();
    what = "rows of the table";
  }
  return sessions_.count(holder) != 0 ? OwnTransactionHolds(holder, what) : SessionText(holder) + " holds " + what;
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
  return it != shared_.queued_statements.end() && it->second->statement_.Lend(session, row);
}

}  // namespace molvane::driver
