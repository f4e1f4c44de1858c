#include "sql/validate/vtsc_support.h"

#include <cctype>

#include "sql/common/sql_logger.h"
#include "sql/common/sql_string.h"
#include "sql/exec/row_source.h"
#include "sql/validate/vt_node.h"
#include "sql/common/sql_util.h"

void SQLVTThrow(char const *state, std::string const &message, int line) {
  throw SQLExSyntaxError(state, SQLString(message.c_str()), line);
}

void SQLVTThrowTypeConflict(char const *state, std::string const &prefix, SQLType asked, int line) {
  SQLVTThrow(state, prefix + ". Type " + SQLGetTypeName(asked) + " expected", line);
}

void SQLVTLowerCase(unsigned char *to, unsigned char const *from, std::size_t n) {
  constexpr unsigned char kTssLead = 0x9B;
  std::size_t i = 0;
  while (i < n) {
    if (from[i] == kTssLead) {
      for (std::size_t k = 0; k < 4 && i < n; ++k, ++i) to[i] = from[i];
      continue;
    }
    to[i] = static_cast<unsigned char>(std::tolower(from[i]));
    ++i;
  }
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

namespace {

thread_local int g_localTrees = 0;  // second trees being made on this thread

}  // namespace

SQLRowSource *SQLVTCreateLocalRS(SQLVTNode *subquery) {
  if (g_localTrees > 0) return nullptr;
  struct Making {
    Making() { ++g_localTrees; }
    ~Making() { --g_localTrees; }
  } making;
  return subquery->CreateRS();
}
