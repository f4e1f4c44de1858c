// SQLExecTree: the executable form of one statement, as the statement layer
// drives it.
//
// A query is a tree of row sources (SQLRowSource); a DELETE or UPDATE is a
// single object of its own. The statement builds a tree once, replaces it by
// what Optimize returns, prepares it, and then runs it any number of times:
// Attach, SetMaxRows, SetBufferSize, SetTimeOut, Exec, Fetch/SkipRows, Break,
// and Close before the tree is cached again or deleted. Any operation may
// throw an SQLException subclass.
#pragma once

class SQLColumnDescriptor;
class SQLRSPrepareContext;
class SQLValueStore;

class SQLExecTree {
 public:
  SQLExecTree() = default;
  SQLExecTree(SQLExecTree const &) = delete;
  SQLExecTree &operator=(SQLExecTree const &) = delete;

  // Returns the tree that replaces this one; the caller uses only the
  // result from then on (this object may have been deleted). Takes the tree
  // over: the caller releases it before the call, and when Optimize throws
  // the tree has been freed.
  virtual SQLExecTree *Optimize() = 0;
  // Binds every column reference to the value store it reads. Once per tree.
  virtual void Prepare(SQLRSPrepareContext *context) = 0;
  // Binds the tree to a database session (transaction) for its executions.
  virtual void Attach(unsigned long sessionId) = 0;
  virtual int GetNumCols() = 0;
  // REQUIRES: 0 <= column < GetNumCols().
  virtual SQLColumnDescriptor const *GetColumnDescriptor(int column) = 0;
  // The cell that holds the column's value of the current row; it stays the
  // same cell for the life of the prepared tree.
  virtual SQLValueStore const *GetValueStoreAddr(int column) = 0;
  // At most `limit` rows per execution (a query only).
  virtual void SetMaxRows(int limit) = 0;
  // Absolute deadline in milliseconds of the steady clock (al_steady_ms);
  // 0 for none.
  virtual void SetTimeOut(long deadline) = 0;
  // Rows per fetch that the table leaves ask of their drivers.
  virtual void SetBufferSize(int rows) = 0;
  // Starts an execution; returns the rows processed (0 for a query).
  virtual int Exec() = 0;
  // Non-zero when a row was produced into the value stores, 0 at the end.
  virtual int Fetch() = 0;
  // Skips up to n rows; returns the number skipped.
  virtual int SkipRows(int n) = 0;
  // Ends the current execution early; the tree stays attached.
  virtual void Break() = 0;
  // Undoes Attach; never fails.
  virtual void Close() = 0;
  // Writes the tree to the SQL trace.
  virtual void Log() = 0;
  virtual ~SQLExecTree() = default;
};
