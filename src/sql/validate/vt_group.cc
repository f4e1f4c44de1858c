#include "sql/validate/vt_group.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTGroup::SQLVTGroup(SQLVTNode *child, pSQLVTSCIdentifierDelArray *identifiers, bool definitive)
    : SQLVTUnaryNode(child), identifiers_(identifiers), groupColumnIds_(10), specs_(10), definitive_(definitive) {}

SQLVTGroup::~SQLVTGroup() = default;

bool SQLVTGroup::IsGroupCol(int id) const {
  for (int i = 0; i < groupColumnIds_.NrElements(); ++i) {
    if (groupColumnIds_.Get(i) == id) return true;
  }
  return false;
}

int SQLVTGroup::FindOrAddGroupSpec(SQLVTGroupSpec const &) {
  SQLVTNotYetResolving("SQLVTGroup::FindOrAddGroupSpec");
}

SQLVTRetryFilter *SQLVTGroup::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTGroup::BuildRetryFilter() called");
}

SQLRowSource *SQLVTGroup::DoCreateRS() { SQLVTNotYetResolving("SQLVTGroup::DoCreateRS"); }

SQLColumnDescriptor const *SQLVTGroup::GetColumnDescriptor(int) const {
  SQLVTNotYetResolving("SQLVTGroup::GetColumnDescriptor");
}

void SQLVTGroup::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (!tracing) return;
  log << "VTGroup(" << endl << incind << "Definitive: " << definitive_ << endl << "GroupColumns:";
  if (identifiers_) {
    log << " ";
    identifiers_->Log();
  }
  log << endl << "GroupColIds:";
  for (int i = 0; i < groupColumnIds_.NrElements(); ++i) log << (i == 0 ? " " : ", ") << groupColumnIds_.Get(i);
  log << endl << "GroupSpec:" << endl << incind;
  for (int i = 0; i < specs_.NrElements(); ++i) {
    specs_.Get(i).Log();
    log << endl;
  }
  log << decind;
  LogHintsAndChild("Child:");
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTGroup::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                           SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTGroup::MapColumnNamesToIds");
}

SQLVTNode *SQLVTGroup::RemoveNotDefinitiveGroupNode() {
  if (definitive_) return this;
  SQLVTNode *child = ExtractChild();
  delete this;
  return child;
}

void SQLVTGroup::ValidateTypes() const { SQLVTNotYetResolving("SQLVTGroup::ValidateTypes"); }

void SQLVTGroup::ValidateArrayUsage() const { SQLVTNotYetResolving("SQLVTGroup::ValidateArrayUsage"); }
