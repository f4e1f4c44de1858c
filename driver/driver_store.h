// The driver's SQLite storage: one database file per driver, one SQLite
// connection per driver session, so that each session's transaction is a
// transaction of its own connection (WAL mode lets them run side by side).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace molvane::driver {

class DriverSession {
 public:
  DriverSession(std::uint32_t id, std::string name) : id_(id), name_(std::move(name)) {}
  ~DriverSession();
  DriverSession(const DriverSession &) = delete;
  DriverSession &operator=(const DriverSession &) = delete;

  // Opens the session's connection to the database file. 0 or an error text.
  bool Open(const std::string &path, std::string *error);
  // Transaction control; each returns true on success.
  bool Begin();
  bool Commit();
  bool Abort();
  bool active() const { return db_ != nullptr && !sqlite3_get_autocommit(db_); }

  std::uint32_t id() const { return id_; }
  const std::string &name() const { return name_; }
  void Rename(std::string name) { name_ = std::move(name); }
  sqlite3 *db() { return db_; }

 private:
  bool Exec(const char *sql);
  std::uint32_t id_;
  std::string name_;
  sqlite3 *db_ = nullptr;
};

class DriverStore {
 public:
  // The database file; ":memory:" until one is named.
  void SetPath(std::string path) { path_ = std::move(path); }
  bool has_path() const { return !path_.empty(); }
  const std::string &path() const { return path_; }

  // A new session with the next id; null with an error text on failure.
  DriverSession *OpenSession(const std::string &name, std::string *error);
  DriverSession *Find(std::uint32_t id);
  std::size_t count() const { return sessions_.size(); }
  // Ends a session, rolling back its open transaction. False when unknown.
  bool CloseSession(std::uint32_t id);

 private:
  std::string path_;
  std::uint32_t next_id_ = 1;
  std::map<std::uint32_t, std::unique_ptr<DriverSession>> sessions_;
};

}  // namespace molvane::driver
