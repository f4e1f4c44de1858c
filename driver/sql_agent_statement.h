// One statement of the SQL agent: its translated description, its state as
// the client's state machine knows it (prepared, attached, executed), its
// parameters and limits, and its result, materialised at execution so that
// later fetches are stable while the session goes on writing.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>

#include "sql_agent_packets.h"
#include "sqlite_translate.h"

namespace molvane::driver {

class AgentStatement {
 public:
  AgentStatement(std::uint32_t id, std::unique_ptr<Translation> tr, bool query)
      : id_(id), tr_(std::move(tr)), query_(query) {}

  std::uint32_t id() const { return id_; }
  int state() const { return state_; }
  bool query() const { return query_; }
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
  // Runs the statement on the session's connection: a query materialises
  // its rows and becomes executed; DELETE/UPDATE returns the rows changed.
  // Throws the library's SQLException on failure.
  int Exec(sqlite3 *db, SqlFunctionHost *host);
  // Writes the reply of a fetch of up to `rows` rows.
  void Fetch(int rows, AgentReply *reply);
  // Skips up to n rows; the count skipped.
  int Skip(int n);

 private:
  // Binds the statement parameters that SQLite reads (Translation::binds).
  void BindVariables(sqlite3_stmt *stmt) const;

  std::uint32_t id_;
  std::unique_ptr<Translation> tr_;
  bool query_;
  int state_ = kPrepared;
  std::uint32_t session_ = 0;
  int max_rows_ = 0;
  long deadline_ = 0;  // clock seconds, 0 = none
  EncodedRows rows_;
  std::size_t next_ = 0;
  QdTableRef dml_table_;
};

}  // namespace molvane::driver
