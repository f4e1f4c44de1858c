#include "sql/validate/vt_project.h"

#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTProject::SQLVTProject(SQLVTNode *child, SQLVTSelectList *selectList)
    : SQLVTUnaryNode(child), selectList_(selectList) {}

SQLVTProject::~SQLVTProject() = default;

SQLVTRetryFilter *SQLVTProject::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLVTNotYetResolving("SQLVTProject::BuildRetryFilter");
}

SQLRowSource *SQLVTProject::DoCreateRS() { SQLVTNotYetResolving("SQLVTProject::DoCreateRS"); }

SQLColumnDescriptor const *SQLVTProject::GetColumnDescriptor(int) const {
  SQLVTNotYetResolving("SQLVTProject::GetColumnDescriptor");
}

void SQLVTProject::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTProject(" << endl << incind;
  if (selectList_) {
    if (tracing) {
      log << "SelectList:";
      if (selectList_->GetContainsAggregate()) log << " (aggregate)";
      if (selectList_->GetContainsNonCountAggregate()) log << " (non-COUNT aggregate)";
      log << endl << incind;
    }
    for (int i = 0; i < selectList_->NrItems(); ++i) {
      selectList_->GetItem(i)->Log();
      if (tracing) log << endl;
    }
    if (tracing) log << decind;
  }
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTProject::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                             SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTProject::MapColumnNamesToIds");
}

void SQLVTProject::ValidateTypes() const { SQLVTNotYetResolving("SQLVTProject::ValidateTypes"); }

void SQLVTProject::ValidateArrayUsage() const { SQLVTNotYetResolving("SQLVTProject::ValidateArrayUsage"); }
