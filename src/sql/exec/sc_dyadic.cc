#include "sql/exec/sc_dyadic.h"

#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

SQLRSSCDyadic::SQLRSSCDyadic(SQLRSSCValueExpr *left, SQLRSSCValueExpr *right) : left_(left), right_(right) {}

void SQLRSSCDyadic::Cost(double *first, double *second) {
  *first = 0;
  *second = OwnCost();
  SQLRSSCAddCost(left_.get(), first, second);
  SQLRSSCAddCost(right_.get(), first, second);
}

void SQLRSSCDyadic::AcceptVisit(SQLVisitor &visitor) {
  left_->AcceptVisit(visitor);
  right_->AcceptVisit(visitor);
  VisitSelf(visitor);
}

void SQLRSSCDyadic::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  left_->GetColumnRefs(level, type, refs);
  right_->GetColumnRefs(level, type, refs);
}

SQLTruthValue SQLRSSCDyadic::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValue l = left_->NullValueOnNullifiedCols(level, intervals);
  if (l == TV_TRUE) return TV_TRUE;
  return TVOr(l, right_->NullValueOnNullifiedCols(level, intervals));
}

void SQLRSSCDyadic::Optimize() {
  left_->Optimize();
  right_->Optimize();
}

SQLValueStore const *SQLRSSCDyadic::Prepare(SQLRSPrepareContext *context) {
  leftStore_ = left_->Prepare(context);
  rightStore_ = right_->Prepare(context);
  return &store_;
}

void SQLRSSCDyadic::Evaluate() {
  left_->Evaluate();
  if (leftStore_->IsNull()) {
    store_.SetNull();
    return;
  }
  right_->Evaluate();
  if (TestsRight() && rightStore_->IsNull()) {
    store_.SetNull();
    return;
  }
  Operate(leftStore_, rightStore_);
}

void SQLRSSCDyadic::Reset() {
  left_->Reset();
  right_->Reset();
}

void SQLRSSCDyadic::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(Token());
  left_->createTokenString(ts, level, params);
  right_->createTokenString(ts, level, params);
}

SQLRSSCValueExpr *SQLRSSCDyadic::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&left_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&right_, level, columns, parameters);
  return this;
}

void SQLRSSCDyadic::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << LogWord() << incind << endl;
  SQLRSSCLogOperand("", left_.get());
  SQLRSSCLogOperand("", right_.get());
  log << decind << ")";
}

bool SQLRSSCDyadic::SameOperands(SQLRSSCDyadic const *other) const {
  return left_->IsSameValueExpr(other->left_.get()) && right_->IsSameValueExpr(other->right_.get());
}
