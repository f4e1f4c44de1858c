// SQLRSSCReinterpretCast: gives the number in its operand a date, timestamp
// or interval meaning (an INTEGER widened, a REAL truncated toward zero).
#pragma once

#include "sql/exec/sc_value_expr.h"

class SQLRSSCReinterpretCast : public SQLRSSCValueExpr {
 public:
  // Takes ownership of operand. castType: DATE, TIMESTAMP, INTERVAL DAYS or
  // INTERVAL SECONDS.
  SQLRSSCReinterpretCast(SQLRSSCValueExpr *operand, SQLType castType);

  SQLType GetCastType() const { return castType_; }
  SQLRSSCValueExpr const *GetOperand() const { return operand_.get(); }

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override { operand_->Optimize(); }
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  // A day number above 31 December 9999, or a DATE or INTERVAL DAYS outside
  // the 32-bit range, raises SQLExDEDatetimeFieldOverflow ("22008").
  void Evaluate() override;
  void Reset() override { operand_->Reset(); }
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameReinterpretCast(SQLRSSCReinterpretCast const *other) const override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  // The operand is left as it is: a reinterpretation over an outer column
  // keeps reading the column.
  SQLRSSCValueExpr *CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override { return this; }
  void Log() const override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return operand_->CanCopy(); }

 protected:
  char const *ClassName() const override { return "SQLRSSCReinterpretCast"; }

 private:
  SQLRSSCValueExprPtr operand_;
  SQLValueStore const *operandStore_ = nullptr;
  SQLType castType_;
  SQLValueStore store_;
};
