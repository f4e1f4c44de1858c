// References to values that the expression does not compute: a column of
// the current row of some row source, and a statement parameter.
#pragma once

#include <vector>

#include "sql/exec/sc_value_expr.h"

// A column of a row source's current row. It has no store of its own: the
// row source that produces the column fills the store found at Prepare.
class SQLRSSCColumnRef : public SQLRSSCValueExpr {
 public:
  SQLRSSCColumnRef(int level, int columnId, SQLColumnDescriptor const *descriptor);

  int GetColumnId() const { return columnId_; }
  void SetColumnId(int columnId) { columnId_ = columnId; }
  int GetRelScopeLevel() const { return level_; }
  // A reference that must be evaluated here, never shipped in a driver's
  // query: an outer value of a subquery's tree that answers here (see
  // local_subquery.h). Copies keep the mark.
  void KeepHere() { keptHere_ = true; }
  bool KeptHere() const { return keptHere_; }
  // The store the reference reads, null before Prepare.
  SQLValueStore const *GetValueStore() const { return store_; }

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override { return descriptor_; }
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override {}
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override {}
  void Reset() override {}
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameColumnRef(SQLRSSCColumnRef const *other) const override;
  bool IsColumnRef() const override { return true; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *ClassName() const override { return "SQLRSSCColumnRef"; }

 private:
  int level_;                         // relative scope level, <= 0
  int columnId_;
  SQLColumnDescriptor descriptor_;    // a copy
  SQLValueStore const *store_ = nullptr;  // the row source's, from Prepare
  bool keptHere_ = false;
};

// The column references of level 0 (the row of the row source that holds
// the tree) in a condition or an expression, in the order GetColumnRefs
// finds them.
template <class Tree>
std::vector<SQLRSSCColumnRef *> SQLRSSCLevelRefs(Tree *tree) {
  pSQLRSSCColumnRefList refs;
  tree->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  std::vector<SQLRSSCColumnRef *> out;
  for (bool more = refs.First(); more; more = refs.Next()) out.push_back(refs.GetCurrent());
  return out;
}

// A statement parameter; Evaluate copies its current value, so that a new
// binding between executions is seen.
class SQLRSSCParameterRef : public SQLRSSCValueExpr {
 public:
  explicit SQLRSSCParameterRef(SQLParameter const *parameter);  // not owned

  SQLParameter const *GetParameter() const { return parameter_; }

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int, List<Interval<int>> *) override { return TV_UNKNOWN; }
  void Optimize() override {}
  SQLValueStore const *Prepare(SQLRSPrepareContext *) override { return &store_; }
  void Evaluate() override;
  void Reset() override {}
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameParameterRef(SQLRSSCParameterRef const *other) const override;
  bool IsParameterRef() const override { return true; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override { return this; }
  void Log() const override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *ClassName() const override { return "SQLRSSCParameterRef"; }

 private:
  SQLParameter const *parameter_;
  SQLValueStore store_;
};
