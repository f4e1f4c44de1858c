#include "sql/validate/vt_derived_scope.h"

#include "sql/validate/vt_state.h"

SQLVTDerivedTableScopeLevel::SQLVTDerivedTableScopeLevel(SQLVTScopeLevel *inner, char const *correlationName)
    : inner_(inner), correlationName_(correlationName) {}

SQLVTDerivedTableScopeLevel::~SQLVTDerivedTableScopeLevel() = default;

bool SQLVTDerivedTableScopeLevel::GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  if (q && correlationName_ != q) return false;
  if (!inner_->GetColumnInfo(nullptr, name, info)) return false;
  if (info->kind == SQLVTColumnInfo::PseudoColumn) return false;
  info->correlationName = correlationName_.c_str();
  return true;
}

bool SQLVTDerivedTableScopeLevel::GetGroupedTableColumnInfo(char const *q, char const *name,
                                                            SQLVTColumnInfo *info) {
  if (GetColumnInfo(q, name, info)) {
    throw SQLExSyntaxError(vtstate::kAggregateNotGrouped,
                           SQLString("Aggregate function applied to column '") + SQLVTColumnText(q, name) +
                               SQLString("', which is not a column of a grouped table."),
                           0);
  }
  return false;
}

SQLColumnDescriptor const *SQLVTDerivedTableScopeLevel::GetColumnDescriptor(int position) {
  return inner_->GetColumnDescriptor(position);
}

void SQLVTDerivedTableScopeLevel::GetColumnInfoByPos(int position, SQLVTColumnInfo *info) {
  inner_->GetColumnInfoByPos(position, info);
  info->correlationName = correlationName_.c_str();
}

void SQLVTDerivedTableScopeLevel::GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec,
                                                    RefPtr<SQLVTClearUnrefKey> *key) {
  inner_->GetColumnNullSpec(position, nullSpec, key);
}

bool SQLVTDerivedTableScopeLevel::GetTableInfo(char const *name, SQLVTTableInfo *info) {
  if (correlationName_ != name) return false;
  GetTableInfoByPos(0, info);
  return true;
}

void SQLVTDerivedTableScopeLevel::GetTableInfoByPos(int, SQLVTTableInfo *info) {
  info->table = nullptr;
  info->tableNode = nullptr;
  info->compnrSet = nullptr;
  info->derivedLevel = this;
  info->columnOffset = 0;
  info->grouped = 0;
  info->nullSpec = SQL_NULLSPEC_NONE;
  info->SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey>());
}
