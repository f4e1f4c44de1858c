// SQLRSClearUnref: the top row source of a CLEAR/UNREF statement. It passes
// its child's rows through and, in every row, replaces the NULLs of chosen
// columns (the columns of referred tables that a REFERS TO join left without
// a row) by empty values, or by values marked as unreferenced.
//
// Each operation names result columns and a mode: Clear fills with spaces
// and zeros, Unref fills strings with the no-reference character, and
// ClearUnref decides per row: Clear when one of the foreign-key values is
// empty (no reference was made), Unref otherwise (the referred row is
// missing). Non-null values are copied unchanged. The rewriting works in
// cells allocated at Prepare; columns that no operation names are handed
// through by address. It takes part in no optimiser rewriting.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_value_expr.h"

class SQLRSClearUnref : public SQLRowSource {
 public:
  // One rewriting rule.
  class SQLRSClearUnrefOp {
   public:
    enum SQLRSClearUnrefMode : int { Clear = 0, Unref = 1, ClearUnref = 2 };

    // Takes ownership of the column list, of the foreign-key list and of its
    // expressions (null for Clear and Unref).
    SQLRSClearUnrefOp(List<int> *columns, SQLRSClearUnrefMode mode, List<SQLRSSCValueExpr *> *foreignKey);
    ~SQLRSClearUnrefOp();
    SQLRSClearUnrefOp(SQLRSClearUnrefOp const &) = delete;
    SQLRSClearUnrefOp &operator=(SQLRSClearUnrefOp const &) = delete;

    // Prepares the foreign-key expressions over the current row of the scope.
    void Prepare(SQLRSPrepareContext *context);
    // Rewrites the operation's columns of one row: own[c] from input[c].
    void Eval(std::vector<SQLValueStore const *> const &input, std::vector<SQLValueStore> *own,
              std::vector<SQLColumnDescriptor> const &descriptors, char noReference);
    std::vector<int> const &GetColumns() const { return columns_; }
    SQLRSClearUnrefMode GetMode() const { return mode_; }
    void Log() const;

   private:
    std::vector<int> columns_;                            // result column positions
    SQLRSClearUnrefMode mode_;
    std::vector<std::unique_ptr<SQLRSSCValueExpr>> foreignKey_;  // ClearUnref only
    std::vector<SQLValueStore const *> keyValues_;        // from each key expression's Prepare
  };

  // Takes ownership of the child, of the list and of its operations. The
  // child's column descriptors are copied now.
  SQLRSClearUnref(SQLRowSource *child, List<SQLRSClearUnrefOp *> *operations, char noReference);
  ~SQLRSClearUnref() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override { child_->OptimizeNode(); }
  void PushHints(SQLHints *hints) override { child_->PushHints(hints); }
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
    return &descriptors_[static_cast<size_t>(column)];
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override;
  void DoSetMaxRows(int limit) override { child_->SetMaxRows(limit); }
  void DoExec() override { child_->Exec(); }
  int DoFetch() override;
  int DoSkipRows(int n) override { return child_->SkipRows(n); }
  void DoBreak() override { child_->Break(); }
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  std::unique_ptr<SQLRowSource> child_;
  std::vector<std::unique_ptr<SQLRSClearUnrefOp>> operations_;  // applied in order
  char noReference_;                                // fill character of Unref
  std::vector<SQLColumnDescriptor> descriptors_;    // copies of the child's
  std::vector<SQLValueStore> own_;                  // the rewritten values
  std::vector<SQLValueStore const *> input_;        // the child's cells
  std::vector<SQLValueStore const *> output_;       // own cell of a named column, else the child's
};
