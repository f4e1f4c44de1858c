// One statement of the SQL agent: its translated description, its state as
// the client's state machine knows it (prepared, attached, executed), its
// parameters and limits, and its result. A query's result is a SQLite
// statement stepped as the client fetches, so the driver holds one row set
// at a time. Before the connection writes, and when a result was left open
// for long, its rest moves to an unlinked temporary file (Spill): what a
// fetch returns then never depends on what the session wrote after the
// query ran, and its SQLite statement no longer holds a snapshot that keeps
// the WAL from being reused. Only the thread that runs the statement's
// requests spills it: a spill steps the statement as a fetch does.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "sql/sql_agent_packets.h"
#include "sql/sqlite_translate.h"

namespace molvane::driver {

class AgentStatement {
 public:
  AgentStatement(std::uint32_t id, std::unique_ptr<Translation> tr, bool query)
      : id_(id), tr_(std::move(tr)), query_(query) {}
  ~AgentStatement() { Unprepare(); }
  AgentStatement(const AgentStatement &) = delete;
  AgentStatement &operator=(const AgentStatement &) = delete;

  std::uint32_t id() const { return id_; }
  int state() const { return state_; }
  bool query() const { return query_; }
  // The time-out as SetTimeOut set it (on SqlFunctionHost::DeadlineClock, 0: none).
  long deadline() const { return deadline_; }
  std::uint32_t session() const { return session_; }
  // The table a DELETE or UPDATE changes.
  const QdTableRef &dml_table() const { return dml_table_; }
  void set_dml_table(QdTableRef t) { dml_table_ = std::move(t); }

  void Attach(std::uint32_t session) {
    session_ = session;
    state_ = kAttached;
  }
  // Back to prepared: the session is forgotten, a result dropped.
  void Close();
  // Executed back to attached: the result is dropped.
  void Break();
  // Binds n values of the packet; parameters the description does not use
  // are read and passed over.
  void BindParams(const SQLTokenString &packet);
  void SetMaxRows(int rows) { max_rows_ = rows; }
  void SetTimeOut(int seconds);
  // Runs the statement on the session's connection: a query steps to its
  // first row and becomes executed; DELETE/UPDATE returns the rows changed.
  // Throws the library's SQLException on failure.
  int Exec(sqlite3 *db, SqlFunctionHost *host);
  // A DELETE or UPDATE: the rowids of the rows it would change now, found
  // as Exec would find them; false (with some of them) past kMaxRows rows.
  // Throws as Exec does.
  bool RowsToChange(sqlite3 *db, SqlFunctionHost *host, std::vector<sqlite3_int64> *rowids);
  static constexpr std::size_t kMaxRows = 10000;
  // Writes the reply of a fetch of up to `rows` rows.
  void Fetch(int rows, AgentReply *reply);
  // Skips up to n rows; the count skipped.
  int Skip(int n);
  // Drops what the statement keeps prepared on a connection that closes.
  void Release(sqlite3 *db) {
    if (db != nullptr && db == prepared_db_) Unprepare();
  }
  // True while the query whose first step returned before `time` still
  // steps its SQLite statement. A DELETE or UPDATE is never open: it runs
  // to its end inside its Exec.
  bool OpenSince(std::chrono::steady_clock::time_point time) const {
    return query_ && stmt_ != nullptr && executed_at_ < time;
  }
  // Reads the rest of an open result into a temporary file (in TMPDIR,
  // else /tmp) and ends its SQLite statement; later fetches and skips read
  // the file. Memory stays at one chunk of rows. When no file can be made,
  // the rest is kept in memory up to `memory_room` more bytes; a result
  // that does not fit ends with an error after the rows kept.
  void Spill(std::size_t memory_room);
  // The memory the result holds: rows read and encoded, not all sent yet.
  std::size_t HeldBytes() const { return state_ == kExecuted ? rows_.bytes() : 0; }
  // Encodes the rows the next fetch of the last fetch's size will take, while
  // the client is busy with the rows sent. A fault met on the way is reported
  // by the fetch or skip that would have met it without reading ahead.
  void ReadAhead();

 private:
  // Binds the statement parameters that SQLite reads (Translation::binds).
  void BindVariables(sqlite3_stmt *stmt) const;
  // True while the open result has a current row within the row limit.
  bool HasRow() const {
    return stmt_ != nullptr && (max_rows_ <= 0 || produced_ < static_cast<std::size_t>(max_rows_));
  }
  // Moves to the next row; throws on a SQLite failure.
  void Step();
  // Rows encoded and not yet sent (the buffer restarts when all were sent).
  std::size_t Encoded();
  // Reads and encodes rows of the open result until n wait to be sent.
  void EncodeUpTo(std::size_t n);
  // Reads rows back from the spill file until n wait to be sent.
  void Refill(std::size_t n);
  // Spill without a file: the rest into rows_, up to `room` more bytes.
  void KeepInMemory(std::size_t room);
  // Throws the fault kept by ReadAhead when taking `rows` rows reaches it.
  void ThrowAheadError(std::size_t rows);
  // Ends the open result (the SQLite statement stays prepared).
  void Finish();
  // Ends the result and drops the SQLite statement.
  void Unprepare();

  std::uint32_t id_;
  std::unique_ptr<Translation> tr_;
  bool query_;
  int state_ = kPrepared;
  std::uint32_t session_ = 0;
  int max_rows_ = 0;
  long deadline_ = 0;                 // on SqlFunctionHost::DeadlineClock, 0 = none
  sqlite3_stmt *prepared_ = nullptr;  // the translation prepared on prepared_db_
  sqlite3 *prepared_db_ = nullptr;
  sqlite3_stmt *stmt_ = nullptr;  // prepared_ while a result is open, on its current row
  sqlite3 *db_ = nullptr;
  SqlFunctionHost *host_ = nullptr;
  std::size_t produced_ = 0;               // rows taken from stmt_
  EncodedRows rows_;                       // rows read and encoded, not all sent yet
  std::size_t next_ = 0;                   // the first row of rows_ not yet sent
  std::unique_ptr<SQLException> pending_;  // met by Spill after the kept rows
  std::size_t ahead_ = 0;                  // rows the last fetch asked for
  // A step that failed while reading ahead, after the rows encoded.
  std::unique_ptr<SQLException> ahead_error_;
  QdTableRef dml_table_;
  std::chrono::steady_clock::time_point executed_at_;  // the open result's first step returned
  struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> spill_;  // the rest of a spilled result
  std::size_t spilled_ = 0;                       // rows in spill_ not read back yet
};

}  // namespace molvane::driver
