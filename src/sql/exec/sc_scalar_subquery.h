// SQLRSSCScalarSubquery: the first column of the one row of a subquery.
//
// No row gives NULL (every element NULL for an array), two rows raise
// SQLExCardinalityViolation ("21000"). Its answers are kept as
// SQLRSSubqueryAnswers tells: an uncorrelated subquery runs once per
// execution, a correlated one once per outer value, and with many of them
// answers here from a second tree of the subquery (`local`, may be null;
// see SQLRSLocalSubquery).
#pragma once

#include <memory>

#include "sql/exec/local_subquery.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/exec/subquery_answers.h"

class SQLRowSource;

class SQLRSSCScalarSubquery : public SQLRSSCValueExpr {
 public:
  explicit SQLRSSCScalarSubquery(SQLRowSource *rowSource, SQLRowSource *local = nullptr);  // both taken over
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
  void Reset() override { answers_.Reset(); }
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override { return other == this; }
  bool IsSameScalarSubquery(SQLRSSCScalarSubquery const *other) const override { return other == this; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCScalarSubquery"; }

 private:
  // One run's answer: the value, or too many rows.
  struct Answer {
    SQLValueStore value;
    bool tooManyRows = false;
  };
  // TRUE when the subquery reads a row of the query that holds it.
  bool IsVariable();
  // Runs the subquery (its tree `rs`) into store_; TRUE when it gave more
  // than one row.
  bool Run(SQLRowSource *rs);

  std::unique_ptr<SQLRowSource> rowSource_;
  SQLValueStore store_;
  SQLRSSubqueryAnswers<Answer> answers_;
};
