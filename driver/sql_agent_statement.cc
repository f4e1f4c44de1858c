#include "sql_agent_statement.h"

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "platform/log.h"
#include "sql/agent/nw_token.h"

namespace molvane::driver {

namespace {

constexpr int kMaxRowsPerFetch = 100000;
constexpr std::size_t kMaxSetBytes = 4u << 20;  // bytes of one result set

// A SQLite failure as the library's exception: the error a function kept,
// else a general error carrying SQLite's text.
SQLException Failure(sqlite3 *db, SqlFunctionHost *host) {
  if (auto kept = host->TakeError()) return *kept;
  std::string text = std::string("SQLite: ") + sqlite3_errmsg(db);
  log_mesg(__FILE__, __LINE__, "driver", 0, "SQL agent: %s", text.c_str());
  return SQLException("QP999", 215, SQLString(text.c_str()));
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
  session_ = 0;
  state_ = kPrepared;
}

void AgentStatement::Break() {
  rows_.Clear();
  next_ = 0;
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
  HAL_CLOCK now;
  if (seconds <= 0 || HAL_getclock(&now) < 0) {
    deadline_ = 0;
    return;
  }
  deadline_ = static_cast<long>(now.seconds) + seconds;
}

int AgentStatement::Exec(sqlite3 *db, SqlFunctionHost *host) {
  rows_.Clear();
  next_ = 0;
  sqlite3_stmt *stmt = nullptr;
  host->Arm(db, deadline_);
  struct Cleanup {
    sqlite3 *db;
    SqlFunctionHost *host;
    sqlite3_stmt **stmt;
    ~Cleanup() {
      sqlite3_finalize(*stmt);
      host->Disarm(db);
    }
  } cleanup{db, host, &stmt};
  if (sqlite3_prepare_v2(db, tr_->sql.c_str(), static_cast<int>(tr_->sql.size()), &stmt, nullptr) !=
      SQLITE_OK)
    throw Failure(db, host);
  BindVariables(stmt);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (!query_) continue;
    if (max_rows_ > 0 && rows_.count() >= static_cast<std::size_t>(max_rows_)) break;
    rows_.Append(stmt, tr_->columns);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    rows_.Clear();
    throw Failure(db, host);
  }
  if (query_) {
    state_ = kExecuted;
    return 0;
  }
  return sqlite3_changes(db);
}

void AgentStatement::Fetch(int rows, AgentReply *reply) {
  if (next_ >= rows_.count()) return reply->EndOfSet(id_);
  std::size_t want = static_cast<std::size_t>(std::clamp(rows, 1, kMaxRowsPerFetch));
  std::size_t n = std::min(want, rows_.count() - next_);
  // A set stays within a bound of bytes; at least one row goes.
  std::size_t bytes = 0, k = 0;
  while (k < n && (k == 0 || bytes + rows_.RowLength(next_ + k) <= kMaxSetBytes))
    bytes += rows_.RowLength(next_ + k++);
  SQLTokenString header(20);
  header.AppendToken(SQLNWTResultSet);
  header.AppendBs4(static_cast<std::int32_t>(id_));
  header.AppendBs4(static_cast<std::int32_t>(k));
  std::size_t length = 0;
  const std::uint8_t *p = rows_.RowBytes(next_, k, &length);
  reply->Packet(header, p, length);
  next_ += k;
}

int AgentStatement::Skip(int n) {
  std::size_t left = rows_.count() - std::min(next_, rows_.count());
  std::size_t k = std::min(left, static_cast<std::size_t>(std::max(n, 0)));
  next_ += k;
  return static_cast<int>(k);
}

}  // namespace molvane::driver
