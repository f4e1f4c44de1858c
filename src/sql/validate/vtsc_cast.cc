#include "sql/validate/vtsc_cast.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCValueExpr *SQLVTSCReinterpretCast::Cast(SQLType, bool) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCReinterpretCast::Cast() called");
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
  return other->operand_ == operand_ || operand_->IsSameValueExpr2(other->operand_.get());
}
