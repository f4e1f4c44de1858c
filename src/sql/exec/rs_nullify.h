// SQLRSNullify: passes on every row of its child, but sets chosen columns of
// the child to NULL in each row for which its condition is not TRUE.
//
// It is the inner half of a LEFT OUTER join that is evaluated as an inner
// join elsewhere (by the driver's agent): the nullified columns are the
// right side's, the condition is the join condition. When a condition above
// rejects every row whose right side is NULL, the outer join is in effect
// an inner one and the nullify leaves the tree (PushFilter). It never
// appears in a query description.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_search_cond.h"

class SQLRSNullify : public SQLRowSource {
 public:
  // Takes ownership of all three; a null condition counts as TRUE.
  SQLRSNullify(SQLRowSource *child, intList *columns, SQLRSSCSearchCond *condition);
  ~SQLRSNullify() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  // Conjuncts on the other columns go to the child. When a conjunct rejects
  // every row with the nullified columns NULL, the whole condition and the
  // nullify's own go to the child and the nullify leaves the tree.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  // Hands out the column list and the condition; the nullify leaves the tree.
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  // Refused (FALSE) when the ordering reads a nullified column.
  bool PushSort(SQLSortSpecList *specifications) override;
  // When the grouping reads no nullified column, the nullify leaves the tree.
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Drops nullified columns that nobody reads; without any left, the nullify
  // leaves the tree.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override;
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  intList const *GetColumns() const { return columns_.get(); }
  SQLRSSCSearchCond *GetCondition() const { return condition_.get(); }
  SQLRowSource *GetChild() const { return child_.get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override;
  void DoSetMaxRows(int limit) override { child_->SetMaxRows(limit); }
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int n) override { return child_->SkipRows(n); }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  bool IsNullified(int column) const;
  // The runs of consecutive nullified ids, ascending.
  List<Interval<int>> NullifiedRuns() const;

  // ---- the plan ----
  std::unique_ptr<SQLRowSource> child_;
  std::unique_ptr<intList> columns_;              // nullified child columns
  std::unique_ptr<SQLRSSCSearchCond> condition_;  // null: always TRUE
  std::vector<SQLValueStore const *> sources_;    // the child's store, per nullified column
  std::vector<SQLValueStore const *> output_;     // per child column: own or child's store

  // ---- one execution ----
  std::vector<SQLValueStore> own_;  // per nullified column, in list order
  std::vector<int> dimensions_;     // per nullified column: array elements, 0 for a scalar
  std::vector<SQLType> types_;      // per nullified column: the type of its NULLs
  bool firstFetch_ = false;         // array dimensions are still to be taken
};
