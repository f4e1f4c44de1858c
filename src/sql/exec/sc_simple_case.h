// SQLRSSCSimpleCase: CASE operand WHEN value THEN result ... ELSE result END.
//
// WHEN values are compared with the operand by "=", so a NULL operand or a
// NULL WHEN value never matches. The result has one type for every branch:
// that of the first non-NULL THEN result, widened from INTEGER to REAL when
// another branch is REAL; each branch's value is converted to it.
#pragma once

#include <vector>

#include "sql/exec/sc_value_expr.h"

class SQLRSSCSimpleCase : public SQLRSSCValueExpr {
 public:
  class WhenClause {
   public:
    // Takes ownership of both; a null result stands for THEN NULL.
    WhenClause(SQLRSSCValueExpr *whenValue, SQLRSSCValueExpr *result) : when(whenValue), then(result) {}
    SQLRSSCValueExprPtr when;
    SQLRSSCValueExprPtr then;
    SQLValueStore const *whenStore = nullptr;  // from Prepare
    SQLValueStore const *thenStore = nullptr;  // from Prepare; null for THEN NULL
  };

  // Takes ownership of all three and of the clauses in the list (the list
  // itself too); elseValue may be null.
  SQLRSSCSimpleCase(SQLRSSCValueExpr *operand, List<WhenClause *> *clauses, SQLRSSCValueExpr *elseValue);
  ~SQLRSSCSimpleCase() override;

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override { return other == this; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCSimpleCase"; }

 private:
  // Settles the result type and depth once they can be known.
  void DetermineType() const;
  void SetResultNull();
  // Evaluates a branch's value and converts it into the own store.
  void TakeValue(SQLRSSCValueExpr *e, SQLValueStore const *store);

  SQLRSSCValueExprPtr operand_;
  std::vector<std::unique_ptr<WhenClause>> clauses_;
  SQLRSSCValueExprPtr else_;
  mutable SQLType type_ = SQL_UNDEFINED;  // 0 until determined
  mutable int depth_ = 1;
  SQLValueStore const *operandStore_ = nullptr;
  SQLValueStore const *elseStore_ = nullptr;
  SQLValueStore store_;
};
