// SQLETNetDelete and SQLETNetUpdate: a searched DELETE or UPDATE of one
// table, executed by the SQL agent of the table's driver as one request.
//
// At construction the tree checks that the driver can evaluate the search
// condition (a subquery on a table of another driver cannot travel with
// it: "QP060"), collects the statement parameters that the request reads,
// each once, and writes the request as a token string. Exec binds the
// parameters and returns the number of rows that the agent deleted or
// updated. UPDATE first evaluates each new value here and checks it against
// the column's domain ("23000", native error 205); nothing is sent when a
// value violates it.
//
// Request layouts: DELETE: SQLNWTETDelete, the table name (memory), the
// company number (bs2), the condition or SQLNWTNull. UPDATE:
// SQLNWTETUpdate, the table name, the company number, the number n of SET
// items (bs2), n times the column number (bs4) and the value expression,
// then the condition or SQLNWTNull.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_schema.h"
#include "sql/exec/exec_tree.h"
#include "sql/exec/net_fetch_params.h"

class SQLHints;
class SQLRSSCSearchCond;
class SQLRSSCValueExpr;

// What DELETE and UPDATE share: the request and its agent statement.
class SQLETNetRequest : public SQLExecTree {
 public:
  ~SQLETNetRequest() override;

  SQLExecTree *Optimize() override { return this; }
  void Prepare(SQLRSPrepareContext *context) override;
  void Attach(unsigned long sessionId) override;
  void SetTimeOut(long deadline) override;
  int Exec() override;
  void Close() override;
  void Log() override;

  // Not for a DELETE or UPDATE: they stop.
  int GetNumCols() override { Unexpected("GetNumCols"); }
  SQLColumnDescriptor const *GetColumnDescriptor(int) override { Unexpected("GetColumnDescriptor"); }
  SQLValueStore const *GetValueStoreAddr(int) override { Unexpected("GetValueStoreAddr"); }
  void SetMaxRows(int) override { Unexpected("SetMaxRows"); }
  void SetBufferSize(int) override { Unexpected("SetBufferSize"); }
  int Fetch() override { Unexpected("Fetch"); }
  int SkipRows(int) override { Unexpected("SkipRows"); }
  void Break() override { Unexpected("Break"); }
  void SetHints(SQLHints const *) { Unexpected("SetHints"); }

  SQLTokenString const &GetRequest() const { return request_; }
  pconstSQLParameterList const &GetParameters() const { return parameters_; }
  unsigned long GetStatementId() const { return statement_; }

 protected:
  // Makes the table's instance; throws when the table has no driver.
  SQLETNetRequest(char const *className, char const *tableName, int companyNumber);

  [[noreturn]] void Unexpected(char const *operation) const;
  // Throws "QP060" with the message when the condition reads a table of
  // another driver; otherwise collects its parameters.
  void CheckCondition(SQLRSSCSearchCond *condition, char const *message);
  void AddParametersOf(SQLRSSCValueExpr *expression);
  // Writes the table name and the company number.
  void WriteTable(char const *tableName, int companyNumber);
  // Writes the condition (and deletes it) or SQLNWTNull.
  void WriteCondition(SQLRSSCSearchCond *condition);
  // Before the parameters are bound and the request sent.
  virtual void CheckValues() {}
  virtual void PrepareValues(SQLRSPrepareContext *) {}

  char const *className_;
  std::string table_;  // the table written
  SQLSchemaPtr schema_;
  SQLTokenString request_{20};
  pconstSQLParameterList parameters_;  // not owned
  std::unique_ptr<SQLDatabaseInstance> instance_;
  SQLRSNetFetchParams fetchParams_;
  unsigned long statement_ = 0;  // 0 until Prepare

 private:
  void AddParameter(SQLParameter const *parameter);
};

class SQLETNetDelete : public SQLETNetRequest {
 public:
  // The condition (may be null) is deleted once written into the request.
  SQLETNetDelete(char const *tableName, int companyNumber, std::unique_ptr<SQLRSSCSearchCond> condition);
};

class SQLETNetUpdate : public SQLETNetRequest {
 public:
  // Deletes a list of SET expressions with the expressions it holds.
  struct ValueListDeleter {
    void operator()(pSQLRSSCValueExprList *list) const;
  };
  using ValueListPtr = std::unique_ptr<pSQLRSSCValueExprList, ValueListDeleter>;

  // The i-th column number and the i-th expression form one SET item (at
  // least one).
  SQLETNetUpdate(char const *tableName, int companyNumber, std::unique_ptr<intList> columns, ValueListPtr values,
                 std::unique_ptr<SQLRSSCSearchCond> condition);
  ~SQLETNetUpdate() override;

 protected:
  // Evaluates each new value and checks it against its column's domain.
  void CheckValues() override;
  void PrepareValues(SQLRSPrepareContext *context) override;

 private:
  std::vector<int> columns_;
  std::vector<std::unique_ptr<SQLRSSCValueExpr>> values_;
  std::vector<SQLValueStore const *> valueStores_;  // from Prepare
};
