#include "driver_store.h"

#include <fcntl.h>
#include <unistd.h>

#include "dbc/zdb_errors.h"
#include "driver_dd.h"
#include "platform/log.h"
#include "sqlite_functions.h"

namespace molvane::driver {

std::uint32_t StorageError(int sqlite_code) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_FULL: return ZE_STORAGE_FULL;
    case SQLITE_READONLY: return ZE_STORAGE_READONLY;
    case SQLITE_IOERR: return ZE_STORAGE_IO;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ZE_STORAGE_CORRUPT;
    default: return 0;
  }
}

std::string StorageText(sqlite3 *db) {
  const char *file = sqlite3_db_filename(db, "main");
  return std::string(sqlite3_errmsg(db)) + " (file " + (file != nullptr && *file ? file : ":memory:") + ")";
}

std::uint32_t DriverSession::Failure(std::uint32_t fallback) const {
  if (failure_ != 0) return failure_;
  std::uint32_t storage = db_ != nullptr ? StorageError(sqlite3_errcode(db_)) : 0;
  return storage != 0 ? storage : fallback;
}

DriverSession::~DriverSession() {
  if (db_ != nullptr) {
    if (active()) Exec("ROLLBACK");
    sqlite3_close(db_);
  }
}

bool DriverSession::Open(const std::string &path, int busy_ms, std::uint32_t max_pages, std::string *error) {
  const char *file = path.empty() ? ":memory:" : path.c_str();
  // A new database file is the driver user's alone, whatever the umask
  // (SQLite would create it 0644 less the umask); its WAL and shared-memory
  // files take the same mode. An existing file keeps its own. ":memory:"
  // names no file.
  if (!path.empty() && path != ":memory:") {
    int fd = ::open(file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  // One thread at a time uses a connection (in a server, under its monitor):
  // SQLite's per-call locking is not needed.
  int rc = sqlite3_open_v2(file, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    failure_ = StorageError(rc);
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
    failure_ = StorageError(sqlite3_errcode(db_));
    *error = StorageText(db_);
    return false;
  }
  // A commit is on the disk when it is answered, whatever SQLite's build
  // default: in WAL mode NORMAL would lose the last commits at a power cut.
  if (!Exec("PRAGMA synchronous=FULL")) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  if (max_pages != 0 && !Exec(("PRAGMA max_page_count=" + std::to_string(max_pages)).c_str())) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  // A file an older driver wrote loses its collated indexes (each table's
  // are made again at its first use) and records the mode it serves. This
  // never waits for another session's write: it is tried again at the next
  // session's open, and each table is made right at its first use anyway.
  if (!path.empty() && path != ":memory:") {
    std::string why;
    sqlite3_busy_timeout(db_, 0);
    if (!PrepareDatabaseFile(db_, CollationMode(), &why))
      log_mesg(__FILE__, __LINE__, "driver", 0, "database '%s' not readied for TSS mode %d: %s", file,
               CollationMode(), why.c_str());
    sqlite3_busy_timeout(db_, busy_ms);
  }
  return true;
}

bool DriverSession::Exec(const char *sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool DriverSession::Begin() {
  busy_ = false;
  failure_ = 0;
  if (active()) return true;
  if (Exec("BEGIN IMMEDIATE")) return true;
  busy_ = (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY;
  return false;
}

bool DriverSession::Commit() {
  failure_ = lost_;
  lost_ = 0;
  if (failure_ != 0) {
    // Work after the loss may have begun a new transaction: it goes too.
    if (active()) Exec("ROLLBACK");
    return false;
  }
  return !active() || Exec("COMMIT");
}

bool DriverSession::Abort() {
  failure_ = lost_ = 0;
  return !active() || Exec("ROLLBACK");
}

DriverSession *DriverStore::OpenSession(const std::string &name, std::string *error) {
  if (!path_.empty() && path_ != ":memory:" && claim_ == nullptr) {
    claim_ = DatabaseClaim::Take(path_, error);
    if (claim_ == nullptr) return nullptr;
  }
  auto session = std::make_unique<DriverSession>(next_id_, name);
  if (!session->Open(path_, busy_ms_, max_pages_, error)) {
    last_failure_ = session->Failure(0);
    return nullptr;
  }
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
