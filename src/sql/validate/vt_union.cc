#include "sql/validate/vt_union.h"

#include "sql/common/sql_logger.h"
#include "sql/validate/vt_hints.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTUnion::SQLVTUnion(SQLVTNode *left, SQLVTNode *right, bool all) : left_(left), right_(right), all_(all) {}

SQLVTUnion::~SQLVTUnion() = default;

SQLVTRetryFilter *SQLVTUnion::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLVTThrow("42I74", "A RETRY clause cannot be used in a UNION query", GetLineNumber());
}

SQLRowSource *SQLVTUnion::DoCreateRS() { SQLVTNotYetResolving("SQLVTUnion::DoCreateRS"); }

SQLColumnDescriptor const *SQLVTUnion::GetColumnDescriptor(int) const {
  SQLVTNotYetResolving("SQLVTUnion::GetColumnDescriptor");
}

void SQLVTUnion::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTUnion(" << endl << incind << "All: " << all_ << endl;
  if (tracing && GetHints() != nullptr) GetHints()->Log();
  SQLVTLogChild("LeftChild:", left_.get());
  SQLVTLogChild("RightChild:", right_.get());
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTUnion::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                           SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTUnion::MapColumnNamesToIds");
}

void SQLVTUnion::ValidateTypes() const {
  left_->ValidateTypes();
  right_->ValidateTypes();
}

void SQLVTUnion::ValidateArrayUsage() const {
  left_->ValidateArrayUsage();
  right_->ValidateArrayUsage();
}

void SQLVTUnion::SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) {
  if (hints->NrElements() > 0) SQLVTThrow("42I76", "Index hint specified on UNION query", GetLineNumber());
}
