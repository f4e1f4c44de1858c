// SQLRSPrepare: materialises the rows of its child unchanged, so that a
// result is complete (and its source done) before the caller sees a row.
//
// The first Fetch of an execution (or a SkipRows before it) reads the child
// into a row buffer; each Fetch then hands out the next buffered row. During
// optimisation a child whose rows are already materialised replaces the
// node in the tree.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/vs_buffer.h"

class SQLRSPrepare : public SQLRowSource {
 public:
  // Takes ownership of child.
  explicit SQLRSPrepare(SQLRowSource *child);
  ~SQLRSPrepare() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
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
  bool RowSetIsPrepared() override;
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return &output_[column]; }
  void DoSetMaxRows(int limit) override { child_->SetMaxRows(limit); }
  void DoExec() override;
  int DoFetch() override;
  // Before the first Fetch: skips in the child and buffers the rest; later:
  // drops buffered rows.
  int DoSkipRows(int n) override;
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // Reads the rest of the child into the buffer.
  void BufferRows();
  // Moves the cursor over the row ids: to the first at the start of the
  // result, else to the next. FALSE past the last.
  bool NextId();
  void ResetRun();

  // ---- the plan ----
  std::unique_ptr<SQLRowSource> child_;
  int numCols_ = 0;
  std::vector<SQLValueStore const *> childAddrs_;
  std::vector<SQLColumnDescriptor const *> descriptors_;

  // ---- one execution ----
  std::vector<SQLValueStore> output_;  // the cells handed out
  bool atStart_ = true;                // the next fetch takes the first row
  bool buffered_ = false;              // the child has been read to its end
  std::unique_ptr<SQLVSBuffer> buffer_;
  SQLVSBufferIdList rowIds_;           // in the child's order
};
