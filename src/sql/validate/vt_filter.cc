#include "sql/validate/vt_filter.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTFilter::SQLVTFilter(SQLVTNode *child, SQLVTSCSearchCond *condition)
    : SQLVTUnaryNode(child), condition_(condition) {}

SQLVTFilter::~SQLVTFilter() = default;

SQLVTRetryFilter *SQLVTFilter::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTFilter::BuildRetryFilter() called");
}

SQLRowSource *SQLVTFilter::DoCreateRS() { SQLVTNotYetResolving("SQLVTFilter::DoCreateRS"); }

void SQLVTFilter::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTFilter(" << endl << incind << "SearchCond: ";
  condition_->Log();
  if (tracing) log << endl;
  LogHintsAndChild("Child: ");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTFilter::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                            SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTFilter::MapColumnNamesToIds");
}

void SQLVTFilter::ValidateTypes() const {
  GetChild()->ValidateTypes();
  condition_->ValidateTypes();
}

void SQLVTFilter::ValidateArrayUsage() const {
  GetChild()->ValidateArrayUsage();
  condition_->ValidateArrayUsage();
}
