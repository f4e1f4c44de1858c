// SQLStatement: the statement object behind every handle of the classic SQL
// API.
//
// A statement is prepared from a text (statement cache first, the parser and
// validation otherwise), bound, executed for a company number, fetched,
// broken and closed. Every public operation reports through its result (0
// success, 100 no data, -1 error) and leaves the details as records in the
// statement's diagnostics area; the operations that run the parser or the
// execution layer also catch every exception and turn it into a record.
//
// States: 1 new, 2 prepared, 3 executed (a cursor may be open), 4
// soft-closed. Every prepared statement belongs to one database session and
// sits in the process-wide statement pool under it; the pool closes the
// statements of a session when the session ends. A soft close gives an idle
// statement's execution tree and prepared data back to the caches while the
// statement keeps its text, parameters and bindings, so that its next Exec
// prepares it again cheaply.
//
// The operations live in four files: statement.cc (life, binding, describe,
// reset), statement_prepare.cc, statement_pool.cc (pool and soft close) and
// statement_exec.cc (execution, fetch, retry points).
#pragma once

#include <cstdint>
#include <memory>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_parameter.h"
#include "sql/statement/diag_area.h"
#include "sql/validate/retry_spec.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/where_used.h"

class SQLExecTree;
class SQLStatementData;
class SQLVTNode;
class SQLVTRetryFilter;
class ShortArray;

class SQLStatement {
 public:
  enum State : int { kNew = 1, kPrepared = 2, kExecuted = 3, kSoftClosed = 4 };
  enum FetchStatus : int { kNothingFetched = 1, kRowCurrent = 2, kEndOfData = 3 };
  enum RetryStatus : int { kNoRetryPoint = 1, kRetryValuesSaved = 2, kRetryAfterLastRow = 3 };
  enum ExecForm : int { kPlainForm = 1, kRetryForm = 2 };

  // One named parameter: the tree's parameter it stands for and the cell
  // that receives the host's bindings until the next Exec.
  class Parameter {
   public:
    Parameter() = default;
    Parameter(Parameter const &) = delete;
    Parameter &operator=(Parameter const &) = delete;

    SQLParameter *treeParameter = nullptr;  // of the validated tree; not owned
    SQLParameter cell;                      // the host's value
    std::unique_ptr<char[]> name;           // copy of the parameter's name
    bool bound = false;                     // set by a successful bind, never cleared
  };

  // The parser as the prepare calls it (SQLParse unless replaced).
  using ParseFunction = SQLVTNode *(*)(char const *text, int mode, SQLVTreeData *treeData);
  using WhereUsedHandler = void (*)(char const *name, int kind);

  SQLStatement();
  SQLStatement(SQLStatement const &) = delete;
  SQLStatement &operator=(SQLStatement const &) = delete;
  // Hard reset (the prepared data goes to the statement cache), then the
  // statement leaves the pool for good.
  ~SQLStatement();

  // Prepare.
  int Prepare(char const *text, unsigned long sessionId, int mode);
  void SetWhereUsedHandler(WhereUsedHandler handler) { whereUsed_.SetCallback(handler); }

  // Binding of named parameters (0-based numbers), in states 2, 3 and 4. A
  // value the parameter cannot take records an error and leaves the
  // parameter's earlier value and bound flag as they were.
  int BindInteger(int n, long value);
  int BindReal(int n, double value);
  int BindString(int n, unsigned char const *bytes, unsigned long length);
  int BindRaw(int n, unsigned char const *bytes, unsigned long length);
  int BindDate(int n, long dayNumber);
  int BindTimestamp(int n, std::int64_t seconds);

  // Describe.
  int GetParameterDesc(int n, char const **name, SQLType *type);
  int NumParameters(int *count);
  int NumResultCols(int *count);
  int GetStatementType(SQLStmtType *type);
  int GetColumnDescriptor(int column, SQLColumnDescriptor const **descriptor);
  int GetSelectTarget(int column, char const **name, bool *derived);
  int GetSelectStarTables(List<SQLSelectStarTable> const **tables);

  // Diagnostics of the last operation (SQLDiagArea::GetDiagRec).
  short GetDiagRec(short n, char *sqlState, long *nativeError, char *message, short bufferLength,
                   short *textLength, int *lineNumber) const;

  // Id of the statement whose prepare created the current prepared data; 0
  // when there is none.
  unsigned long GetOriginalId() const;
  SQLRetryClauseType RetryClauseType() const { return retryClauseType_; }

  unsigned long GetId() const { return id_; }
  int GetState() const { return state_; }
  // The text of the last prepare (kept through a soft close); null when none.
  char const *GetText() const { return text_.get(); }
  unsigned long GetSessionId() const { return sessionId_; }

  // Execution, fetch and retry points.
  int Exec(long compnr, int *rowCount);
  int Fetch();
  int SkipRows(int n, int *skipped);
  int GetValueStoreAddr(int column, SQLValueStore const **store);
  int Break();
  int SetBufferSize(int rows);
  int SetTimeOut(int seconds);
  int SaveRetryValues();
  int Retry();

  // The statement pool and soft close.
  static void InitStatics();
  static void AddToStatementPool(SQLStatement *statement);
  static void RemoveFromStatementPool(SQLStatement *statement);
  // Closes every statement of the session (they stay alive in state 1) and
  // forgets the session.
  static void CloseSessionStatements(unsigned long sessionId);
  static bool SessionHasStatements(unsigned long sessionId);
  // Soft-closes the broken statements idle for longer than the delay.
  static void Sweep();
  int SoftClose();

  // Destroys the statement cache (process exit).
  static void DeleteStmtRecycler();

  // Replaces the parser of later prepares (null restores SQLParse).
  static void SetParseFunction(ParseFunction parse);

  // Class statics.
  static unsigned long _idCounter;  // id of the next statement; the first is 1
  static int _softCloseEnabled;     // -1 until the settings were read, then 0 or 1
  static long _softCloseDelay;      // idle seconds before a soft close; 0 at once
  static bool _softCloseOnFirstBreak;  // the first break after a full prepare soft-closes
  static long _minBreakTime;        // oldest break time that may still time out; -1 none

 private:
  // Prepare.
  int CommonPrepare(char const *text, unsigned long sessionId, int mode, bool full);
  void doPrepare(char const *text, unsigned long sessionId, int mode, bool full);
  bool TakeCachedData(char const *text, int mode, bool full);
  void ParseAndValidate(char const *text, int mode, bool full, bool reparse);
  void TakeTreeData();
  int SoftPrepare(char const *text, unsigned long sessionId, int mode);
  void createParameterArray();
  void createInvalidParameterTypeError(int n, SQLType boundType);

  // Reset, close and the soft-close rule of a break.
  // Hard (soft FALSE) or soft reset; FALSE when a soft reset found no memory
  // for the text it keeps and left the statement as it was.
  bool reset(bool soft);
  int Close();
  void ApplySoftCloseRule();

  // Execution.
  int ExecOrRetry(ExecForm form, int *rowCount);
  std::unique_ptr<ShortArray> createExecTreeId(ExecForm form) const;
  int BuildExecTree(ExecForm form);
  void SetDeadline();
  void ParkExecTree();

  // Common parts of the operations.
  template <class Body>
  int Bind(char const *operation, int n, SQLType boundType, Body body);
  bool CheckState(char const *operation, int acceptedMask, char const *word = nullptr);
  bool CheckParameterNumber(int n);
  bool CheckOpenCursor();
  void AddRecord(char const *sqlState, SQLString const &message, long nativeError = 0,
                 int line = 0);
  // Turns the exception in flight into a record (with the syntax error's
  // line when withLine) and returns -1.
  int RecordCaughtException(bool withLine);
  // The work of SaveRetryValues; may throw (a copy that finds no memory).
  void SaveRetryPoint();
  bool IsSelect() const;

  int fetchStatus_ = kNothingFetched;
  unsigned long id_;
  int state_ = kNew;
  long lastBreakTime_ = -2;  // -2 after a full prepare, -1 after the first soft close, else al_time
  std::unique_ptr<char[]> text_;  // text of the last prepare
  std::unique_ptr<SQLStatementData> data_;  // null when not prepared and while soft-closed
  bool cursorOpen_ = false;
  unsigned long sessionId_ = 0;  // 0 while not in the pool
  int mode_ = 0;                 // prepare mode word
  SQLDiagArea diag_;
  std::unique_ptr<Parameter[]> parameters_;
  int parameterCount_ = 0;
  RefPtr<SQLSelectTargetArray> selectTargets_;
  RefPtr<SQLSelectStarTableList> selectStarTables_;
  SQLParameter *defaultCompnr_ = nullptr;  // of the tree; null when none
  int resultColumns_ = 0;                  // 0 for UPDATE and DELETE
  DynamicArray<SQLParameter *> const *compnrParameters_ = nullptr;  // of the tree data
  std::unique_ptr<ShortArray> execTreeId_;
  int bufferSize_ = -1;  // rows per network fetch; -1 not set
  int timeOut_ = -1;     // seconds; -1 not set
  std::unique_ptr<SQLExecTree> execTree_;
  bool attached_ = false;
  SQLVTWhereUsedMgr whereUsed_;
  int retryStatus_ = kNoRetryPoint;
  SQLRetrySpecList *retrySpecs_ = nullptr;  // of the tree data
  SQLRetryClauseType retryClauseType_ = SQL_RETRY_NONE;
  SQLVTRetryFilter *retryFilter_ = nullptr;  // of the tree
};
