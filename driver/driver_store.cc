#include "driver_store.h"

#include "sqlite_functions.h"

namespace molvane::driver {

DriverSession::~DriverSession() {
  if (db_ != nullptr) {
    if (active()) Exec("ROLLBACK");
    sqlite3_close(db_);
  }
}

bool DriverSession::Open(const std::string &path, int busy_ms, std::string *error) {
  const char *file = path.empty() ? ":memory:" : path.c_str();
  int rc = sqlite3_open_v2(file, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *error = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  // Another session's write transaction is waited for a short time, never forever.
  sqlite3_busy_timeout(db_, busy_ms);
  // Collated key indexes are kept up to date on every write.
  if (!InstallTssCollation(db_)) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  if (!path.empty() && !Exec("PRAGMA journal_mode=WAL")) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool DriverSession::Exec(const char *sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool DriverSession::Begin() {
  busy_ = false;
  if (active()) return true;
  if (Exec("BEGIN IMMEDIATE")) return true;
  busy_ = (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY;
  return false;
}

bool DriverSession::Commit() { return !active() || Exec("COMMIT"); }
bool DriverSession::Abort() { return !active() || Exec("ROLLBACK"); }

DriverSession *DriverStore::OpenSession(const std::string &name, std::string *error) {
  if (!path_.empty() && path_ != ":memory:" && claim_ == nullptr) {
    claim_ = DatabaseClaim::Take(path_, error);
    if (claim_ == nullptr) return nullptr;
  }
  auto session = std::make_unique<DriverSession>(next_id_, name);
  if (!session->Open(path_, busy_ms_, error)) return nullptr;
  DriverSession *raw = session.get();
  sessions_[next_id_++] = std::move(session);
  return raw;
}

DriverSession *DriverStore::Find(std::uint32_t id) {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second.get();
}

bool DriverStore::CloseSession(std::uint32_t id) { return sessions_.erase(id) != 0; }

}  // namespace molvane::driver
