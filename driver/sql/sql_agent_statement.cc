#include "sql/sql_agent_statement.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/big_endian.h"
#include "common/driver_log.h"
#include "store/driver_store.h"
#include "sql/agent/nw_token.h"

namespace molvane::driver {

namespace {

constexpr int kMaxRowsPerFetch = 100000;
// Rows encoded at a time while a result moves to its spill file.
constexpr std::size_t kSpillChunk = 256;

// A SQLite failure as the library's exception: the error a function kept,
// else a storage failure (full, read-only, I/O, damaged) with the number and
// words the record API gives it, else a general error carrying SQLite's text.
SQLException Failure(sqlite3 *db, SqlFunctionHost *host) {
  if (auto kept = host->TakeError()) return *kept;
  if (std::uint32_t storage = StorageError(sqlite3_extended_errcode(db)); storage != 0) {
    std::string text = StorageText(db);
    DriverLog(__FILE__, __LINE__, 0, "SQL agent: %s", text.c_str());
    return SQLExZDBError(static_cast<int>(storage), SQLString(text.c_str()));
  }
  std::string text = std::string("SQLite: ") + sqlite3_errmsg(db);
  DriverLog(__FILE__, __LINE__, 0, "SQL agent: %s", text.c_str());
  return SQLException("QP999", 215, SQLString(text.c_str()));
}

// The folder of spill files: TMPDIR when it names one, else /tmp.
std::string TempFolder() {
  const char *dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// A new file in `folder` that no name leads to (it goes with its last
// descriptor), for reading and writing; null when none can be made.
std::FILE *OpenUnnamedFile(const std::string &folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string path = folder + "/molvane-result-XXXXXX";
    fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) unlink(path.c_str());
  }
  if (fd < 0) return nullptr;
  std::FILE *file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

void AgentStatement::BindVariables(sqlite3_stmt *stmt) const {
  for (std::size_t i = 0; i < tr_->binds.size(); ++i) {
    const SQLValueStore *v = tr_->binds[i]->GetValueStore();
    int at = static_cast<int>(i + 1);
    if (v->IsNull()) {
      sqlite3_bind_null(stmt, at);
      continue;
    }
    switch (v->GetType()) {
      case SQL_INTEGER:
      case SQL_DATE:
      case SQL_INTERVAL_DAYS:
        sqlite3_bind_int64(stmt, at, v->GetInteger());
        break;
      case SQL_TIMESTAMP:
      case SQL_INTERVAL_SECONDS:
        sqlite3_bind_int64(stmt, at, v->GetTimestamp());
        break;
      case SQL_REAL:
        sqlite3_bind_double(stmt, at, v->GetReal());
        break;
      case SQL_STRING:
        sqlite3_bind_text64(stmt, at, reinterpret_cast<const char *>(v->GetBytes()), v->GetLength(),
                            SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      default:
        sqlite3_bind_blob64(stmt, at, v->GetBytes(), v->GetLength(), SQLITE_TRANSIENT);
        break;
    }
  }
}

void AgentStatement::Close() {
  Break();
  Unprepare();
  session_ = 0;
  state_ = kPrepared;
}

void AgentStatement::Finish() {
  if (stmt_ != nullptr) sqlite3_reset(stmt_);
  stmt_ = nullptr;
}

void AgentStatement::Unprepare() {
  Finish();
  sqlite3_finalize(prepared_);
  prepared_ = nullptr;
  prepared_db_ = nullptr;
}

void AgentStatement::Break() {
  Finish();
  pending_.reset();
  ahead_error_.reset();
  ahead_ = 0;
  rows_.Clear();
  next_ = 0;
  spill_.reset();
  spilled_ = 0;
  if (state_ == kExecuted) state_ = kAttached;
}

void AgentStatement::BindParams(const SQLTokenString &packet) {
  int n = packet.GetBs4();
  if (n < 0 || n > packet.Length()) throw SQLExUnknownNetWorkToken(SQLString("malformed parameter count"));
  SQLValueStore vs;
  for (int i = 0; i < n; ++i) {
    std::int32_t id = packet.GetBs4();
    ReadNetWorkValue(packet, &vs);
    auto it = tr_->params.find(id);
    if (it == tr_->params.end()) continue;
    if (vs.IsNull())
      it->second->SetNull();
    else
      it->second->BindVS(&vs);
  }
}

void AgentStatement::SetTimeOut(int seconds) {
  // The limit counts from now, when the statement's packets arrive: it
  // never stops the statement before the limit is over.
  deadline_ = seconds <= 0 ? 0 : SqlFunctionHost::DeadlineClock() + 1000000L * seconds;
}

// Arms the statement's deadline on the connection while it steps.
struct Armed {
  Armed(sqlite3 *db, SqlFunctionHost *host, long deadline) : db(db), host(host) { host->Arm(db, deadline); }
  ~Armed() { host->Disarm(db); }
  sqlite3 *db;
  SqlFunctionHost *host;
};

void AgentStatement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return;
  if (rc == SQLITE_DONE) return Finish();
  SQLException e = Failure(db_, host_);
  Finish();
  throw e;
}

int AgentStatement::Exec(sqlite3 *db, SqlFunctionHost *host) {
  Break();
  produced_ = 0;
  db_ = db;
  host_ = host;
  Armed armed(db, host, deadline_);
  // The SQLite statement is kept for the next Exec on the same connection.
  if (prepared_db_ != db) Unprepare();
  if (prepared_ == nullptr) {
    if (sqlite3_prepare_v2(db, tr_->sql.c_str(), static_cast<int>(tr_->sql.size()), &prepared_, nullptr) !=
        SQLITE_OK) {
      SQLException e = Failure(db, host);
      Unprepare();
      throw e;
    }
    prepared_db_ = db;
  }
  stmt_ = prepared_;
  BindVariables(stmt_);
  Step();
  if (query_) {
    // Open from here: the first step may have run long, and it is no
    // open result yet while it runs.
    executed_at_ = std::chrono::steady_clock::now();
    state_ = kExecuted;
    return 0;
  }
  while (stmt_ != nullptr) Step();
  return sqlite3_changes(db);
}

bool AgentStatement::RowsToChange(sqlite3 *db, SqlFunctionHost *host, std::vector<sqlite3_int64> *rowids) {
  Armed armed(db, host, deadline_);
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, tr_->rows.c_str(), static_cast<int>(tr_->rows.size()), &stmt, nullptr) != SQLITE_OK) {
    SQLException e = Failure(db, host);
    sqlite3_finalize(stmt);
    throw e;
  }
  BindVariables(stmt);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW && rowids->size() < kMaxRows)
    rowids->push_back(sqlite3_column_int64(stmt, 0));
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    SQLException e = Failure(db, host);
    sqlite3_finalize(stmt);
    throw e;
  }
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

std::size_t AgentStatement::Encoded() {
  if (next_ >= rows_.count()) {  // everything sent: the buffer starts again
    rows_.Clear();
    next_ = 0;
  }
  return rows_.count() - next_;
}

void AgentStatement::EncodeUpTo(std::size_t n) {
  Armed armed(db_, host_, deadline_);
  while (Encoded() < n && HasRow()) {
    rows_.Append(stmt_, tr_->columns);
    ++produced_;
    Step();
  }
  if (!HasRow()) Finish();
}

void AgentStatement::ReadAhead() {
  if (!HasRow() || ahead_error_) return;
  Armed armed(db_, host_, deadline_);
  try {
    while (Encoded() < ahead_ && HasRow()) {
      std::size_t before = rows_.count();
      try {
        rows_.Append(stmt_, tr_->columns);
      } catch (...) {
        // The row stays current: the fetch that reaches it meets the fault.
        if (rows_.count() > before) rows_.DropLast();
        return;
      }
      ++produced_;
      Step();
    }
  } catch (const SQLException &e) {
    ahead_error_ = std::make_unique<SQLException>(e);
  }
  if (!HasRow()) Finish();
}

void AgentStatement::ThrowAheadError(std::size_t rows) {
  // The failed step followed the last row encoded: a fetch or skip that
  // takes every one of them would have stepped there.
  if (!ahead_error_ || Encoded() > rows) return;
  SQLException e = *ahead_error_;
  ahead_error_.reset();
  throw e;
}

void AgentStatement::Fetch(int rows, AgentReply *reply) {
  std::size_t want = static_cast<std::size_t>(std::clamp(rows, 1, kMaxRowsPerFetch));
  ahead_ = want;
  if (stmt_ != nullptr) EncodeUpTo(want);
  else if (spilled_ != 0) Refill(want);
  ThrowAheadError(want);
  std::size_t k = std::min(want, Encoded());
  std::size_t first = next_;
  next_ += k;
  if (k == 0 && pending_) {
    SQLException e = *pending_;
    pending_.reset();
    throw e;
  }
  if (k == 0) return reply->EndOfSet(id_);
  std::size_t length = 0;
  const std::uint8_t *p = rows_.RowBytes(first, k, &length);
  reply->ResultSet(id_, static_cast<std::int32_t>(k), p, length);
  // The set that empties the result carries the end with it, which saves
  // the client the exchange that would only learn of it.
  if (stmt_ == nullptr && spilled_ == 0 && next_ >= rows_.count() && !pending_ && !ahead_error_)
    reply->EndOfSet(id_);
}

int AgentStatement::Skip(int n) {
  std::size_t want = static_cast<std::size_t>(std::max(n, 0));
  ThrowAheadError(want);
  std::size_t k = std::min(want, Encoded());
  next_ += k;
  while (k < want && spilled_ != 0) {
    Refill(std::min(want - k, kSpillChunk));
    std::size_t taken = std::min(want - k, Encoded());
    next_ += taken;
    k += taken;
  }
  if (stmt_ != nullptr && k < want) {
    Armed armed(db_, host_, deadline_);
    for (; k < want && HasRow(); ++k, ++produced_) Step();
    if (!HasRow()) Finish();
  }
  return static_cast<int>(k);
}

void AgentStatement::KeepInMemory(std::size_t room) {
  const std::size_t start = rows_.bytes();
  try {
    Armed armed(db_, host_, deadline_);
    while (HasRow()) {
      if (rows_.bytes() - start > room) {
        pending_ = std::make_unique<SQLException>(
            "QP501", 501,
            SQLString("the rest of an open result does not fit into the memory the driver allows for open "
                      "results, and no temporary file could hold it"));
        break;
      }
      rows_.Append(stmt_, tr_->columns);
      ++produced_;
      Step();
    }
  } catch (const SQLException &e) {
    // The rows read so far stay; the fetch after them reports the error.
    pending_ = std::make_unique<SQLException>(e);
  }
  Finish();
}

void AgentStatement::Spill(std::size_t memory_room) {
  if (ahead_error_) pending_ = std::move(ahead_error_);
  if (stmt_ == nullptr) return;
  const std::string folder = TempFolder();
  std::unique_ptr<std::FILE, FileCloser> file(OpenUnnamedFile(folder));
  if (!file) {
    DriverLog(__FILE__, __LINE__, 0, "SQL agent: no temporary file in %s for an open result (%s); kept in memory",
              folder.c_str(), std::strerror(errno));
    return KeepInMemory(memory_room);
  }
  // Each row as its length (4 bytes, big-endian) and its encoded bytes.
  EncodedRows chunk;
  std::size_t written = 0;
  bool write_failed = false;
  auto write_chunk = [&] {
    for (std::size_t i = 0; i < chunk.count() && !write_failed; ++i) {
      std::size_t n = 0;
      const std::uint8_t *row = chunk.RowBytes(i, 1, &n);
      std::uint8_t length[4];
      StoreBig32(length, static_cast<std::int32_t>(n));
      write_failed = std::fwrite(length, 1, 4, file.get()) != 4 || std::fwrite(row, 1, n, file.get()) != n;
      if (!write_failed) ++written;
    }
    chunk.Clear();
  };
  try {
    Armed armed(db_, host_, deadline_);
    while (HasRow() && !write_failed) {
      chunk.Append(stmt_, tr_->columns);
      ++produced_;
      Step();
      if (chunk.count() == kSpillChunk) write_chunk();
    }
  } catch (const SQLException &e) {
    // The rows read so far stay; the fetch after them reports the error.
    pending_ = std::make_unique<SQLException>(e);
  }
  write_chunk();
  // The rows leave SQLite with Finish: a spill file that cannot hold them
  // all (a write, or its flush to a full disk, failed) ends the result with
  // an error, never as if it were complete.
  const bool readable =
      written != 0 && std::fflush(file.get()) == 0 && std::fseek(file.get(), 0, SEEK_SET) == 0;
  if (written != 0 && !readable) write_failed = true;
  if (write_failed) {
    std::string text = "SQLite: the temporary file of an open result could not be written";
    DriverLog(__FILE__, __LINE__, 0, "SQL agent: %s", text.c_str());
    pending_ = std::make_unique<SQLException>("QP999", 215, SQLString(text.c_str()));
  }
  Finish();
  if (!readable) return;
  spill_ = std::move(file);
  spilled_ = written;
}

void AgentStatement::Refill(std::size_t n) {
  std::vector<std::uint8_t> row;
  while (spilled_ != 0 && Encoded() < n) {
    std::uint8_t length[4];
    if (std::fread(length, 1, 4, spill_.get()) != 4) break;
    row.resize(LoadBigU32(length));
    if (std::fread(row.data(), 1, row.size(), spill_.get()) != row.size()) break;
    rows_.AppendEncoded(row.data(), row.size());
    --spilled_;
  }
  if (spilled_ != 0 && Encoded() < n) {
    // The file gave back less than was written: the rest is lost, which the
    // fetch after the rows read back reports.
    spilled_ = 0;
    pending_ = std::make_unique<SQLException>("QP999", 215, SQLString("SQLite: the temporary file of an open result could not be read"));
  }
  if (spilled_ == 0) spill_.reset();
}

}  // namespace molvane::driver
