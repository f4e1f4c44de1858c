// SQLRSSCScalarSubquery: the first column of the one row of a subquery.
//
// No row gives NULL (every element NULL for an array), two rows raise
// SQLExCardinalityViolation ("21000"). A subquery that reads no row of an
// enclosing query runs once and holds its value until Reset.
#pragma once

#include <memory>

#include "sql/exec/sc_value_expr.h"

class SQLRowSource;

class SQLRSSCScalarSubquery : public SQLRSSCValueExpr {
 public:
  explicit SQLRSSCScalarSubquery(SQLRowSource *rowSource);  // taken over
  ~SQLRSSCScalarSubquery() override;

  SQLRowSource *GetRowSource() const { return rowSource_.get(); }

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override { state_ = kNotEvaluated; }
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override { return other == this; }
  bool IsSameScalarSubquery(SQLRSSCScalarSubquery const *other) const override { return other == this; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCScalarSubquery"; }

 private:
  enum State { kNotEvaluated = 0, kValueHeld = 1, kTooManyRows = 2 };
  // TRUE when the subquery reads a row of the query that holds it.
  bool IsVariable();

  std::unique_ptr<SQLRowSource> rowSource_;
  SQLValueStore store_;
  bool evaluateOnce_ = false;
  State state_ = kNotEvaluated;
};
