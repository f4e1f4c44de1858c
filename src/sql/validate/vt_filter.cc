#include "sql/validate/vt_filter.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_filter.h"
#include "sql/validate/vtsc_support.h"

SQLVTFilter::SQLVTFilter(SQLVTNode *child, SQLVTSCSearchCond *condition)
    : SQLVTUnaryNode(child), condition_(condition) {}

SQLVTFilter::~SQLVTFilter() = default;

SQLVTRetryFilter *SQLVTFilter::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTFilter::BuildRetryFilter() called");
}

SQLRowSource *SQLVTFilter::DoCreateRS() {
  std::unique_ptr<SQLRowSource> child(GetChild()->CreateRS());
  std::unique_ptr<SQLRSSCSearchCond> condition(condition_->CreateRS());
  return new SQLRSFilter(child.release(), condition.release());
}

void SQLVTFilter::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTFilter(" << endl << incind << "SearchCond: ";
  condition_->Log();
  if (tracing) log << endl;
  LogHintsAndChild("Child: ");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTFilter::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            List<char const *> *restrictedQualifiers,
                                            SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed));
  condition_->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  return this;
}

void SQLVTFilter::ValidateTypes() const {
  GetChild()->ValidateTypes();
  condition_->ValidateTypes();
}

void SQLVTFilter::ValidateArrayUsage() const {
  GetChild()->ValidateArrayUsage();
  condition_->ValidateArrayUsage();
}
