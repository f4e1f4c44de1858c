#include "sql/validate/vtsc_cast.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCValueExpr *SQLVTSCReinterpretCast::Cast(SQLType, bool) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCReinterpretCast::Cast() called");
}

SQLVTSCValueExpr *SQLVTSCReinterpretCast::Copy() {
  SQLVTSCValueExpr *operand = operand_->Copy();
  return operand ? new SQLVTSCReinterpretCast(operand, type_) : nullptr;
}

SQLRSSCValueExpr *SQLVTSCReinterpretCast::CreateRS() {
  return new SQLRSSCReinterpretCast(operand_->CreateRS(), type_);
}

void SQLVTSCReinterpretCast::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ReinterpretCast(";
  operand_->Log();
  log << "," << SQLGetTypeName(type_) << ")";
}

bool SQLVTSCReinterpretCast::IsSameReinterpretCast(SQLVTSCReinterpretCast const *other) const {
  if (other->type_ != type_) return false;
  return SQLVTSameOperand(operand_.get(), other->operand_.get());
}

SQLVTSCValueExpr *SQLVTSCCast::Cast(SQLType type, bool tolerant) {
  if (type != type_ && !(type == SQL_REAL && type_ == SQL_INTEGER && tolerant)) {
    SQLVTThrowTypeConflict("42T11", "Type conflict on cast expression", type, GetLineNumber());
  }
  SQLVTCastOperand(&operand_, type_, false);
  SQLVTSCValueExpr *result = operand_.release();
  delete this;
  return result;
}

SQLVTSCValueExpr *SQLVTSCCast::Copy() {
  SQLVTSCValueExpr *operand = operand_->Copy();
  return operand ? new SQLVTSCCast(operand, type_) : nullptr;
}

// An INTEGER operand offers REAL too: CAST(n AS REAL) of an integer column
// is accepted by the column's own Cast, so it is offered here as well.
void SQLVTSCCast::GetPossibleTypes(SQLTypeSet *types) {
  if (operand_->GetPossibleTypeSet().ContainsSubType(type_)) types->Insert(type_);
}

void SQLVTSCCast::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Cast(";
  operand_->Log();
  log << "," << SQLGetTypeName(type_) << ")";
}

SQLVTSCValueExpr *SQLVTSCCast::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                   SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, false);
  // A combined column has no single type to cast to; left in place it would
  // reach execution without an executable form.
  if (operand_->IsPseudoColumnRef()) {
    SQLVTThrow("42I10",
               std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(operand_.get())->GetName() +
                   "' used in expression",
               GetLineNumber());
  }
  return this;
}

bool SQLVTSCCast::IsSameCast(SQLVTSCCast const *other) const {
  return other->type_ == type_ && SQLVTSameOperand(operand_.get(), other->operand_.get());
}
