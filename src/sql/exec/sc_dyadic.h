// SQLRSSCDyadic: what the two-operand expressions share: they own both
// operands, evaluate them left then right (a NULL one makes the result NULL
// and the other is not evaluated) and leave the result in their own store.
#pragma once

#include "sql/agent/nw_token.h"
#include "sql/exec/sc_value_expr.h"

class SQLRSSCDyadic : public SQLRSSCValueExpr {
 public:
  // Takes ownership of both operands.
  SQLRSSCDyadic(SQLRSSCValueExpr *left, SQLRSSCValueExpr *right);

  SQLRSSCValueExpr const *GetLeft() const { return left_.get(); }
  SQLRSSCValueExpr const *GetRight() const { return right_.get(); }

  // The operands' pairs added, plus the operator's own ordinary work.
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;
  bool CanCopy() const override { return left_->CanCopy() && right_->CanCopy(); }

 protected:
  // The result from the two non-NULL operand stores.
  virtual void Operate(SQLValueStore const *left, SQLValueStore const *right) = 0;
  virtual void VisitSelf(SQLVisitor &visitor) = 0;
  virtual SQLNWToken Token() const = 0;
  virtual char const *LogWord() const = 0;
  virtual double OwnCost() const { return 1; }
  // Whether the right operand is evaluated and tested before Operate.
  virtual bool TestsRight() const { return true; }
  // A node of type T over copies of both operands; a failure frees them.
  template <class T>
  SQLRSSCValueExpr *CopyAs() const {
    SQLRSSCValueExprPtr l(left_->Copy());
    SQLRSSCValueExprPtr r(right_->Copy());
    T *copy = new T(l.get(), r.get());
    (void)l.release();
    (void)r.release();
    return copy;
  }
  // Both operands the same, in the same places.
  bool SameOperands(SQLRSSCDyadic const *other) const;

  SQLRSSCValueExprPtr left_;
  SQLRSSCValueExprPtr right_;
  SQLValueStore const *leftStore_ = nullptr;
  SQLValueStore const *rightStore_ = nullptr;
  SQLValueStore store_;
};
