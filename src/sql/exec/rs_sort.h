// SQLRSSort: orders the rows of its child (ORDER BY).
//
// The first Fetch of an execution reads the child completely into a row
// sorter (key columns first, then the others), which orders the rows in
// memory or, beyond the cache setting, by an external merge sort. Each
// Fetch hands out the next row in the child's column layout. Rows with
// equal keys keep the order in which the child produced them.
//
// During optimisation the sort is offered to the child (PushSort); a child
// that takes it over replaces the sort in the tree.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/row_sorter.h"
#include "sql/exec/sort_spec.h"

// The largest number a query description of the specifications holds:
// their count or a column number.
long long SQLRSSortItemsLargest(SQLSortSpecList const *specifications);

class SQLRSSort : public SQLRowSource {
 public:
  // Takes ownership of both. A specification of a column that an earlier one
  // already orders by is dropped.
  SQLRSSort(SQLRowSource *child, SQLSortSpecList *specifications);
  ~SQLRSSort() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  bool YieldsNoRow() override { return child_->YieldsNoRow(); }
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  bool PushSort(SQLSortSpecList *specifications) override;
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  // TRUE: a sort's rows are materialised.
  bool RowSetIsPrepared() override { return true; }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  SQLSortSpecList const *GetSortSpecs() const { return specifications_.get(); }
  // The sorter of the current execution (null before Prepare).
  SQLRowSorter const *GetSorter() const { return sorter_.get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return &output_[column]; }
  // The child is never limited: all its rows must be ordered.
  void DoSetMaxRows(int) override {}
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // Reads the child and orders the index.
  void SortRows();
  // Forgets the rows of the last execution.
  void ResetRun();

  // ---- the plan ----
  std::unique_ptr<SQLRowSource> child_;
  std::unique_ptr<SQLSortSpecList> specifications_;
  int numCols_ = 0;                 // the child's
  std::vector<int> keyIds_;         // child column of each key
  std::vector<int> otherIds_;       // the other child columns, ascending
  std::vector<SQLValueStore const *> addrs_;  // the child's cells, keys first
  std::vector<bool> descending_;              // per key

  // ---- one execution ----
  std::vector<SQLValueStore> output_;         // the cells handed out
  std::vector<SQLValueStore *> outputOrder_;  // output_ cells, keys first
  bool sortNeeded_ = false;                   // the child is still to be read
  std::unique_ptr<SQLRowSorter> sorter_;
};
