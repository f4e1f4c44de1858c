#include "sql/validate/vt_prepare.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_materialize.h"
#include "sql/validate/vtsc_support.h"

SQLVTRetryFilter *SQLVTPrepare::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTPrepare::BuildRetryFilter() called");
}

SQLRowSource *SQLVTPrepare::DoCreateRS() {
  std::unique_ptr<SQLRowSource> child(GetChild()->CreateRS());
  return new SQLRSPrepare(child.release());
}

void SQLVTPrepare::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTPrepare(" << endl << incind;
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTPrepare::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             List<char const *> *restrictedQualifiers,
                                             SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed));
  return this;
}
