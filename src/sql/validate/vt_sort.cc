#include "sql/validate/vt_sort.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

void SQLVTSortSpec::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SortSpec(";
  if (column_) {
    column_->Log();
  } else {
    log << position_;
  }
  log << (order_ == SQL_SORT_DESC ? ", DESCENDING)" : ", ASCENDING)");
}

SQLVTSortSpecList::~SQLVTSortSpecList() {
  for (int i = specs_.NrElements() - 1; i >= 0; --i) delete specs_.Get(i);
}

void SQLVTSortSpecList::Append(SQLVTSortSpec *spec) {
  std::unique_ptr<SQLVTSortSpec> owned(spec);  // deleted when the append fails
  specs_.Insert(spec);
  owned.release();
}

SQLVTSort::SQLVTSort(SQLVTNode *child, SQLVTSortSpecList *specs) : SQLVTUnaryNode(child), specs_(specs) {}

SQLVTSort::~SQLVTSort() = default;

SQLVTRetryFilter *SQLVTSort::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSort::BuildRetryFilter() called");
}

SQLRowSource *SQLVTSort::DoCreateRS() { SQLVTNotYetResolving("SQLVTSort::DoCreateRS"); }

void SQLVTSort::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTSort(" << endl << incind << "SortSpecs:" << endl << incind;
  if (specs_) {
    for (int i = 0; i < specs_->NrElements(); ++i) {
      specs_->Get(i)->Log();
      if (tracing) log << endl;
    }
    if (tracing && specs_->GetRetryClauseType() != SQL_RETRY_NONE) {
      log << "RetryClause: " << static_cast<int>(specs_->GetRetryClauseType()) << endl;
    }
  }
  if (tracing) log << decind;
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTSort::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                          SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTSort::MapColumnNamesToIds");
}

void SQLVTSort::ValidateArrayUsage() const { SQLVTNotYetResolving("SQLVTSort::ValidateArrayUsage"); }
