#include "driver_store.h"

#include "sqlite_functions.h"

namespace molvane::driver {

DriverSession::~DriverSession() {
  if (db_ != nullptr) {
    if (active()) Exec("ROLLBACK");
    sqlite3_close(db_);
  }
}

bool DriverSession::Open(const std::string &path, std::string *error) {
  const char *file = path.empty() ? ":memory:" : path.c_str();
  // One thread uses a connection: SQLite's per-call locking is not needed.
  int rc = sqlite3_open_v2(file, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    *error = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  // Another session's lock is refused after a short wait, never waited on forever.
  sqlite3_busy_timeout(db_, 2000);
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

bool DriverSession::Begin() { return active() || Exec("BEGIN"); }
bool DriverSession::Commit() { return !active() || Exec("COMMIT"); }
bool DriverSession::Abort() { return !active() || Exec("ROLLBACK"); }

DriverSession *DriverStore::OpenSession(const std::string &name, std::string *error) {
  auto session = std::make_unique<DriverSession>(next_id_, name);
  if (!session->Open(path_, error)) return nullptr;
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
