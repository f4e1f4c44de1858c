#include "sql/exec/sc_reinterpret_cast.h"

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

SQLRSSCReinterpretCast::SQLRSSCReinterpretCast(SQLRSSCValueExpr *operand, SQLType castType)
    : operand_(operand), castType_(castType) {}

void SQLRSSCReinterpretCast::Cost(double *first, double *second) {
  operand_->Cost(first, second);
  *second += 1;
}

void SQLRSSCReinterpretCast::AcceptVisit(SQLVisitor &visitor) {
  operand_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCReinterpretCast(this);
}

void SQLRSSCReinterpretCast::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  operand_->GetColumnRefs(level, type, refs);
}

SQLColumnDescriptor SQLRSSCReinterpretCast::GetColumnDescriptor() const {
  return SQLColumnDescriptor("", castType_, 0, 1);
}

SQLTruthValue SQLRSSCReinterpretCast::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  return operand_->NullValueOnNullifiedCols(level, intervals);
}

SQLValueStore const *SQLRSSCReinterpretCast::Prepare(SQLRSPrepareContext *context) {
  operandStore_ = operand_->Prepare(context);
  return &store_;
}

void SQLRSSCReinterpretCast::Evaluate() {
  operand_->Evaluate();
  // The value layer holds the conversion and its range rules; a number
  // below the 32-bit range is refused too, instead of wrapping.
  store_.Reinterpret(operandStore_, castType_);
}

bool SQLRSSCReinterpretCast::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameReinterpretCast(this);
}

bool SQLRSSCReinterpretCast::IsSameReinterpretCast(SQLRSSCReinterpretCast const *other) const {
  return castType_ == other->castType_ && operand_->IsSameValueExpr(other->operand_.get());
}

void SQLRSSCReinterpretCast::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVEReinterpretCast);
  ts->AppendType(castType_);
  operand_->createTokenString(ts, level, params);
}

void SQLRSSCReinterpretCast::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ReinterpretCast(";
  operand_->Log();
  log << ", castType=" << static_cast<int>(castType_) << ")";
}

SQLRSSCValueExpr *SQLRSSCReinterpretCast::Copy() const {
  SQLRSSCValueExprPtr operand(operand_->Copy());
  auto *copy = new SQLRSSCReinterpretCast(operand.get(), castType_);
  (void)operand.release();
  return copy;
}
