#include "sql/validate/vt_column_scope.h"

#include <cstring>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"

SQLVTColumnScopeLevel::SQLVTColumnScopeLevel(DynamicArray<SQLVTExposedColumn> *columns,
                                             SQLVTScopeLevel *inner, int *idMap)
    : columns_(columns), inner_(inner), idMap_(idMap) {}

SQLVTColumnScopeLevel::SQLVTColumnScopeLevel(DynamicArray<SQLVTExposedColumn> *columns)
    : SQLVTColumnScopeLevel(columns, nullptr, nullptr) {}

SQLVTColumnScopeLevel::~SQLVTColumnScopeLevel() = default;

void SQLVTColumnScopeLevel::Fill(int position, SQLVTColumnInfo *info) const {
  SQLVTExposedColumn const &c = columns_->Get(position);
  info->kind = SQLVTColumnInfo::Column;
  info->position = position;
  info->correlationName = c.GetExposedName();
  info->descriptor = c.GetDescriptor();
  info->compnrSet = c.GetCompnrSet();
  info->baseTable = c.GetBaseTable();
  info->baseTableName = c.GetBaseTableName();
  info->baseColumnName = c.GetBaseColumnName();
  info->nullSpec = c.GetNullSpec();
  info->SetClearUnrefKey(c.GetClearUnrefKey());
}

namespace {

bool Same(char const *a, char const *b) { return a && b && std::strcmp(a, b) == 0; }

}  // namespace

bool SQLVTColumnScopeLevel::GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  bool found = false;
  for (int i = 0; i < columns_->NrElements(); ++i) {
    SQLVTExposedColumn const &c = columns_->Get(i);
    if (!Same(c.GetDescriptor()->GetName(), name)) continue;
    if (q && !Same(c.GetExposedName(), q)) continue;
    if (found) {
      // The same base column selected twice under the same correlation name
      // is one column; the later position is used.
      bool same = c.GetExposedName()[0] != '\0' && Same(c.GetExposedName(), info->correlationName) &&
                  c.GetBaseTableName() && info->baseTableName && c.GetBaseColumnName() &&
                  info->baseColumnName && Same(c.GetBaseTableName(), info->baseTableName) &&
                  Same(c.GetBaseColumnName(), info->baseColumnName);
      if (!same) throw SQLVTAmbiguousColumn(q, name);
    }
    Fill(i, info);
    found = true;
  }
  if (!found) return GetPseudoColumnInfo(q, name, info);
  SQLVTColumnInfo scratch;
  if (GetPseudoColumnInfo(q, name, &scratch)) throw SQLVTAmbiguousColumn(q, name);
  return true;
}

bool SQLVTColumnScopeLevel::GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  if (!inner_ || !inner_->GetPseudoColumnInfo(q, name, info)) return false;
  for (int i = 0; i < info->count; ++i) {
    int mapped = idMap_[info->positions[i]];
    if (mapped == -1) return false;  // a member the select list does not carry
    info->positions[i] = mapped;
  }
  return true;
}

bool SQLVTColumnScopeLevel::GetGroupedTableColumnInfo(char const *, char const *, SQLVTColumnInfo *) {
  return false;
}

SQLColumnDescriptor const *SQLVTColumnScopeLevel::GetColumnDescriptor(int position) {
  return columns_->Get(position).GetDescriptor();
}

void SQLVTColumnScopeLevel::GetColumnInfoByPos(int position, SQLVTColumnInfo *info) { Fill(position, info); }

void SQLVTColumnScopeLevel::GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec,
                                              RefPtr<SQLVTClearUnrefKey> *key) {
  SQLVTExposedColumn const &c = columns_->Get(position);
  *nullSpec = c.GetNullSpec();
  *key = c.GetClearUnrefKey();
}

bool SQLVTColumnScopeLevel::GetTableInfo(char const *, SQLVTTableInfo *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTColumnScopeLevel::GetTableInfo() called");
}

void SQLVTColumnScopeLevel::GetTableInfoByPos(int, SQLVTTableInfo *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTColumnScopeLevel::GetTableInfoByPos() called");
}
