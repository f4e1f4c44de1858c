#include "sql/validate/vtsc_support.h"

#include "sql/common/sql_logger.h"
#include "sql/common/sql_string.h"
#include "sql/common/sql_util.h"

void SQLVTThrow(char const *state, std::string const &message, int line) {
  throw SQLExSyntaxError(state, SQLString(message.c_str()), line);
}

void SQLVTThrowTypeConflict(char const *state, std::string const &prefix, SQLType asked, int line) {
  SQLVTThrow(state, prefix + ". Type " + SQLGetTypeName(asked) + " expected", line);
}

bool SQLVTTracing() { return SQLLogger::Instance()->LogFlagIsSet(SQLLogger::Always); }

void SQLVTResolveOperand(std::unique_ptr<SQLVTSCValueExpr> *operand, SQLVTScope *scope,
                         SQLVTreeData *treeData, int flags, SQLVTWhereUsedMgr *whereUsed,
                         bool inExpression) {
  SQLVTSCValueExpr *old = operand->get();
  SQLVTSCValueExpr *result = old->MapColumnNamesToIds(scope, treeData, flags, whereUsed, inExpression);
  if (result == nullptr || result == old) return;
  operand->release();  // deleted by its own resolution
  operand->reset(result);
}

void SQLVTCastOperand(std::unique_ptr<SQLVTSCValueExpr> *operand, SQLType type, bool tolerant) {
  SQLVTSCValueExpr *old = operand->get();
  SQLVTSCValueExpr *result = old->Cast(type, tolerant);
  if (result == nullptr || result == old) return;
  operand->release();  // deleted by Cast, or owned by the result
  operand->reset(result);
}

bool SQLVTSameOperand(SQLVTSCValueExpr const *a, SQLVTSCValueExpr const *b) {
  return a == b || (a != nullptr && b != nullptr && a->IsSameValueExpr2(b));
}
