#include "sql/validate/vtsc_set_func.h"

#include "sql/common/ref_ptr.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_scope_info.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

namespace {

char const *FunctionName(SQLSetFuncSpec function) {
  switch (function) {
    case SQL_SETFUNC_MIN: return "MIN(";
    case SQL_SETFUNC_MAX: return "MAX(";
    case SQL_SETFUNC_SUM: return "SUM(";
    case SQL_SETFUNC_AVG: return "AVG(";
    case SQL_SETFUNC_COUNT: return "COUNT(";
  }
  return "?(";
}

}  // namespace

SQLVTSCIdentifier *SQLVTSCSetFuncSpec::GetColumnName() {
  return argument_ && argument_->IsIdentifier() ? argument_->AsIdentifier() : nullptr;
}

void SQLVTSCSetFuncSpec::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SetFuncSpec(" << FunctionName(function_);
  if (argument_) {
    argument_->Log();
  } else {
    log << "*";
  }
  log << "))";
}

SQLVTSCValueExpr *SQLVTSCSetFuncSpec::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData,
                                                          int flags, SQLVTWhereUsedMgr *whereUsed,
                                                          bool inExpression) {
  if (flags & 32) {
    SQLVTThrow("42I90", "Set function specification used in set function specification", GetLineNumber());
  }
  if (argument_) SQLVTResolveOperand(&argument_, scope, treeData, flags | 32, whereUsed, inExpression);
  RefPtr<SQLVTSCValueExpr> argument(argument_.release());
  SQLVTColumnInfo info;
  scope->GetAggregateInfo(argument, function_, &info);
  auto *ref = new SQLVTSCColumnRef(info.levelOffset, info.position, info.descriptor);
  ref->SetLineNumber(GetLineNumber());
  delete this;
  return ref;
}
