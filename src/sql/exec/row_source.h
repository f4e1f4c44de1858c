// SQLRowSource: the abstract row-producing node of an execution tree.
//
// The public operations are the same for every row source and live here:
// they trace (SQLLogger::Eval::Rs), keep the state, enforce the maximum-rows
// limit and the time-out deadline, and call the protected Do* hook that a
// subclass implements. The optimiser's push and pull messages rewrite the
// tree bottom-up (OptimizeTree) and then top-down (OptimizeNode); an
// operation that returns a row source returns the node that stands in the
// tree afterwards, which may be another object (this one then is deleted).
//
// Ownership while the tree is optimised. A message that returns the row
// source standing in the tree afterwards (OptimizeRS, Optimize,
// OptimizeTree, PushFilter, PullFilter, PullNullify, PushGroup, PushProject,
// CombineJoin, CreateJoin, CreateConstLeftOuterJoin) takes its receiver
// over: the caller lets go of the receiver before the call
// (`child_.reset(child_.release()->PushFilter(...))`) and owns only the
// result. If such a message throws, it has freed the receiver, the subtree
// below it and the arguments it takes (a condition, the other side of a
// join), and its out-parameters hold nothing the caller must free. Every
// override therefore holds itself in an owner (std::unique_ptr of its own
// class) while it works and lets go of it only when it returns.
// PushSort, CreateUnion and the lists of PushGroup are the exceptions: they
// take their arguments only when they accept them, and leave them (and,
// for CreateUnion, the receiver too) with the caller when they refuse or
// throw.
//
// A row-source constructor takes its arguments over from its first member
// initialiser on: one that throws has freed them. Callers therefore hand
// over released pointers inside the new-expression
// (`new SQLRSFilter(child.release(), condition.release())`): the allocation
// happens before the arguments are evaluated, so when it fails the owners
// of the caller still hold them.
//
// The plan (the tree, its conditions and expressions) stays as prepared;
// what one execution changes (rows fetched, buffers, cursors) lives in
// members that Exec and Break reset, so a cached tree can run again.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"
#include "sql/common/sql_type.h"
#include "sql/exec/exec_tree.h"

class SQLDatabaseInstance;
class SQLHints;
class SQLRSFetch;
class SQLRSGroupSpec;
class SQLRSExecutions;
class SQLRSNetFetchParams;
class SQLRSFetchParameters;
class SQLColumnRef2QDBColumnIdMap;
class SQLVisitor;
// Which column references GetColumnRefs collects (the expressions define it).
enum SQLRSSCColumnRefType : int;

class SQLRowSource : public SQLExecTree {
 public:
  // States of a row source.
  static constexpr int kConstructed = 1;
  static constexpr int kPrepared = 2;
  static constexpr int kAttached = 3;
  static constexpr int kExecuted = 4;

  SQLRowSource();
  ~SQLRowSource() override;

  // ---- SQLExecTree, the same for every row source ----
  SQLExecTree *Optimize() override;
  // The row source prepared first with a context is the root of its tree:
  // it owns the count of the tree's executions (SQLRSExecutions), which
  // every Exec of the root moves on.
  void Prepare(SQLRSPrepareContext *context) override;
  // Attaches every table leaf and text-content expression of the tree; when
  // that fails, detaches the whole tree again and rethrows.
  void Attach(unsigned long sessionId) override;
  int GetNumCols() override { return DoGetNumCols(); }
  SQLColumnDescriptor const *GetColumnDescriptor(int column) override {
    return DoGetColumnDescriptor(column);
  }
  SQLValueStore const *GetValueStoreAddr(int column) override { return DoGetValueStoreAddr(column); }
  // A limit below 0 means none.
  void SetMaxRows(int limit) override;
  // Every row source of the tree, subqueries included, takes the deadline;
  // every table leaf passes it to its cursor.
  void SetTimeOut(long deadline) override;
  // Every table leaf of the tree takes the buffer size.
  void SetBufferSize(int rows) override;
  int Exec() override;
  // Throws SQLExZDBError(313) once the deadline has passed; returns 0 without
  // calling the hook once the maximum rows have been fetched.
  int Fetch() override;
  // Skips by the hook, or by fetching when the hook cannot skip.
  int SkipRows(int n) override;
  void Break() override;
  // Detaches the whole tree; a failure is traced, never thrown.
  void Close() override;
  void Log() override;

  // OptimizeTree(null, null), then OptimizeNode on its result. Takes the
  // tree over; frees it when it throws.
  SQLRowSource *OptimizeRS();
  // VisitSQLRowSource(this), then DoAcceptVisit.
  void AcceptVisit(SQLVisitor &visitor);

  // After Prepare, at the start of an execution and before it (and before
  // a join binds its inner side's parameters): TRUE when the row source
  // yields no row in this execution, known without reading a table (a
  // filter whose condition leaves no row, see
  // SQLRSSCSearchCond::LeavesNoRow), so that what would read it is spared.
  // By default FALSE.
  virtual bool YieldsNoRow() { return false; }

  // ---- queries and rewrites over the expressions of a subtree ----
  virtual void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) = 0;
  virtual bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) = 0;
  virtual void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) = 0;

  // ---- the optimiser's messages ----
  // The messages returning a row source take the receiver over (see the
  // top of this file); filters are the conditions applied above, not owned.
  virtual SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) = 0;
  // Works in place; the tree stays the caller's, also when it throws.
  virtual void OptimizeNode() = 0;
  virtual void PushHints(SQLHints *hints) = 0;
  // Takes ownership of condition; *residual (owned by the caller) is the
  // part not taken, null when all of it was, and null when it throws.
  virtual SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) = 0;
  // The results in the out-parameters are the caller's.
  virtual SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) = 0;
  virtual SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) = 0;
  // TRUE when the receiver took over the ordering and the list. The list
  // stays the caller's when the answer is FALSE or the call throws, and
  // the receiver is the caller's in any case.
  virtual bool PushSort(SQLSortSpecList *specifications) = 0;
  // The lists become the receiver's (or its replacement's) only when
  // *accepted is TRUE; when it is FALSE or the call throws they stay the
  // caller's. The receiver is taken over like in every message above.
  virtual SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs,
                                  bool *accepted) = 0;
  // The list stays the caller's; it comes back rewritten.
  virtual SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) = 0;
  // TRUE when the receiver's rows are, or can be made by it, materialised.
  virtual bool RowSetIsPrepared() = 0;
  // *instance (the caller's, null when it throws) is the driver instance of
  // a combinable subtree.
  virtual SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                    List<SQLRSSCSearchCond const *> *filters, bool *combinable) = 0;
  // Double dispatch of joins and unions; the defaults below stop (joins) or
  // form nothing (unions, null). CreateJoin and CreateConstLeftOuterJoin
  // take the receiver, other and condition over, also when they throw.
  // CreateUnion takes the receiver and other only when it returns a row
  // source; when it returns null or throws, both stay the caller's.
  virtual SQLRSFetch *CreateJoin(SQLJoinType type, SQLRSFetch *other, SQLRSSCSearchCond *condition);
  virtual SQLRSFetch *CreateJoin(SQLJoinType type, SQLRowSource *other, SQLRSSCSearchCond *condition);
  virtual SQLRSFetch *CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition);
  virtual SQLRowSource *CreateUnion(SQLRSFetch *other, bool all);
  virtual SQLRowSource *CreateUnion(SQLRowSource *other, bool all);
  // Appends this row source and everything below it to a query description.
  virtual void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) = 0;
  // The older description interface; every row source stops on it.
  virtual void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                                unsigned long id) = 0;

  // ---- state, for the visitors that attach, detach and set time-outs ----
  int GetState() const { return state_; }
  void SetState(int state) { state_ = state; }
  long GetDeadline() const { return deadline_; }
  void SetDeadline(long deadline) { deadline_ = deadline; }
  int GetMaxRows() const { return maxRows_; }
  int GetRowsFetched() const { return rowsFetched_; }
  // Labels the trace lines of this row source.
  int GetId() const { return id_; }

 protected:
  virtual void DoPrepare(SQLRSPrepareContext *context) = 0;
  virtual int DoGetNumCols() = 0;
  virtual SQLColumnDescriptor const *DoGetColumnDescriptor(int column) = 0;
  virtual SQLValueStore const *DoGetValueStoreAddr(int column) = 0;
  virtual void DoSetMaxRows(int limit) = 0;
  virtual void DoExec() = 0;
  virtual int DoFetch() = 0;
  // The rows skipped, or a negative value when the row source cannot skip
  // by itself (the public SkipRows then fetches).
  virtual int DoSkipRows(int n) = 0;
  virtual void DoBreak() = 0;
  // Completes the line that Log began, and logs the subtree.
  virtual void DoLog() = 0;
  virtual void DoAcceptVisit(SQLVisitor &visitor) = 0;

  // Starts a trace line "[id] " when row-source tracing is on; FALSE (and
  // nothing written) when it is off.
  bool TraceStart() const;

 private:
  // Throws SQLExZDBError(313) when a deadline is set and has passed.
  void CheckDeadline();

  int state_;        // kConstructed .. kExecuted
  int maxRows_;      // -1: no limit
  long deadline_;    // al_steady_ms() at which the time-out passes; 0: none
  int rowsFetched_;  // hook calls of Fetch since the last Exec
  int id_;           // from the process-wide counter, 1 for the first
  std::unique_ptr<SQLRSExecutions> executions_;  // the root's only
};

// Ends the traversal of a node with one child: the child leaves the
// visitor's row-source scope and the node takes its place.
void SQLRSEndUnaryVisit(SQLVisitor &visitor, SQLRowSource *node);

// Replaces every computed expression of a PushProject offer by the plain
// columns of `child` it reads. A node that drops rows after its child
// delivers them (a filter, the condition of a join) offers its child only
// columns: an expression the child computed would be computed for rows
// that are dropped, and one that fails there (a division by zero, an
// overflow) would fail the statement although no row of its result
// computes it. The projection above computes it from the columns instead.
void SQLRSOfferColumnsOnly(SQLRSSCValueExprRefPtrList *expressions, SQLRowSource *child);
