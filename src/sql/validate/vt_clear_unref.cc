#include "sql/validate/vt_clear_unref.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTRetryFilter *SQLVTClearUnref::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTClearUnref::BuildRetryFilter() called");
}

SQLRowSource *SQLVTClearUnref::DoCreateRS() { SQLVTNotYetResolving("SQLVTClearUnref::DoCreateRS"); }

void SQLVTClearUnref::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTClearUnref(" << endl << incind;
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTClearUnref::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                                SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTClearUnref::MapColumnNamesToIds");
}
