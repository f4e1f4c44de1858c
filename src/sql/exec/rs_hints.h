// SQLRSHints: carries the optimiser hints of one query level (a HINT
// clause) over the row source of that level. It exists only until the tree
// is optimised: OptimizeTree optimises the subtree under the effective hints
// (the node's own over those of enclosing levels), hands the node's own hints
// to the table leaves (PushHints) and removes itself.
//
// The validated tree creates it through SQLVTNode's hints wrapper, which
// SQLRSInstallHintsWrapper installs (the library does so at load time).
#pragma once

#include <memory>

#include "sql/common/sql_hints.h"
#include "sql/exec/row_source.h"

class SQLRSHints : public SQLRowSource {
 public:
  // Takes ownership of child; copies the hints (null counts as none given).
  SQLRSHints(SQLRowSource *child, SQLHints const *hints);
  ~SQLRSHints() override;

  // The wrapper of the validated tree: a new hints row source over child.
  static SQLRowSource *Wrap(SQLRowSource *child, SQLHints const *hints);

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  // Removes the hints row source from the tree; returns what stands there.
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

  SQLHints const &GetHints() const { return hints_; }

  // The hints that apply below a node with hints `own` when the enclosing
  // levels give `outer` (null: none): the outer ones, over which the node's
  // ordered, row mode, no-hints and hint string settings win one by one.
  static SQLHints Effective(SQLHints const &own, SQLHints const *outer);

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override { child_->Prepare(context); }
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return child_->GetValueStoreAddr(column); }
  void DoSetMaxRows(int limit) override { child_->SetMaxRows(limit); }
  void DoExec() override { child_->Exec(); }
  int DoFetch() override { return child_->Fetch(); }
  int DoSkipRows(int n) override { return child_->SkipRows(n); }
  void DoBreak() override { child_->Break(); }
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  SQLHints hints_;
  std::unique_ptr<SQLRowSource> child_;
};

// Appends the hint items of a query description for the given hints: the
// array fetching switch and size, ordered, the hint string (with its NUL),
// the row mode and no-hints, each only when given. The buffer size is not
// written: it stays with the table leaf.
void SQLRSAppendHintItems(SQLTokenString *ts, SQLHints const &hints);

// Makes the validated tree wrap the row source of every node with hints in
// an SQLRSHints.
void SQLRSInstallHintsWrapper();
