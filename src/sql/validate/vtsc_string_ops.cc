#include "sql/validate/vtsc_string_ops.h"

#include "sql/common/sql_logger.h"
#include "sql/exec/sc_indexing.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

namespace {

// The first operand that resolved to a combined column is refused.
void RefuseCombined(SQLVTSCValueExpr *operand, char const *tail, int line) {
  if (operand != nullptr && operand->IsPseudoColumnRef()) {
    SQLVTThrow("42I09",
               std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(operand)->GetName() + tail,
               line);
  }
}

}  // namespace

SQLVTSCValueExpr *SQLVTSCIndexing::Cast(SQLType type, bool tolerant) {
  SQLTypeSet types = array_->GetPossibleTypeSet();
  if ((tolerant && types.ContainsSubType(type)) || types.Contains(type)) {
    SQLVTCastOperand(&index_, SQL_INTEGER, true);
    return this;
  }
  SQLVTThrowTypeConflict("42T10", "Type conflict on indexing expression", type, GetLineNumber());
}

SQLVTSCValueExpr *SQLVTSCIndexing::Copy() {
  std::unique_ptr<SQLVTSCValueExpr> array(array_->Copy());
  std::unique_ptr<SQLVTSCValueExpr> index(index_->Copy());
  if (!array || !index) return nullptr;
  return new SQLVTSCIndexing(array.release(), index.release());
}

SQLRSSCValueExpr *SQLVTSCIndexing::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> array(array_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> index(index_->CreateRS());
  return new SQLRSSCIndexing(array.release(), index.release());
}

void SQLVTSCIndexing::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Indexing(";
  array_->Log();
  log << ",";
  index_->Log();
  log << ")";
}

void SQLVTSCIndexing::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  array_->MapColumnIds(level, mappings);
  index_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCIndexing::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                       SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&array_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&index_, scope, treeData, flags, whereUsed, false);
  RefuseCombined(array_.get(), "' in indexing expression", GetLineNumber());
  RefuseCombined(index_.get(), "' in indexing expression", GetLineNumber());
  return this;
}

void SQLVTSCIndexing::ValidateTypes() const {
  index_->ValidateTypes();
  if (!index_->GetPossibleTypeSet().Contains(SQL_INTEGER)) {
    SQLVTThrow("42T07", "Invalid type for array index. Expextected type INTEGER", GetLineNumber());
  }
}

void SQLVTSCIndexing::ValidateArrayUsage() const {
  index_->ValidateArrayUsage();
  if (array_->GetDepth() == 1) {
    SQLVTThrow("42I06", "Array indexing operator applied to non array column", GetLineNumber());
  }
}

bool SQLVTSCIndexing::IsSameIndexing(SQLVTSCIndexing const *other) const {
  return SQLVTSameOperand(array_.get(), other->array_.get()) && SQLVTSameOperand(index_.get(), other->index_.get());
}
