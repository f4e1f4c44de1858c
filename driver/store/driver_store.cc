#include "store/driver_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

#include "dbc/zdb_errors.h"
#include "store/driver_dd.h"
#include "platform/log.h"
#include "sqlite/sqlite_functions.h"
#include "common/driver_log.h"

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

bool DriverSession::Open(const std::string &path, int busy_ms, std::uint32_t max_pages, std::uint64_t *ended,
                         std::string *error, bool scratch) {
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
  // A scratch file goes with the process, so nothing is synced.
  if (!Exec(scratch ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL")) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  // A WAL that grew while a reader held an old snapshot is cut back to
  // this size once a checkpoint resets it.
  if (!path.empty() &&
      !Exec(("PRAGMA journal_size_limit=" + std::to_string(DriverStore::kWalTruncateBytes)).c_str())) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_update_hook(db_, &DriverSession::OnChange, this);
  ended_ = ended;
  sqlite3_commit_hook(db_, &DriverSession::OnCommit, this);
  sqlite3_rollback_hook(db_, &DriverSession::OnRollback, this);
  if (max_pages != 0 && !Exec(("PRAGMA max_page_count=" + std::to_string(max_pages)).c_str())) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool DriverSession::Exec(const char *sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void DriverSession::OnChange(void *self, int, const char *, const char *table, sqlite3_int64 rowid) {
  auto *session = static_cast<DriverSession *>(self);
  if (session->watching_ && session->watched_.size() < kMaxChangedRows) session->watched_.emplace_back(table, rowid);
  auto &changed = session->in_batch_ ? session->batch_ : session->changed_;
  auto it = changed.find(std::string_view(table));
  if (it == changed.end()) it = changed.emplace(table, TableChanges{}).first;
  it->second.Add(rowid);
}

void DriverSession::TableChanges::Add(sqlite3_int64 rowid) {
  if (all_) return;
  if (!rows_.empty() && rowid <= rows_.back()) {
    if (rowid == rows_.back()) return;
    sorted_ = false;
  }
  rows_.push_back(rowid);
  if (rows_.size() <= kMaxChangedRows) return;
  Sort();
  if (rows_.size() <= kMaxChangedRows) return;
  all_ = true;
  rows_ = {};
  sorted_ = true;
}

bool DriverSession::TableChanges::Has(sqlite3_int64 rowid) const {
  if (all_) return true;
  Sort();
  return std::binary_search(rows_.begin(), rows_.end(), rowid);
}

void DriverSession::TableChanges::Merge(const TableChanges &other) {
  if (other.all_) {
    all_ = true;
    rows_ = {};
    sorted_ = true;
    return;
  }
  for (sqlite3_int64 rowid : other.rows_) Add(rowid);
}

void DriverSession::BatchStarts() {
  batch_.clear();
  in_batch_ = true;
}

void DriverSession::BatchEnded(bool kept) {
  in_batch_ = false;
  if (kept)
    for (auto &[table, rows] : batch_) {
      // A table the transaction had not changed before takes the batch's
      // list as it is.
      auto [it, added] = changed_.try_emplace(table);
      if (added) it->second = std::move(rows);
      else it->second.Merge(rows);
    }
  batch_.clear();
}

void DriverSession::StatementStarts() {
  BatchStarts();
  if (!Exec("SAVEPOINT statement"))
    DriverLog(__FILE__, __LINE__, 0, "savepoint: %s", sqlite3_errmsg(db_));
}

void DriverSession::StatementEnded(bool kept) {
  // A statement SQLite rolled back with its whole transaction left no
  // savepoint behind, nor did one refused before it started.
  if (in_batch_ && !kept && active()) Exec("ROLLBACK TO statement");
  if (in_batch_ && active()) Exec("RELEASE statement");
  BatchEnded(kept);
}

void DriverSession::TableChanges::Sort() const {
  if (sorted_) return;
  std::sort(rows_.begin(), rows_.end());
  rows_.erase(std::unique(rows_.begin(), rows_.end()), rows_.end());
  sorted_ = true;
}

void DriverSession::WatchChanges() {
  watching_ = true;
  watched_.clear();
}

std::vector<std::pair<std::string, sqlite3_int64>> DriverSession::TakeWatched() {
  watching_ = false;
  return std::move(watched_);
}

int DriverSession::OnCommit(void *self) {
  if (std::uint64_t *ended = static_cast<DriverSession *>(self)->ended_) ++*ended;
  return 0;  // the commit goes on
}

void DriverSession::OnRollback(void *self) {
  if (std::uint64_t *ended = static_cast<DriverSession *>(self)->ended_) ++*ended;
}

bool DriverSession::Changed(const std::string &sqlite_table, sqlite3_int64 rowid) const {
  if (!active()) return false;
  for (const Changes *changes : {&changed_, &batch_}) {
    auto it = changes->find(sqlite_table);
    if (it != changes->end() && (rowid == 0 || it->second.Has(rowid))) return true;
  }
  return false;
}

void DriverSession::TransactionLost(std::uint32_t error, std::string reason) {
  lost_ = error;
  lost_reason_ = std::move(reason);
  if (!active()) changed_.clear();
}

void DriverSession::RequestStarts() {
  in_request_transaction_ = active();
  ended_by_client_ = false;
}

bool DriverSession::RequestEnded() {
  if (!in_request_transaction_ || active() || ended_by_client_ || lost_ != 0) return false;
  const std::uint32_t error = StorageError(sqlite3_errcode(db_));
  std::string reason = RolledBackReason(error != 0 ? ": " + StorageText(db_) : std::string());
  DriverLog(__FILE__, __LINE__, 0, "%s", reason.c_str());
  TransactionLost(error != 0 ? error : ZE_COMMUNICATION, std::move(reason));
  return true;
}

bool DriverSession::Begin() {
  busy_ = false;
  failure_ = 0;
  // A transaction the driver rolled back takes no more work until the
  // client has aborted it.
  if (!lost_reason_.empty()) {
    failure_ = lost_;
    return false;
  }
  if (active()) return true;
  changed_.clear();
  if (Exec("BEGIN IMMEDIATE")) return true;
  busy_ = (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY;
  return false;
}

bool DriverSession::Commit() {
  ended_by_client_ = true;
  failure_ = lost_;
  if (failure_ != 0) {
    // Work after the loss may have begun a new transaction: it goes too.
    if (active()) Exec("ROLLBACK");
    changed_.clear();
    return false;
  }
  const bool ok = !active() || Exec("COMMIT");
  if (!active()) changed_.clear();
  return ok;
}

bool DriverSession::Abort() {
  ended_by_client_ = true;
  failure_ = lost_ = 0;
  lost_reason_.clear();
  const bool ok = !active() || Exec("ROLLBACK");
  if (!active()) changed_.clear();
  return ok;
}

void DriverSession::GiveBackWrite() {
  if (active() && !Exec("ROLLBACK"))
    DriverLog(__FILE__, __LINE__, 0, "session %u: rollback: %s", id_, sqlite3_errmsg(db_));
  if (!active()) changed_.clear();
}

namespace {

// The folder of a database file that does not exist (or is no folder),
// said as such: the lock file beside the database, which is made first,
// would otherwise be named as what cannot be opened. "" when the folder is
// there.
std::string MissingFolder(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "";
  const std::string folder = path.substr(0, slash);
  struct stat st {};
  const std::string what = "the folder '" + folder + "' of database '" + path + "' ";
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? "" : what + "is not a folder";
  // A folder that cannot be looked at is left to the open, which says why.
  return errno == ENOENT || errno == ENOTDIR ? what + "does not exist" : "";
}

// The folder of a database file that the driver may not write in, said as
// such: the driver makes "<database>.lock" there (and SQLite its WAL and
// shared-memory files), for reads as much as for writes. "" when the folder
// is writable, or cannot be looked at (the open then says why).
std::string ReadOnlyFolder(const std::string &path) {
  char resolved[PATH_MAX];
  // The lock file goes beside the file a symbolic link leads to.
  const std::string file = realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0 || (errno != EROFS && errno != EACCES))
    return "";
  return "the folder '" + folder + "' of database '" + path + "' is not writable (" + std::strerror(errno) +
         "): the driver needs a writable folder for " + file + ".lock, also for reads";
}

}  // namespace

namespace {

constexpr char kOwnFilePrefix[] = "molvane-driver-";
constexpr char kOwnFileSuffix[] = ".db";

// Removes a database file and the files SQLite keeps beside it.
void RemoveDatabaseFiles(const std::string &path) {
  for (const char *suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

// The own files of this process's stores (device and inode): a sweep never
// opens one, since closing any descriptor of a file drops the POSIX locks
// that the process's SQLite connections hold on it.
std::mutex own_files_mu;
std::set<std::pair<dev_t, ino_t>> own_files;

}  // namespace

DriverStore::~DriverStore() {
  sessions_.clear();
  if (own_file_.empty()) return;
  RemoveDatabaseFiles(own_file_);
  // Closed only now: closing a descriptor of the file would drop the
  // POSIX locks SQLite's connections hold on it.
  struct stat st {};
  if (fstat(own_fd_, &st) == 0) {
    std::lock_guard<std::mutex> lock(own_files_mu);
    own_files.erase({st.st_dev, st.st_ino});
  }
  ::close(own_fd_);
}

bool DriverStore::MakeOwnFile(std::string *error) {
  const char *dir = std::getenv("TMPDIR");
  const std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  RemoveStaleOwnFiles(folder);
  std::string path = folder + "/" + kOwnFilePrefix + "XXXXXX" + kOwnFileSuffix;
  const int fd = mkostemps(path.data(), static_cast<int>(sizeof kOwnFileSuffix - 1), O_CLOEXEC);
  if (fd < 0) {
    *error = "no database file is named, and the driver cannot make the file of its own database in " + folder +
             " (TMPDIR): " + std::strerror(errno) + "; name a database file after the driver in lib/ipc_info";
    return false;
  }
  // Held shared for the store's life: a sweep takes no file in use.
  (void)flock(fd, LOCK_SH | LOCK_NB);
  if (struct stat st {}; fstat(fd, &st) == 0) {
    std::lock_guard<std::mutex> lock(own_files_mu);
    own_files.insert({st.st_dev, st.st_ino});
  }
  own_fd_ = fd;
  own_file_ = path;
  return true;
}

void DriverStore::RemoveStaleOwnFiles(const std::string &folder) {
  DIR *d = opendir(folder.c_str());
  if (d == nullptr) return;
  const std::string_view prefix = kOwnFilePrefix, suffix = kOwnFileSuffix;
  const time_t old = time(nullptr) - kStaleOwnFileSeconds;
  while (const dirent *entry = readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
      continue;
    const std::string path = folder + "/" + std::string(name);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_mtime > old)
      continue;
    {
      std::lock_guard<std::mutex> lock(own_files_mu);
      if (own_files.count({st.st_dev, st.st_ino}) != 0) continue;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    // A driver that still uses the file holds it shared.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveDatabaseFiles(path);
      DriverLog(__FILE__, __LINE__, 0, "removed '%s', left by a driver that ended without removing it",
                path.c_str());
    }
    ::close(fd);
  }
  closedir(d);
}

void DriverStore::ClaimAtAttach(std::string *shared) {
  shared->clear();
  if (path_.empty() || path_ == ":memory:" || claim_ != nullptr) return;
  std::string error;
  claim_ = DatabaseClaim::Take(path_, &error, shared);
}

DriverSession *DriverStore::OpenSession(const std::string &name, std::string *error) {
  last_failure_ = 0;
  if (!path_.empty() && path_ != ":memory:" && claim_ == nullptr) {
    if (std::string missing = MissingFolder(path_); !missing.empty()) {
      *error = missing;
      last_failure_ = ZE_NO_DRIVER;
      return nullptr;
    }
    if (std::string read_only = ReadOnlyFolder(path_); !read_only.empty()) {
      *error = read_only;
      last_failure_ = ZE_STORAGE_READONLY;
      return nullptr;
    }
    claim_ = DatabaseClaim::Take(path_, error);
    if (claim_ == nullptr) return nullptr;
  }
  // Without a named file the sessions share the store's own: each would
  // otherwise have a database of its own in memory, and a row committed by
  // one transaction would not be there for the next.
  const bool named = !path_.empty() && path_ != ":memory:";
  if (!named && own_file_.empty() && !MakeOwnFile(error)) {
    last_failure_ = ZE_ILLEGAL_STATE;
    return nullptr;
  }
  auto session = std::make_unique<DriverSession>(next_id_, name);
  if (!session->Open(named ? path_ : own_file_, busy_ms_, max_pages_, &transactions_ended_, error, !named)) {
    last_failure_ = session->Failure(0);
    return nullptr;
  }
  DriverSession *raw = session.get();
  sessions_[next_id_++] = std::move(session);
  // A file an older driver wrote loses its collated indexes (each table's
  // are made again at its first use) and records the mode it serves, once
  // per file. This never waits for another session's write: it is tried
  // again at the next session's open, and each table is made right at its
  // first use anyway.
  if (!prepared_ && !path_.empty() && path_ != ":memory:") {
    std::string why;
    sqlite3_busy_timeout(raw->db(), 0);
    prepared_ = PrepareDatabaseFile(raw->db(), CollationMode(), &why);
    if (!prepared_)
      DriverLog(__FILE__, __LINE__, 0, "database '%s' not readied for TSS mode %d: %s", path_.c_str(),
                CollationMode(), why.c_str());
    sqlite3_busy_timeout(raw->db(), busy_ms_);
  }
  return raw;
}

DriverSession *DriverStore::Find(std::uint32_t id) {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second.get();
}

bool DriverStore::CloseSession(std::uint32_t id) { return sessions_.erase(id) != 0; }

void DriverStore::RequestStarts(const std::set<std::uint32_t> &ids) {
  for (std::uint32_t id : ids)
    if (DriverSession *s = Find(id)) s->RequestStarts();
}

std::vector<std::uint32_t> DriverStore::RequestEnded(const std::set<std::uint32_t> &ids) {
  std::vector<std::uint32_t> lost;
  for (std::uint32_t id : ids)
    if (DriverSession *s = Find(id); s != nullptr && s->RequestEnded()) lost.push_back(id);
  return lost;
}

std::uint32_t DriverStore::ChangerOf(std::uint32_t session, const std::string &sqlite_table,
                                     sqlite3_int64 rowid) const {
  for (const auto &[id, s] : sessions_)
    if (id != session && s->Changed(sqlite_table, rowid)) return id;
  return 0;
}

std::uint32_t DriverStore::Writer(std::uint32_t session) const {
  for (const auto &[id, s] : sessions_)
    if (id != session && s->active()) return id;
  return 0;
}

bool DriverStore::HasReader() const {
  for (const auto &[id, s] : sessions_) {
    sqlite3 *db = s->db();
    if (db == nullptr) continue;
    if (s->active()) return true;
    for (sqlite3_stmt *st = sqlite3_next_stmt(db, nullptr); st != nullptr; st = sqlite3_next_stmt(db, st))
      if (sqlite3_stmt_busy(st)) return true;
  }
  return false;
}

bool DriverStore::TruncateWal(std::uint32_t session) {
  DriverSession *s = Find(session);
  if (s == nullptr || s->db() == nullptr) return false;
  return sqlite3_wal_checkpoint_v2(s->db(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
}

std::int64_t DriverStore::WalBytes() const {
  struct stat st {};
  if (path_.empty() || path_ == ":memory:" || stat((path_ + "-wal").c_str(), &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

std::vector<std::uint32_t> DriverStore::OnIdleTick(std::chrono::steady_clock::time_point now,
                                                   const std::map<std::uint32_t, ClientQuiet> &quiet,
                                                   const std::function<bool(std::uint32_t)> &holds_locks) {
  std::vector<std::uint32_t> ended;
  for (const auto &[id, client] : quiet) {
    DriverSession *s = Find(id);
    const auto limit = client.unread ? kUnreadLimitFactor * idle_limit_ : idle_limit_;
    if (s == nullptr || now - client.since <= limit) continue;
    const bool writes = s->active();
    if (!writes && !(holds_locks && holds_locks(id))) continue;
    std::string reason = "the driver server rolled back the transaction of session " + std::to_string(id) +
                         " (" + LogEscaped(s->name()) + "): " +
                         (client.unread ? "its last answer unread" : "no request") + " for more than " +
                         std::to_string(limit.count()) + " s while it held " +
                         (writes ? "the database" : "row or table locks");
    DriverLog(__FILE__, __LINE__, 0, "%s", reason.c_str());
    s->Abort();
    s->TransactionLost(ZE_COMMUNICATION, std::move(reason));
    ended.push_back(id);
  }
  // A WAL that grew while readers held old snapshots goes back to nothing
  // once none is left (SQLite's own checkpoints then only reuse it). A
  // session whose connection is inside a request may be stepping.
  const bool all_quiet = std::all_of(sessions_.begin(), sessions_.end(),
                                     [&](const auto &entry) { return quiet.count(entry.first) != 0; });
  if (sessions_.empty() || !all_quiet || WalBytes() <= kWalTruncateBytes || HasReader()) return ended;
  if (!TruncateWal(sessions_.begin()->first))
    DriverLog(__FILE__, __LINE__, 0, "WAL checkpoint of '%s' did not finish", path_.c_str());
  return ended;
}

}  // namespace molvane::driver
