// SQLRSProject: computes a select list. For every row of its child it
// evaluates an ordered list of value expressions over the child's columns;
// expression j gives output column j.
//
// During optimisation the projection offers its list to its child
// (PushProject). A child that then delivers exactly these expressions (a
// table leaf that ships the select list) replaces the projection in the
// tree; otherwise the projection stays and rewrites its expressions over
// the child's new, possibly narrower, columns: an expression whose columns
// are all still delivered is renumbered, one that the child computes itself
// becomes a plain reference to that column.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_value_expr.h"

class SQLRSProject : public SQLRowSource {
 public:
  // Takes ownership of the child, of every expression in the list and of the
  // list itself (which it deletes; the expressions are kept).
  SQLRSProject(SQLRowSource *child, pSQLRSSCValueExprList *expressions);
  ~SQLRSProject() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  bool YieldsNoRow() override { return child_->YieldsNoRow(); }
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  // Takes no filter: all of it comes back as the residual.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  // Passes an ordering on plain columns (and integer constants) to the child.
  bool PushSort(SQLSortSpecList *specifications) override;
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Keeps its own output: answers one reference per own column.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override;
  // A projection of columns and constants (the ANSI mode's company number
  // of a table) over a child that a driver's join can take goes into the
  // child, which then joins in its place; any other projection keeps the
  // join here.
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  SQLRowSource *GetChild() const { return child_.get(); }
  SQLRSSCValueExpr *GetExpression(int i) const { return expressions_[static_cast<size_t>(i)].Get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return static_cast<int>(expressions_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override;
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return stores_[static_cast<size_t>(column)]; }
  void DoSetMaxRows(int limit) override { child_->SetMaxRows(limit); }
  void DoExec() override { child_->Exec(); }
  int DoFetch() override;
  // Skipped rows are not evaluated.
  int DoSkipRows(int n) override { return child_->SkipRows(n); }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // Offers the expressions to the child (PushProject); TRUE when the child
  // now yields exactly them, else `offer` holds what it yields.
  bool OfferToChild(SQLRSSCValueExprRefPtrList *offer);
  // Rewrites the expressions over the child's layout after PushProject.
  void Rename(SQLRSSCValueExprRefPtrList *offer, int formerColumns);

  std::unique_ptr<SQLRowSource> child_;
  std::vector<RefPtr<SQLRSSCValueExpr>> expressions_;  // one per output column
  std::vector<SQLValueStore const *> stores_;          // from each expression's Prepare
  std::vector<SQLColumnDescriptor> descriptors_;       // built on first use, then stable
};
