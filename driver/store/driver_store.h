// The driver's SQLite storage: one database file per driver, one SQLite
// connection per driver session, so that each session's transaction is a
// transaction of its own connection (WAL mode lets them run side by side).
//
// A session reads outside any SQLite transaction (each read sees what is
// committed) and opens its write transaction with its first write, so that
// readers never hold a snapshot that a later write would have to upgrade.
// SQLite keeps one writer per file: a write that meets another session's
// write transaction waits for it (see busy()).
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "locks/driver_claim.h"

namespace molvane::driver {

// The error number of a storage failure that SQLite reports (a full disk or
// size limit 701, a read-only file 702, an I/O error 703, a damaged file or
// no database 704), else 0: the caller keeps its own number.
std::uint32_t StorageError(int sqlite_code);
// SQLite's message of a connection's last error, with the database file
// named: "database or disk is full (file /path/main.db)".
std::string StorageText(sqlite3 *db);

// What a driver server knows of a session's client while none of its
// requests is received, running or parked: since when it has been quiet
// (its last answer was sent, or the request ended when the answer is not
// read yet), and whether that answer is still unread.
struct ClientQuiet {
  std::chrono::steady_clock::time_point since;
  bool unread = false;
};

class DriverSession {
 public:
  DriverSession(std::uint32_t id, std::string name) : id_(id), name_(std::move(name)) {}
  ~DriverSession();
  DriverSession(const DriverSession &) = delete;
  DriverSession &operator=(const DriverSession &) = delete;

  // Opens the session's connection to the database file, capped at
  // max_pages pages when not 0. False with an error text on failure.
  // `*ended` counts every transaction of the connection that ends, whoever
  // ends it (a commit, a rollback, SQLite's own rollback). A `scratch` file
  // (the driver's own, removed at its end) is not synced at commits.
  bool Open(const std::string &path, int busy_ms, std::uint32_t max_pages, std::uint64_t *ended,
            std::string *error, bool scratch = false);
  // Opens the session's write transaction unless one is open; true on
  // success. False with busy() when another connection's write transaction
  // held the file for the whole busy time.
  bool Begin();
  // Commit and abort of the open transaction; true when none is open.
  bool Commit();
  bool Abort();
  // Rolls back the open write transaction, which holds nothing the client
  // wrote (the SQL statement that began it failed): the file is free for
  // other sessions' writes, while the client's transaction goes on.
  void GiveBackWrite();
  // After a failing Begin, Commit or Abort: the storage error number, or
  // fallback.
  std::uint32_t Failure(std::uint32_t fallback) const;
  // SQLite rolled the open transaction back by itself (a full disk, an I/O
  // error or an interrupted statement can), or the driver did: the rows it
  // changed are forgotten, and every commit fails with that error instead
  // of reporting the lost work as committed, until an abort ends the
  // transaction. With a reason (which says why) every further request of
  // the session is refused with the error as well.
  void TransactionLost(std::uint32_t error, std::string reason = {});
  std::uint32_t lost() const { return lost_; }
  const std::string &lost_reason() const { return lost_reason_; }
  bool active() const { return db_ != nullptr && !sqlite3_get_autocommit(db_); }
  // Brackets one request of the session's client: a transaction that was
  // open before and is not after, without a commit or abort, was rolled
  // back behind the client's back and is marked lost with the storage
  // error of the connection (or 510) and a reason; RequestEnded is then
  // true, so that the caller frees what the transaction held.
  void RequestStarts();
  bool RequestEnded();
  // True when the session's open transaction changed the row `rowid` of
  // the SQLite table (any row of it when rowid is 0); what SQLite reports
  // of every insert, update and delete on the connection, whoever made it
  // (a batch, a table action, the SQL agent).
  bool Changed(const std::string &sqlite_table, sqlite3_int64 rowid) const;
  // The rows changed from here on are a batch's, which may be rolled back
  // to its savepoint: BatchEnded(true) adds them to the transaction's,
  // BatchEnded(false) forgets them, so that a failed batch leaves no row
  // locked for other sessions.
  void BatchStarts();
  void BatchEnded(bool kept);
  // An SQL UPDATE or DELETE runs under a savepoint of its own, its rows
  // counted as a batch's: StatementEnded(false) rolls it back to the
  // savepoint and forgets them, so that a failed statement leaves no row
  // locked for other sessions.
  void StatementStarts();
  void StatementEnded(bool kept);
  // The last Begin failed because another connection was writing.
  bool busy() const { return busy_; }
  // A wait for the write transaction ran out before Begin was tried (other
  // sessions' writes were ahead of it): busy() as after a Begin that met
  // another connection's write.
  void WaitRanOut() {
    busy_ = true;
    failure_ = 0;
  }
  // The rows changed from here on (SQLite table, rowid) are listed too,
  // up to kMaxChangedRows of them, until TakeWatched returns them: a
  // statement whose new keys must be locked.
  void WatchChanges();
  std::vector<std::pair<std::string, sqlite3_int64>> TakeWatched();

  std::uint32_t id() const { return id_; }
  const std::string &name() const { return name_; }
  // The reason of a transaction SQLite rolled back, `how` saying when.
  std::string RolledBackReason(const std::string &how) const {
    return "SQLite rolled back the transaction of session " + std::to_string(id_) + " (" + name_ + ")" + how +
           "; abort it and do its work again";
  }
  void Rename(std::string name) { name_ = std::move(name); }
  sqlite3 *db() { return db_; }

 private:
  bool Exec(const char *sql);
  static void OnChange(void *self, int op, const char *database, const char *table, sqlite3_int64 rowid);
  static int OnCommit(void *self);
  static void OnRollback(void *self);
  std::uint64_t *ended_ = nullptr;  // the store's count of ended transactions
  std::uint32_t lost_ = 0;     // error that ended the transaction behind the client's back
  std::string lost_reason_;    // why, when the driver ended it
  bool in_request_transaction_ = false;  // a transaction was open when the request began
  bool ended_by_client_ = false;         // the request committed or aborted
  // The rows the open transaction changed, per SQLite table; past
  // kMaxChangedRows of a table the whole table counts as changed, so that
  // a transaction's bookkeeping stays bounded.
  class TableChanges {
   public:
    // Inserts come in rowid order: those are appended, and only a rowid
    // below the last leaves the list to be sorted at the next look.
    void Add(sqlite3_int64 rowid);
    bool Has(sqlite3_int64 rowid) const;
    // Adds the rows of another list.
    void Merge(const TableChanges &other);

   private:
    void Sort() const;
    bool all_ = false;
    mutable bool sorted_ = true;
    mutable std::vector<sqlite3_int64> rows_;  // unique once sorted
  };
  static constexpr std::size_t kMaxChangedRows = 100000;
  using Changes = std::map<std::string, TableChanges, std::less<>>;
  Changes changed_;
  Changes batch_;          // changed by the batch running, while in_batch_
  bool in_batch_ = false;
  bool watching_ = false;
  std::vector<std::pair<std::string, sqlite3_int64>> watched_;  // changed while watching
  std::uint32_t failure_ = 0;  // that error, once a commit reported it
  std::uint32_t id_;
  std::string name_;
  sqlite3 *db_ = nullptr;
  bool busy_ = false;
};

class DriverStore {
 public:
  DriverStore() = default;
  // Closes every session and removes the store's own file (own_file()).
  ~DriverStore();
  DriverStore(const DriverStore &) = delete;
  DriverStore &operator=(const DriverStore &) = delete;

  // The database file; none (or ":memory:") until one is named. A store
  // whose first session opens without a file named keeps its database in a
  // file of its own (own_file()) for the rest of its life, so that all its
  // sessions share one database; no file named later replaces it.
  void SetPath(std::string path) {
    path_ = std::move(path);
    prepared_ = false;
  }
  bool has_path() const { return !path_.empty() || !own_file_.empty(); }
  // The file a store without a named one keeps its database in: a new file
  // in TMPDIR (else /tmp), made at its first session and removed with the
  // store (its WAL and shared-memory files too); "" while none was made.
  // The store holds a shared flock on it for its life.
  const std::string &own_file() const { return own_file_; }
  // Removes the own files in `folder` that no store holds (left by a
  // driver that was killed) and that were last written more than
  // kStaleOwnFileSeconds ago, with their WAL and shared-memory files. Each
  // store that makes its own file sweeps its folder so first.
  static void RemoveStaleOwnFiles(const std::string &folder);
  static constexpr int kStaleOwnFileSeconds = 60;
  const std::string &path() const { return path_; }
  // How long a write waits for another connection's write transaction
  // before it is refused (2 seconds; 0 in a driver server, whose waits are
  // kept by the connection instead of blocking the process).
  void SetBusyTime(int ms) { busy_ms_ = ms; }
  // The claim a driver server took on the file before it listened.
  void HoldClaim(std::unique_ptr<DatabaseClaim> claim) { claim_ = std::move(claim); }
  // The cap of the file in pages for the sessions opened after; 0 none.
  void SetMaxPages(std::uint32_t pages) { max_pages_ = pages; }

  // Claims the database file of a child or in-process driver at its
  // attachment, before its first session: *shared is the warning of the
  // claim when another host's driver uses the file too, else "". A claim
  // refused now is taken (and its refusal told) at the first session.
  void ClaimAtAttach(std::string *shared);
  // A new session with the next id; null with an error text on failure,
  // and last_failure() the error number (a storage error, 505 for a
  // database whose folder does not exist, 0 for another cause).
  DriverSession *OpenSession(const std::string &name, std::string *error);
  std::uint32_t last_failure() const { return last_failure_; }
  DriverSession *Find(std::uint32_t id);
  std::size_t count() const { return sessions_.size(); }
  // Ends a session, rolling back its open transaction. False when unknown.
  bool CloseSession(std::uint32_t id);
  // Bracket one request of a connection for each of its sessions
  // (DriverSession::RequestStarts, RequestEnded); RequestEnded gives the
  // sessions whose transaction SQLite rolled back.
  void RequestStarts(const std::set<std::uint32_t> &ids);
  std::vector<std::uint32_t> RequestEnded(const std::set<std::uint32_t> &ids);
  // The session other than `session` that changed the row (or, with
  // rowid 0, any row) of the SQLite table in its open transaction; 0 when
  // none did.
  std::uint32_t ChangerOf(std::uint32_t session, const std::string &sqlite_table, sqlite3_int64 rowid) const;
  // The session other than `session` whose write transaction is open; 0
  // when none is.
  std::uint32_t Writer(std::uint32_t session) const;
  // How many transactions of the sessions have ended so far (committed or
  // rolled back, by the client, the driver or SQLite): a change means that
  // a write transaction waited for may be over.
  std::uint64_t transactions_ended() const { return transactions_ended_; }

  // Settings of the periodic work of a driver server (OnIdleTick).
  void SetIdleTransactionLimit(std::chrono::seconds limit) { idle_limit_ = limit; }
  // Periodic work of a driver server. It acts only on the sessions in
  // `quiet`, those whose connection has no request received, running or
  // parked (the others belong to a thread that may be inside a statement).
  // A write transaction of a session quiet for longer than the idle limit
  // is rolled back (its session refuses further work with 510 until the
  // client aborts), and so is a transaction that holds row or table locks
  // without a write (`holds_locks`): the caller releases them; one whose
  // client has not read its last answer, after kUnreadLimitFactor times
  // the limit. A WAL that grew beyond
  // kWalTruncateBytes is checkpointed and truncated while every session is
  // quiet and none reads or writes. Returns the sessions rolled back, whose
  // locks the caller releases.
  std::vector<std::uint32_t> OnIdleTick(std::chrono::steady_clock::time_point now,
                                        const std::map<std::uint32_t, ClientQuiet> &quiet,
                                        const std::function<bool(std::uint32_t)> &holds_locks = {});
  // True when some session holds a transaction or a statement that is
  // stepping (a snapshot of the file that a checkpoint must not pass).
  bool HasReader() const;
  // Checkpoints the WAL into the database file and truncates it, through
  // the connection of `session`; false when a reader or writer prevented it.
  bool TruncateWal(std::uint32_t session);
  // The size of the database's WAL file in bytes (0 when there is none).
  std::int64_t WalBytes() const;
  static constexpr std::int64_t kWalTruncateBytes = 4 << 20;
  static constexpr int kUnreadLimitFactor = 10;

 private:
  // Makes own_file_; false with the reason when no file can be made.
  bool MakeOwnFile(std::string *error);

  std::string path_;
  std::string own_file_;  // the database file the store made for itself (own_file())
  int own_fd_ = -1;       // ... open, with its shared flock
  int busy_ms_ = 2000;
  std::unique_ptr<DatabaseClaim> claim_;  // taken with the first session on a file
  std::uint32_t max_pages_ = 0;
  std::uint32_t last_failure_ = 0;
  std::uint32_t next_id_ = 1;
  bool prepared_ = false;  // the file was readied for the driver's mode (PrepareDatabaseFile)
  std::uint64_t transactions_ended_ = 0;
  std::chrono::seconds idle_limit_{60};
  std::map<std::uint32_t, std::unique_ptr<DriverSession>> sessions_;
};

}  // namespace molvane::driver
