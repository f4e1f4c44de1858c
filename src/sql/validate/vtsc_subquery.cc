#include "sql/validate/vtsc_subquery.h"

#include <memory>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCScalarSubquery::SQLVTSCScalarSubquery(SQLVTNode *query) : query_(query) {}

SQLVTSCScalarSubquery::~SQLVTSCScalarSubquery() = default;

SQLVTSCValueExpr *SQLVTSCScalarSubquery::Cast(SQLType type, bool) {
  SQLType own = query_->GetColumnDescriptor(0)->GetType();
  if (own != type && !(type == SQL_REAL && own == SQL_INTEGER)) {
    SQLVTThrow("42T19", std::string("Invalid type ") + SQLGetTypeName(type) + " for scalar subquery",
               GetLineNumber());
  }
  return this;
}

// The second tree answers here when the first, shipped with its outer
// values, would cost an exchange per value (see SQLRSLocalSubquery).
SQLRSSCValueExpr *SQLVTSCScalarSubquery::CreateRS() {
  std::unique_ptr<SQLRowSource> rows(query_->CreateRS());
  std::unique_ptr<SQLRowSource> local(SQLVTCreateLocalRS(query_.get()));
  return new SQLRSSCScalarSubquery(rows.release(), local.release());
}

void SQLVTSCScalarSubquery::GetPossibleTypes(SQLTypeSet *types) {
  types->Insert(query_->GetColumnDescriptor(0)->GetType());
}

int SQLVTSCScalarSubquery::GetDepth() const { return query_->GetColumnDescriptor(0)->GetDepth(); }

void SQLVTSCScalarSubquery::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ScalarSubquery(";
  query_->Log();
  log << ")";
}

void SQLVTSCScalarSubquery::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCScalarSubquery::MapColumnIds() called");
}

SQLVTSCValueExpr *SQLVTSCScalarSubquery::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData,
                                                             int flags, SQLVTWhereUsedMgr *whereUsed, bool) {
  if (flags & 32) {
    SQLVTThrow("42I90", "Subquery used in set function specification", query_->GetLineNumber());
  }
  SQLVTNode *resolved = query_->MapColumnNamesToIds(scope, treeData, flags & 24, nullptr, whereUsed);
  if (resolved != nullptr && resolved != query_.get()) {
    // The new node has taken the old one over.
    static_cast<void>(query_.release());
    query_.reset(resolved);
  }
  delete scope->Pop();
  if (query_->GetNumCols() != 1) {
    SQLVTThrow("42I25", "SELECT clause of scalar subquery contains more than 1 item", query_->GetLineNumber());
  }
  return this;
}

void SQLVTSCScalarSubquery::ValidateTypes() const { query_->ValidateTypes(); }

void SQLVTSCScalarSubquery::ValidateArrayUsage() const { query_->ValidateArrayUsage(); }
