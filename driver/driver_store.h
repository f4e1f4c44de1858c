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
#include <map>
#include <memory>
#include <string>

#include "driver_claim.h"

namespace molvane::driver {

// The error number of a storage failure that SQLite reports (a full disk or
// size limit 701, a read-only file 702, an I/O error 703, a damaged file or
// no database 704), else 0: the caller keeps its own number.
std::uint32_t StorageError(int sqlite_code);
// SQLite's message of a connection's last error, with the database file
// named: "database or disk is full (file /path/main.db)".
std::string StorageText(sqlite3 *db);
// May be thrown by the SQL agent's `begin` for a write that must wait: the
// agent keeps what it has handled of a batch and goes on from the
// statement that waits (Resume). A driver server waits in the request's
// own thread instead (DriverMonitor), so it throws none.
struct LockWait {};

class DriverSession {
 public:
  DriverSession(std::uint32_t id, std::string name) : id_(id), name_(std::move(name)) {}
  ~DriverSession();
  DriverSession(const DriverSession &) = delete;
  DriverSession &operator=(const DriverSession &) = delete;

  // Opens the session's connection to the database file, capped at
  // max_pages pages when not 0. False with an error text on failure.
  bool Open(const std::string &path, int busy_ms, std::uint32_t max_pages, std::string *error);
  // Opens the session's write transaction unless one is open; true on
  // success. False with busy() when another connection's write transaction
  // held the file for the whole busy time.
  bool Begin();
  // Commit and abort of the open transaction; true when none is open.
  bool Commit();
  bool Abort();
  // After a failing Begin, Commit or Abort: the storage error number, or
  // fallback.
  std::uint32_t Failure(std::uint32_t fallback) const;
  // SQLite rolled the open transaction back by itself (a full disk or an
  // I/O error can): the commit that ends it fails with that error instead
  // of reporting the lost work as committed; an abort just ends it.
  void TransactionLost(std::uint32_t error) { lost_ = error; }
  bool active() const { return db_ != nullptr && !sqlite3_get_autocommit(db_); }
  // The last Begin failed because another connection was writing.
  bool busy() const { return busy_; }

  std::uint32_t id() const { return id_; }
  const std::string &name() const { return name_; }
  void Rename(std::string name) { name_ = std::move(name); }
  sqlite3 *db() { return db_; }

 private:
  bool Exec(const char *sql);
  std::uint32_t lost_ = 0;     // error that ended the transaction behind the client's back
  std::uint32_t failure_ = 0;  // that error, once a commit reported it
  std::uint32_t id_;
  std::string name_;
  sqlite3 *db_ = nullptr;
  bool busy_ = false;
};

class DriverStore {
 public:
  // The database file; ":memory:" until one is named.
  void SetPath(std::string path) { path_ = std::move(path); }
  bool has_path() const { return !path_.empty(); }
  const std::string &path() const { return path_; }
  // How long a write waits for another connection's write transaction
  // before it is refused (2 seconds; 0 in a driver server, whose waits are
  // kept by the connection instead of blocking the process).
  void SetBusyTime(int ms) { busy_ms_ = ms; }
  // The claim a driver server took on the file before it listened.
  void HoldClaim(std::unique_ptr<DatabaseClaim> claim) { claim_ = std::move(claim); }
  // The cap of the file in pages for the sessions opened after; 0 none.
  void SetMaxPages(std::uint32_t pages) { max_pages_ = pages; }

  // A new session with the next id; null with an error text on failure,
  // and last_failure() the storage error number (0 for another cause).
  DriverSession *OpenSession(const std::string &name, std::string *error);
  std::uint32_t last_failure() const { return last_failure_; }
  DriverSession *Find(std::uint32_t id);
  std::size_t count() const { return sessions_.size(); }
  // Ends a session, rolling back its open transaction. False when unknown.
  bool CloseSession(std::uint32_t id);
  // A driver server's loop calls this about once a second, holding the
  // shared monitor, whatever its clients do: upkeep that no request
  // triggers (a transaction idle too long, a checkpoint) belongs here.
  void OnIdleTick(std::chrono::steady_clock::time_point) {}

 private:
  std::string path_;
  int busy_ms_ = 2000;
  std::unique_ptr<DatabaseClaim> claim_;  // taken with the first session on a file
  std::uint32_t max_pages_ = 0;
  std::uint32_t last_failure_ = 0;
  std::uint32_t next_id_ = 1;
  std::map<std::uint32_t, std::unique_ptr<DriverSession>> sessions_;
};

}  // namespace molvane::driver
