// One client connection of the reference driver. Request bytes are fed in
// as they arrive; Process answers every complete request, in order, and
// queues the replies. A request that breaks the protocol ends the
// connection (the client then sees it close), never the process.
//
// The connections of one process may share their database, row and table
// locks and dictionaries (DriverShared): a driver server serves many hosts
// over one set of them. Each connection owns the sessions it opened; they
// end with it, their transactions rolled back and their locks released.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "protocol/auditcols_payload.h"
#include "store/driver_data.h"
#include "store/driver_dd.h"
#include "locks/driver_monitor.h"
#include "locks/driver_waits.h"
#include "protocol/driver_options.h"
#include "protocol/driver_statement_rows.h"
#include "store/driver_store.h"
#include "protocol/perm_payload.h"
#include "common/driver_wire.h"
#include "sql/sql_agent.h"

namespace molvane::driver {

class DriverConnection;

// What the connections of one driver process share.
struct DriverShared {
  DriverStore store;  // the database file and every session on it
  DataPlane data;     // rows, locks and kept batches
  DdCatalog tables;   // the dictionaries of DD_INFO_TABLE
  // A driver server's threads use all of the above under this monitor, and
  // its write queue orders the waits for the write transaction. Null in a
  // child or in-process driver (one thread).
  DriverMonitor *monitor = nullptr;
  // Grows whenever a transaction ends or locks, changed keys or a running
  // statement's hold on a table go: a waiting locked read may look again.
  std::uint64_t releases() const { return store.transactions_ended() + data.releases(); }
  // What was released so far, taken before a request or the upkeep runs.
  struct Released {
    std::uint64_t transactions = 0;  // transactions ended
    std::uint64_t holds = 0;         // ... and locks, changed keys and statements' holds gone
  };
  Released released() const { return {store.transactions_ended(), releases()}; }
  // The one wake after a release (with the monitor held): since `before`,
  // a transaction ended, so the head of the write queue tries to begin,
  // and `sessions` released holds, so their rows' first waiters look again.
  void WakeWaiters(const Released &before, const std::vector<std::uint32_t> &sessions) const;
  // The party of each session to the waits: its connection's host where
  // the server knows it (DriverConnection::SetHost), else its connection.
  std::unordered_map<std::uint32_t, std::uint64_t> parties;
  std::uint64_t PartyOf(std::uint32_t session) const {
    auto it = parties.find(session);
    return it != parties.end() ? it->second : kSessionParty | session;
  }
  // A connection's own party, for a host the server does not know.
  std::uint64_t NewConnectionParty() { return kConnectionParty | ++connections; }
  static constexpr std::uint64_t kConnectionParty = std::uint64_t{1} << 62;
  // The party of a TCP client's process as the client named it: one host
  // to the waits, named as another host in texts (no kernel vouches for it).
  static constexpr std::uint64_t kClaimedParty = std::uint64_t{1} << 61;
  static constexpr std::uint64_t kSessionParty = std::uint64_t{1} << 63;
  std::uint64_t connections = 0;  // made so far
  // The sessions whose SQL statement waits for the write transaction with
  // rows it took, and their connections (StatementRows).
  std::unordered_map<std::uint32_t, DriverConnection *> queued_statements;
  // The sessions whose lock, clear or drop of a table waits for the
  // table's holders, by table key, in order of arrival: a new row lock of
  // the table waits behind them (DriverConnection::TableWaiterAhead).
  std::unordered_map<std::string, std::vector<std::uint32_t>> table_waiters;
  // Who waits for whom, by the sessions' parties: a wait that would close
  // a circle is refused at once.
  WaitsFor waits{[this](std::uint32_t session) { return PartyOf(session); }};
};

// A request's life in a driver server (driver/README.md draws it): its
// bytes arrive until it is whole (received), it waits for the monitor and
// runs; a write that meets another session's write transaction is parked
// in the monitor's queue (its place kept there, its deadline by its
// thread) and its thread sleeps until it is first and a transaction ends,
// then runs on where it stopped, or answers 107 when its wait is over (a
// locked read of a row another host holds is parked the same way among the
// lock waiters, WaitForRow); its reply is queued for the loop to send
// (answered).
enum class RequestState { kIdle, kReceived, kRunning, kParked, kAnswered };

class DriverConnection {
 public:
  // `args` are the driver's arguments (argv[1..]); the first names the
  // database file. The connection keeps its own database state.
  explicit DriverConnection(const std::vector<std::string> &args);
  // With the arguments parsed: over the process's shared state, or with
  // its own when `shared` is null. A driver server's connection is run by
  // a worker thread that holds the shared monitor while it calls in; a
  // write that meets another session's write transaction is parked in the
  // monitor's queue (the thread sleeps without the monitor) for up to two
  // seconds, then answers 107.
  DriverConnection(const DriverOptions &options, DriverShared *shared);
  ~DriverConnection();
  DriverConnection(const DriverConnection &) = delete;
  DriverConnection &operator=(const DriverConnection &) = delete;

  void Feed(const void *bytes, std::size_t count);
  // Answers the complete requests received. False once the connection has
  // ended (a malformed request). A server connection stops while its unsent
  // replies reach kReplyLimit bytes (held): the rest waits for a later call
  // after the client has read, so that a client that sends without reading
  // cannot grow the queue without bound.
  bool Process();
  // Moves up to `size` queued reply bytes out; the count moved.
  std::size_t TakeReply(void *buf, std::size_t size);
  bool has_reply() const { return out_pos_ < output_.size(); }
  // Requests received are held back until the client reads its replies.
  bool held() const { return held_; }
  static constexpr std::size_t kReplyLimit = 1 << 20;
  bool ended() const { return ended_; }
  // Request bytes received and not yet handled (an incomplete request).
  std::size_t pending_input() const { return input_.size(); }
  // Requests handled so far.
  std::uint64_t handled() const { return handled_; }
  // A session was ever opened on the connection (it logged on).
  bool had_session() const { return had_session_; }
  // A session of the connection holds the database's write transaction,
  // or row or table locks, or rows changed, that other sessions may wait
  // for: the connection's next request goes before plain ones
  // (DriverMonitor::Lock).
  bool HoldsForOthers() const;
  // The client process the connection serves, as the server knows it (on
  // a Unix socket the peer's process id); 0 when unknown, and then the
  // connection is a host of its own. A host that reaches one server over
  // two connections (two driver names) is one host to the waits: neither
  // connection waits for what the other holds (WaitsFor).
  void SetHost(std::uint64_t host);
  // The sessions this connection opened.
  const std::set<std::uint32_t> &sessions() const { return sessions_; }
  // A server connection's worker: `cancelled` says the host went away or
  // the server stops (a running statement then ends, a parked request
  // gives up); `on_state` hears a request park and run on.
  void Serve(std::function<bool()> cancelled, std::function<void(RequestState)> on_state);
  // The driver server rolled back these sessions' transactions between
  // requests (the idle limit): those of this connection are treated as on
  // any rollback (the tables whose dictionaries arrived inside it are made
  // again, the audit list goes).
  void RolledBack(const std::vector<std::uint32_t> &ids);
  // The SQL agent of the connection (SQL_MESSAGE).
  SqlAgent &agent() { return agent_; }
  // What the client sent of the user's permissions and audit columns.
  const PermSet &permissions() const { return permissions_; }
  const AuditColsSet &auditcols() const { return auditcols_; }

 private:
  DriverConnection(const DriverOptions &options, std::unique_ptr<DriverShared> own, DriverShared *shared);
  // Handles one request at the start of `in`; writes its reply.
  void Handle(WireReader &in, WireWriter &out);
  void AttServer(WireReader &in, WireWriter &out);
  void AttSession(WireReader &in, WireWriter &out);
  void DetSession(WireReader &in, WireWriter &out);
  void TblCntr(WireReader &in, WireWriter &out);
  void DbCntr(WireReader &in, WireWriter &out);
  void ExeSession(WireReader &in, WireWriter &out);
  void ExeSystem(WireReader &in, WireWriter &out);
  void DdInfoTable(WireReader &in, WireWriter &out);
  void Permission(WireReader &in, WireWriter &out);
  void SqlMessage(WireReader &in, WireWriter &out);
  void ExeUpdate(WireReader &in, WireWriter &out);
  void RowCntr(WireReader &in, WireWriter &out);
  void SendCompnr(WireReader &in, WireWriter &out);
  void AuditCols(WireReader &in, WireWriter &out);
  void AlterTable(WireReader &in, WireWriter &out);

  // The session of an id that this connection opened, else null.
  DriverSession *SessionFor(std::uint32_t id);
  // True when the session takes no more work until its client aborts (its
  // transaction was lost): the request is refused with the loss's error,
  // and the reason is kept for the client to ask (EXE_SYSTEM 9).
  bool Refused(DriverSession *session);
  // SQLite rolled back the session's transaction (it is marked lost): its
  // locks and changed keys go at once, so that no other session waits for
  // them, and it is treated as on any rollback (RolledBack).
  void TransactionLost(std::uint32_t id);
  // After the session's transaction ended: the tables whose dictionaries
  // arrived inside it are created again where its rollback removed them.
  void RestoreTables(std::uint32_t id);
  // Opens the session's write transaction before a request changes
  // anything. False (the request answers 107) when another session's write
  // transaction held the file for the whole wait.
  bool BeginWrite(DriverSession *session);
  // Gives back the session's write transaction, which holds nothing the
  // client wrote (the request that began it failed or was refused): the
  // file is free for other sessions' writes at once, while the client's
  // transaction goes on (its locks stay).
  void GiveBackWrite(DriverSession *session);
  // A child or in-process driver serves one program: a write transaction
  // of another of its sessions cannot end while this one waits, so the
  // write is refused at once (true), with the reason in lock_refusal_.
  bool OwnWriteHolds(DriverSession *session);
  // The session whose write transaction held the database when the last
  // wait for it was refused (0: none known).
  std::uint32_t write_holder_ = 0;
  // Why the last BeginWrite was refused for another session's write
  // transaction: "refused at once: " and the circle or the program's own
  // transaction, else the holder when one is known.
  std::string WriteRefusal() const;
  // In a server: parks the request in the monitor's write queue until it
  // is first and `attempt` (which begins a write) succeeds or fails with
  // `busy` false (another reason than another session's write
  // transaction), or the wait is over or cancelled. The result of the last
  // attempt, false when none was made.
  bool AwaitWriteTurn(DriverSession *session, const std::function<bool()> &attempt,
                      const std::function<bool()> &busy);
  // In a server, after a locked read was refused (its reply written to
  // `out` from `at`): the read waits for the row (AwaitRow) and is made
  // again whenever the row may be free for it.
  void WaitForRow(DriverSession *session, const std::string &table, int compnr, const std::string &key,
                  std::size_t at, WireWriter &out);
  // When `holder` holds the row only as the row of an SQL statement that
  // waits for the write transaction (true): the statement gives back every
  // row it took to `session`, which wants one, and takes them again when
  // it is its turn (StatementRows::Lend, a few times per statement). A
  // statement so seldom keeps a row from a record transaction (which may
  // hold the write transaction while it asks).
  bool QueuedStatementGaveRow(std::uint32_t session, std::uint32_t holder, const RowRef &row) const;
  // The SQL UPDATE or DELETE running on the connection, and what it holds.
  friend class StatementRows;
  StatementRows statement_{*this};
  // While a statement takes what it needs: when all its waits end
  // together (AwaitHolders and AwaitWriteTurn end there).
  std::optional<std::chrono::steady_clock::time_point> wait_until_;
  // In a server: the session waits for the row that another session holds,
  // among the row waiters under the one waiting policy, and calls `take`
  // whenever the row may be free for it, until `take` succeeds (true), or
  // the wait is over or cancelled, or it would close a circle of waits
  // (WaitsFor: refused at once), all false with the reason in
  // lock_refusal_. The entry point of every wait for a row (a locked read,
  // an SQL statement's row).
  // A locked read is given a row that an SQL statement waiting for the
  // write transaction took (QueuedStatementGaveRow); a statement's own
  // wait (`statement`) waits for it, so that two statements never take
  // each other's rows in turn.
  bool AwaitRow(DriverSession *session, const RowRef &row, const std::function<bool()> &take,
                bool statement = false);
  // The sessions a wait waits for now (none: what it waits for is free).
  using Holders = std::function<std::vector<std::uint32_t>()>;
  // What a holder holds, as a refusal names it ("the row").
  using HeldText = std::function<std::string(std::uint32_t holder)>;
  // Asked of each new holder before the wait for it: true when the holder
  // gave way (gave back what it held), and the wait tries to take again.
  using Yields = std::function<bool(std::uint32_t holder)>;
  // The one wait of a server behind AwaitRow and AwaitTable: the session
  // waits in the row waiters' line `line` for what `holders` hold, under
  // the one waiting policy (the bound runs for one holder) and the circle
  // check (over every holder), calling `take` whenever it may be free,
  // until `take` succeeds (true), or the wait is over, cancelled or would
  // close a circle (false; the circle in lock_refusal_).
  bool AwaitHolders(DriverSession *session, const std::string &line, const Holders &holders, const HeldText &what,
                    const std::function<bool()> &take, const Yields &yields = nullptr);
  // Before a lock, clear or drop of a table: true when no other session
  // holds the table or a row of it (DataPlane::TableHolders), after a wait
  // for them in a server; false, with the holder named for the client
  // (refusal_), when the wait was refused. A clear or drop then takes the
  // table for its session (*took: it did not hold it before), so that no
  // row of it goes to another session while it waits for the write
  // transaction.
  bool AwaitTable(DriverSession *session, const std::string &table, int compnr, int action, bool *took);
  // Who holds the table against the session, as a refusal of a table
  // action names it ("session 4 ("t") of process 1234 holds the table",
  // or "... holds rows of the table"); "" when none does.
  std::string TableRefusal(DriverSession *session, const std::string &table, int compnr) const;
  // The session whose lock, clear or drop of the table waits ahead of a
  // new row lock of `session` there (0: none): the first that waits for
  // the table, unless it is of the session's own host or a wait for it
  // would close a circle (it waits for this host, which then goes ahead of
  // it, as it would wait for this host's locks anyway). A row lock so
  // never starves a table's waiter.
  std::uint32_t TableWaiterAhead(std::uint32_t session, const std::string &table_key) const;
  // "session 4 ("t") of process 1234 waits for a lock of the table ahead
  // of it", as a refusal names a table's waiter ahead of a row lock.
  std::string AheadText(std::uint32_t waiter) const;
  // True when a wait of `session` for `holders` (who hold `what`) would
  // close a circle of waits: the reason goes into lock_refusal_.
  bool ClosesCircle(std::uint32_t session, const std::vector<std::uint32_t> &holders, const HeldText &what);
  bool ClosesCircle(std::uint32_t session, std::uint32_t holder, const std::string &what) {
    return ClosesCircle(session, std::vector<std::uint32_t>{holder}, [&what](std::uint32_t) { return what; });
  }
  // "session 4 ("t") of process 1234", as a refusal names a holder.
  std::string SessionText(std::uint32_t session) const;
  // "session 1 ("t") of this host holds the row: a program's transactions
  // do not wait for each other", as a refusal names another transaction of
  // the program (nothing could end it while this one waited).
  std::string OwnTransactionHolds(std::uint32_t holder, const std::string &what) const;
  // What a refused SQL statement's text ends with, as a refused record
  // request's does: after a circle of waits (`circle`, the refusal's
  // reason) the transaction must end to undo it; after a wait that ran
  // out, the holder's.
  static std::string StatementAdvice(const std::string &circle);
  // Why the last wait of the connection was refused, for the client
  // (EXE_SYSTEM 9, code 105) and an SQL statement's text.
  std::string lock_refusal_;
  // 519 while the driver holds no company mapping for the client's
  // environment, else 0.
  std::uint32_t CompnrRetval() const;
  // The physical company of a table's logical company under that mapping.
  int PhysicalCompnr(const std::string &table, int logical) const;
  // A logical company that maps to the physical one (itself when it does).
  int LogicalCompnr(const std::string &table, int physical) const;
  // Every logical company that maps to the physical one.
  std::vector<int> LogicalCompnrs(const std::string &table, int physical) const;
  // True when the connection holds the table's dictionary for the company.
  bool HasDictionary(const std::string &table, int logical) const;

  DriverOptions options_;
  std::unique_ptr<DriverShared> own_;  // the state of a connection of its own
  DriverShared &shared_;               // own_, or the server's
  DriverStore &store_;
  DataPlane &data_;
  DdCatalog &tables_;
  std::set<std::uint32_t> sessions_;   // the sessions this connection opened
  DriverMonitor *monitor_ = nullptr;   // a server connection's
  std::function<bool()> cancelled_;
  std::function<void(RequestState)> on_state_;
  std::uint64_t handled_ = 0;
  bool had_session_ = false;
  std::vector<std::uint32_t> detached_;  // sessions closed by the request being handled
  std::uint64_t party_ = 0;            // its sessions' party to the waits (DriverShared::parties)
  // What the data plane needs of this connection.
  DataContext DataCtx() const;

  // The audit list of a commit reply: the tables and companies each
  // session's open transaction changed, with the number of batches.
  void NoteChanged(std::uint32_t session, const std::vector<UpdateTable> &tables);
  void WriteAuditList(std::uint32_t session, WireWriter &out);
  std::map<std::uint32_t, std::vector<std::pair<UpdateTable, std::uint16_t>>> changed_;
  std::map<std::uint32_t, std::vector<UpdateTable>> waiting_;  // batches not applied yet
  // Tables created inside each session's write transaction.
  std::map<std::uint32_t, std::vector<std::pair<std::string, int>>> created_in_write_;
  // Tables whose dictionaries arrived while another session's write
  // transaction held the file: kept without being made, so that a read of
  // one (which another session may be creating) answers at once that it
  // holds no row. The connection's next write makes them first.
  std::set<std::pair<std::string, int>> unmade_;
  // Makes the unmade tables in the session's write transaction, or, with
  // `wait`, outside one after a wait in the write queue. False when
  // another session's write transaction held the file for the whole wait.
  bool MakeUnmade(DriverSession *session, bool wait);
  // SQL finds an unmade table empty, at once, as the keyed reads do: each
  // session's SQLite connection attaches an in-memory database that holds
  // an empty table of each unmade one. SQLite looks a name up in the
  // database file before an attached database, so the table's own rows
  // are read as soon as it is there; a trigger refuses every insert or
  // update of the empty one, so that no row is ever written there.
  void ShadowUnmade();
  std::map<std::uint32_t, std::set<std::pair<std::string, int>>> shadowed_;  // by session

  std::string driver_name_;
  std::string refusal_;      // why the last session was refused (EXE_SYSTEM 9)
  std::string compnr_env_;
  bool references_ = true;   // false: the client attached with "NO REFS"
  PermSet permissions_;      // the client's PERMISSION payload
  AuditColsSet auditcols_;   // the client's AUDITCOLS payload
  SqlAgent agent_;           // after everything its context reads
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
  std::size_t out_pos_ = 0;
  bool held_ = false;
  bool ended_ = false;
};

}  // namespace molvane::driver
