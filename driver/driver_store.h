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

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "driver_claim.h"

namespace molvane::driver {

// Thrown by a write that meets another session's write transaction when
// the connection keeps lock waits (a driver server): the request stays in
// the input and is handled again later. Handlers take the write
// transaction before anything they change; the SQL agent keeps what it
// has handled of a batch and goes on from the statement that waits.
struct LockWait {};

class DriverSession {
 public:
  DriverSession(std::uint32_t id, std::string name) : id_(id), name_(std::move(name)) {}
  ~DriverSession();
  DriverSession(const DriverSession &) = delete;
  DriverSession &operator=(const DriverSession &) = delete;

  // Opens the session's connection to the database file. 0 or an error text.
  bool Open(const std::string &path, int busy_ms, std::string *error);
  // Opens the session's write transaction unless one is open; true on
  // success. False with busy() when another connection's write transaction
  // held the file for the whole busy time.
  bool Begin();
  // Commit and abort of the open transaction; true when none is open.
  bool Commit();
  bool Abort();
  bool active() const { return db_ != nullptr && !sqlite3_get_autocommit(db_); }
  // The last Begin failed because another connection was writing.
  bool busy() const { return busy_; }

  std::uint32_t id() const { return id_; }
  const std::string &name() const { return name_; }
  void Rename(std::string name) { name_ = std::move(name); }
  sqlite3 *db() { return db_; }

 private:
  bool Exec(const char *sql);
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

  // A new session with the next id; null with an error text on failure.
  DriverSession *OpenSession(const std::string &name, std::string *error);
  DriverSession *Find(std::uint32_t id);
  std::size_t count() const { return sessions_.size(); }
  // Ends a session, rolling back its open transaction. False when unknown.
  bool CloseSession(std::uint32_t id);

 private:
  std::string path_;
  int busy_ms_ = 2000;
  std::unique_ptr<DatabaseClaim> claim_;  // taken with the first session on a file
  std::uint32_t next_id_ = 1;
  std::map<std::uint32_t, std::unique_ptr<DriverSession>> sessions_;
};

}  // namespace molvane::driver
