// SQLRSFilter: passes on the rows of its child for which a search condition
// is TRUE (WHERE, HAVING, and conditions that could travel no further down).
//
// During optimisation the filter offers its condition to its child
// (PushFilter) and keeps only what comes back; when nothing does, the filter
// leaves the tree. While its child is optimised, the filter's condition is
// at the head of the list of enclosing conditions handed down, so that a
// join below can see what will be applied above it.
#pragma once

#include <memory>

#include "sql/exec/row_source.h"
#include "sql/exec/sc_search_cond.h"

class SQLRSFilter : public SQLRowSource {
 public:
  // Takes ownership of both, also when it throws.
  SQLRSFilter(SQLRowSource *child, SQLRSSCSearchCond *condition);
  ~SQLRSFilter() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  // TRUE when the condition cannot be TRUE with the columns NULL, else the
  // child's answer.
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  // The condition leaves no row (SQLRSSCSearchCond::LeavesNoRow), or the
  // child yields none.
  bool YieldsNoRow() override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  // Offers the condition to the child and keeps what comes back; answers no
  // residual.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  // Hands out the condition; the filter leaves the tree.
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  bool PushSort(SQLSortSpecList *specifications) override;
  // Moves the grouping below the filter when the condition reads grouping
  // columns only; one that the outputs do not deliver is added to them. A
  // grouping without grouping columns stays above the condition.
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Adds the columns that the condition needs to the offer.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override;
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  // The condition goes to the child, the filter leaves the tree, and the
  // child forms the join.
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRSFetch *other, SQLRSSCSearchCond *condition) override;
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRowSource *other, SQLRSSCSearchCond *condition) override;
  SQLRSFetch *CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  SQLRSSCSearchCond *GetCondition() const { return condition_.get(); }
  SQLRowSource *GetChild() const { return child_.get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return child_->GetValueStoreAddr(column); }
  // The child is never limited: rejected rows do not count.
  void DoSetMaxRows(int) override {}
  // The child is not executed when it yields no row for the filter
  // (YieldsNoRow): a condition that no row of this execution meets (an
  // empty uncorrelated subquery, a false comparison of constants and
  // uncorrelated subqueries) spares reading the table. A write of the
  // transaction before the first fetch has it decided again then.
  void DoExec() override;
  int DoFetch() override;
  // Skipped rows are tested like fetched ones: skip by fetching.
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // Gives the child the condition; the filter (held by self) is freed and
  // the child returned. Throws when part of the condition comes back.
  std::unique_ptr<SQLRowSource> HandConditionToChild(std::unique_ptr<SQLRSFilter> self, char const *operation);

  std::unique_ptr<SQLRowSource> child_;
  std::unique_ptr<SQLRSSCSearchCond> condition_;  // null only after a failed PushFilter
  bool childRuns_ = false;  // the child was executed in this execution
  bool skipped_ = false;    // Exec found that no row meets the condition; no fetch since
  unsigned long skippedAt_ = 0;  // the write epoch of that Exec (SQLTableWrites::Epoch)
};

// Offers the condition (null: none) to the row source in the slot; a filter
// over it keeps what the row source leaves.
void SQLRSPushFilterInto(std::unique_ptr<SQLRowSource> *slot, SQLRSSCSearchCondPtr condition);
