// The reference driver's data plane: buffered updates (EXE_UPDATE), keyed
// reads (EXE_ROW_CNTR), table actions (EXE_TBL_CNTR) and the row and table
// locks that live until a session's transaction ends.
//
// A batch of buffered updates is applied inside a savepoint of the session's
// transaction, its records in the order the client made them across its
// tables, each with the reference work the client left to the driver
// (driver_refs.h): the first action that fails rolls the whole batch back
// and the reply names the error, the table, the company and a text. A batch on
// a table the connection holds no dictionary for is kept and answered with
// 513; the repeat that carries no tables applies it. A lock held by another
// session is refused with 107 (after the wait of a server's locked read,
// see below), never waited on here. Every row a
// session's transaction changed is locked for the other sessions until it
// ends: by its keys when a batch or an SQL UPDATE changed it, by its rowid
// whatever changed it (DriverSession::Changed), so that no locked read is
// granted on an image that another transaction is about to replace. (A
// driver server lets a locked read wait for another host's lock before it
// is refused: DriverConnection::WaitForRow.)
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <set>
#include <string>
#include <vector>

#include "dbc/zdb_errors.h"
#include "store/driver_dd.h"
#include "store/driver_rows.h"
#include "store/driver_store.h"
#include "common/driver_wire.h"
#include "store/rds_decode.h"

namespace molvane::driver {

// The answers of the data work (and the reference work it does), in the
// width of the reply's status word.
inline constexpr std::uint32_t kLocked = ZE_LOCKED;
inline constexpr std::uint32_t kNoRecord = ZE_NO_RECORD;
inline constexpr std::uint32_t kChanged = ZE_CHANGED;
inline constexpr std::uint32_t kNoTable = ZE_NO_TABLE;
inline constexpr std::uint32_t kStillReferenced = ZE_REF_STILL_REFERENCED;
inline constexpr std::uint32_t kNoParent = ZE_REF_NO_PARENT;
inline constexpr std::uint32_t kNoParentTable = ZE_REF_NO_PARENT_TABLE;
inline constexpr std::uint32_t kNoCounters = ZE_REF_NO_COUNTERS;

// The name of a table's company in the lock table: the table name, then
// the physical company in three digits.
std::string TableKey(const std::string &table, int physical);

// A row as the locks know it: by its key in the lock table, and by the
// rowid it had when it was found (0: not found), which the sessions that
// changed it in their open transactions know it by.
struct RowRef {
  std::string table_key;     // TableKey
  std::string key;           // the row's key (index 1)
  std::string sqlite_table;  // SqliteTableName
  sqlite3_int64 rowid = 0;
  std::string key_text;      // "code = SALES", for messages
};

// One table of an EXE_UPDATE request.
struct UpdateTable {
  std::string name;  // 8 characters as sent
  std::uint16_t compnr = 0;
  RdsStream rds;
};

// What the data plane needs of its connection.
struct DataContext {
  const DdCatalog *catalog = nullptr;
  // The connection whose own dictionaries the request's tables need.
  const void *holder = nullptr;
  std::function<int(const std::string &table, int logical)> physical;
  // The logical companies that map to a physical one (none when unmapped).
  std::function<std::vector<int>(const std::string &table, int physical)> logicals;
  // The sessions of the database, whose open transactions lock the rows
  // they changed (null: no other sessions).
  const DriverStore *store = nullptr;
  // False when the client attached with references switched off.
  bool references = true;
  // How a refusal names the session that holds a row ("session 4 ("t") of
  // process 1234"); unset: by its number.
  std::function<std::string(std::uint32_t session)> session_text;
  // False when the user's roles forbid reading this row image of the table
  // in the logical company; unset means every row may be read.
  std::function<bool(const DdTableDesc &desc, int logical, const std::uint8_t *image)> readable;
  // Asked when another session (`holder`) holds a row that a batch of
  // `session` writes: true when the holder gave the row back (an SQL
  // statement that waits for the write transaction gives back the rows
  // it took, as to a locked read), and the row is looked at again; unset:
  // none gives way.
  std::function<bool(std::uint32_t session, std::uint32_t holder, const std::string &table_key,
                     const std::string &row_key)>
      yields;
};

class DataPlane {
 public:
  // Applies (or keeps) the batch of a session; writes the whole reply.
  // When applied, `reached` (if given) gets the tables that the batch's
  // reference work changed, names padded to 8 characters.
  void Update(DriverSession *session, std::vector<UpdateTable> tables, const DataContext &ctx,
              WireWriter &out, std::vector<UpdateTable> *reached = nullptr);
  // A keyed read on index 1; arg 1 locks the row for the session. Writes
  // the reply (row, retval) and gives its retval (kLocked: refused as
  // locked, nothing else written). A row the roles forbid is answered 208,
  // before it is locked.
  std::uint32_t Read(DriverSession *session, const std::string &table, int compnr, std::uint32_t arg,
            const std::string &key, const DataContext &ctx, WireWriter &out);
  // A table action; 0 or an error number, *argument answered.
  std::uint32_t TableAction(DriverSession *session, const std::string &table, int compnr,
                            std::uint32_t action, std::uint32_t *argument, const DataContext &ctx);
  // True when another session holds the table locked or any row of it:
  // a DELETE or UPDATE of the SQL agent then looks for the rows it needs.
  bool LockedForOthers(std::uint32_t session, const std::string &table, int physical) const;
  // A statement of the session (an SQL UPDATE or DELETE) changed the rows
  // `watched` (DriverSession::TakeWatched): those of the table still there
  // are locked for the other sessions under their new keys until the
  // transaction ends (their old keys are locked by rowid).
  void LockChangedRows(DriverSession *session, const std::string &table, int physical,
                       const std::vector<std::pair<std::string, sqlite3_int64>> &watched, const DataContext &ctx);
  // The keys of the rows of a table by their rowids (those not found are
  // left out).
  std::vector<std::string> KeysOfRows(DriverSession *session, const std::string &table, int physical,
                                      const std::vector<sqlite3_int64> &rowids, const DataContext &ctx);
  // An SQL UPDATE or DELETE of the session starts on the table: until
  // StatementEnded, other sessions' locked reads, writes and table locks
  // of the table are refused, since the statement may yet change any of
  // its rows (its thread lets other threads run while it steps).
  void StatementStarts(std::uint32_t session, const std::string &table, int physical);
  void StatementEnded(std::uint32_t session);
  // True when the session holds locks or changed keys.
  bool Holds(std::uint32_t session) const { return held_.count(session) != 0; }
  // True when another session holds the row or its table, or a statement
  // of another session changes the table: by the locks and changed keys
  // alone (no row is looked up, so a row changed only by its rowid is not
  // seen), what another thread may ask for a waiting session, with the
  // monitor.
  bool LockedByOther(std::uint32_t session, const std::string &table_key, const std::string &row_key) const;
  // LockedByOther for a write of the session's batch, after the holder
  // was asked to give the row back (DataContext::yields).
  bool HeldAgainstWrite(std::uint32_t session, const std::string &table_key, const std::string &row_key,
                        const DataContext &ctx) const;
  // The session that holds the row so for `session`, 0 when none does: a
  // waiting read's wait starts again when its row changes hands.
  std::uint32_t HolderOf(std::uint32_t session, const std::string &table_key, const std::string &row_key) const;
  // The one answer to who holds a row against `session`, for a locked read
  // and for a wait alike: a lock of the row or its table, a running
  // statement on the table, a changed key, or a change of its rowid in
  // another session's open transaction (`store`, when given: an SQL DELETE
  // or UPDATE changes rows by rowid). 0 when none does. Looks nothing up in
  // SQLite, so any thread may ask it with the monitor held.
  std::uint32_t HolderOf(std::uint32_t session, const RowRef &row, const DriverStore *store) const;
  // The row of a table by its key as `session` finds it (RowRef).
  RowRef FindRow(DriverSession *session, const std::string &table, int compnr, const std::string &key,
                 const DataContext &ctx);
  // The session that holds the table's own lock against `session`: a lock
  // of the table, or a statement running on it (0: none). It is an entry of
  // its own beside the row locks, never a key a row may have.
  std::uint32_t TableLockHolder(std::uint32_t session, const std::string &table_key) const;
  // The sessions that hold a table against `session`, for a table lock,
  // clear or drop, which change or keep out every row of it: a lock of the
  // table or of any of its rows, a statement running on it, or a change of
  // any of its rows in another session's open transaction (`store`, when
  // given). In ascending order, each once; empty when the table is free;
  // at most `most` of them (1: whether the table is free). Looks nothing
  // up in SQLite, so any thread may ask it with the monitor.
  std::vector<std::uint32_t> TableHolders(std::uint32_t session, const std::string &table_key,
                                          const std::string &sqlite_table, const DriverStore *store,
                                          std::size_t most = ~std::size_t{0}) const;
  // The tables (name and company as sent) that a batch of the session
  // clears or drops whole (kinds 9 and 10, which the client sends for a
  // table with references) and that another session holds now
  // (TableHolders): such a batch waits for them as a table action does.
  // The repeat of a batch kept for its dictionaries (no tables) looks at
  // the kept one. Only a table with references is decoded to look.
  struct WholeTable {
    std::string name;  // as sent
    std::uint16_t compnr = 0;
    std::string action;  // "clear table (action 9)", as a batch's failure names it
  };
  std::vector<WholeTable> HeldWholeTables(DriverSession *session, const std::vector<UpdateTable> &tables,
                                          const DataContext &ctx) const;
  // Takes a lock of the table for the session (a clear or drop takes it
  // before it queues for the write transaction, so that no other session
  // takes a row of it meanwhile). False when the session held it already.
  bool LockTable(std::uint32_t session, const std::string &table_key);
  // Gives back the session's lock of the table, taken for an action that
  // then did not run.
  void UnlockTable(std::uint32_t session, const std::string &table_key);
  // True when the session holds the row's lock itself.
  bool LocksRow(std::uint32_t session, const std::string &table_key, const std::string &row_key) const;
  // Gives back the session's lock of the row, taken for a statement that
  // then did not run (no change of the row is undone).
  void Unlock(std::uint32_t session, const std::string &table_key, const std::string &row_key);
  // How often locks, changed keys or a running statement's hold on a table
  // went: a waiting locked read may take its row now.
  std::uint64_t releases() const { return releases_; }
  // True when a batch of the session waits for its dictionaries.
  bool HasKept(std::uint32_t session_id) const { return kept_.count(session_id) != 0; }
  // The first table of that batch, null when none waits.
  const UpdateTable *FirstKept(std::uint32_t session_id) const {
    auto it = kept_.find(session_id);
    return it == kept_.end() || it->second.empty() ? nullptr : &it->second.front();
  }
  // The session's transaction ended: its locks go.
  void EndTransaction(std::uint32_t session_id);
  // The periodic work of a driver server (DriverStore::OnIdleTick); the
  // locks of the transactions it rolls back go. The sessions rolled back.
  std::vector<std::uint32_t> OnIdleTick(DriverStore &store, std::chrono::steady_clock::time_point now,
                                        const std::map<std::uint32_t, ClientQuiet> &quiet);
  // The session is gone: its locks, its kept batch and its prepared
  // statements go (before its connection is closed).
  void ForgetSession(std::uint32_t session_id);

 private:
  friend class RefWork;  // reads rows and locks of the session's transaction
  struct Failure {
    std::uint32_t error = 0;
    std::string table;
    std::uint16_t compnr = 0;
    std::string extra;
    std::vector<std::pair<std::string, std::uint16_t>> missing;  // with ZE_NO_DD
  };
  struct ChangedKeys;
  // Applies the records; the keys of the rows they change go into `changes`.
  Failure Apply(DriverSession *session, const std::vector<UpdateTable> &tables, const DataContext &ctx,
                ChangedKeys &changes, std::vector<UpdateTable> *reached);
  // The rows of a table on a session's connection, with their prepared
  // statements kept for the life of the session.
  TableRows &Rows(DriverSession *session, const DdTableDesc &desc, int physical);
  // True when another session's SQL UPDATE or DELETE runs on the table.
  bool ChangingForOther(std::uint32_t session, const std::string &table_key) const;

  using RowsKey = std::tuple<std::uint32_t, std::string, int>;
  // By session, table, company; rebuilt when the description changed.
  std::map<RowsKey, std::unique_ptr<TableRows>> rows_;
  std::map<std::uint32_t, std::vector<UpdateTable>> kept_;   // batches waiting for dictionaries
  // Every lock below is made by Hold and every changed key by NoteChanged
  // or a batch; only EndTransaction takes them away, and held_ counts them.
  template <class Holdings>
  void Hold(Holdings &in, std::string key, std::uint32_t session);
  // Whether a session other than `session` holds a lock or changed a row:
  // while none does, nothing is looked up for the session's reads and
  // batches (a session's own inserts in a long transaction among them).
  bool HeldByOthers(std::uint32_t session) const {
    return held_.size() > 1 || (held_.size() == 1 && held_.begin()->first != session);
  }

  std::map<std::string, std::uint32_t> changing_;     // table key -> session whose statement changes it
  std::map<std::string, std::uint32_t> row_locks_;    // table key + row key -> session
  std::map<std::string, std::uint32_t> table_locks_;  // table key -> session
  // The keys of the rows a session's transaction changed (table key, NUL,
  // row key), refused to other sessions' locked reads and writes. They are
  // appended to a log as the batches change rows; the set another session
  // looks them up in is made from the log only when one asks, since most
  // transactions end before any other session does. An SQL DELETE or
  // UPDATE does not look at them: it waits for the write transaction that
  // holds them instead.
  struct ChangedKeys {
    std::string log;  // each key: its length (4 bytes), then its bytes
    std::unordered_set<std::string> set;  // the keys of log[0, indexed)
    std::size_t indexed = 0;
    std::size_t last = std::string::npos;  // where the last key appended starts
    std::size_t compact_at = kCompactFrom;
    std::size_t repeatable = 0;  // bytes appended of keys that may be in the log already
    static constexpr std::size_t kCompactFrom = std::size_t{1} << 20;
    // Appends a key, unless it is the one appended last. A `fresh` key
    // (a row just inserted) was not in the log unless another key of the
    // log was deleted or changed first.
    void Append(const std::string &table_key, const std::string &row_key, bool fresh = false);
    // Drops the keys appended after the log had `size` bytes.
    void Truncate(std::size_t size);
    bool Holds(const std::string &key);
    // Between batches: a log grown large with keys changed again and again
    // (a transaction updating a few rows many times) is written anew with
    // each key once. A log of fresh keys (an insert-only transaction) has
    // nothing to compact and is not looked through.
    void Compact();
    // Empties the log; a large room goes with it.
    void Clear();
  };
  void NoteChanged(std::uint32_t session, const std::string &table_key, const std::string &row_key);
  // By session; an entry (and its room) lasts as long as the session. The
  // sets are made while looking, hence mutable.
  mutable std::unordered_map<std::uint32_t, ChangedKeys> changed_keys_;
  std::map<std::uint32_t, std::size_t> held_;  // session -> its locks and changed keys
  std::uint64_t releases_ = 0;
};

}  // namespace molvane::driver
