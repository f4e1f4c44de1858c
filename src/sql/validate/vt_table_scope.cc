#include "sql/validate/vt_table_scope.h"

#include <cstring>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_schema.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_state.h"

SQLVTTableScopeLevel::SQLVTTableScopeLevel(bool pseudoColumnsVisible)
    : tables_(10), pseudoColumnsVisible_(pseudoColumnsVisible) {
  positions_.reserve(10);
}

SQLVTTableScopeLevel::~SQLVTTableScopeLevel() = default;

void SQLVTTableScopeLevel::AppendExposedTable(SQLVTExposedTable const &table) {
  tables_.Insert(table);
  int end = table.GetColumnOffset() + table.GetNumCols();
  if (end > numCols_) numCols_ = end;
}

bool SQLVTTableScopeLevel::FillColumn(SQLVTExposedTable const &t, char const *name,
                                      SQLVTColumnInfo *info) const {
  int id = t.GetSchema()->GetColumnId(name);
  if (id == -1) return false;
  SQLColumnDescriptor const *descriptor = t.GetNode()->GetColumnDescriptor(id);
  info->kind = SQLVTColumnInfo::Column;
  info->position = t.GetColumnOffset() + id;
  info->correlationName = t.GetCorrelationName();
  info->pseudoColumnName = nullptr;
  info->descriptor = descriptor;
  info->compnrSet = t.GetCompnrSet();
  info->baseTable = t.GetTable();
  info->baseTableName = t.GetName();
  info->baseColumnName = descriptor->GetName();
  info->nullSpec = t.GetNullSpec();
  info->SetClearUnrefKey(t.GetClearUnrefKey());
  return true;
}

bool SQLVTTableScopeLevel::FillPseudoColumn(SQLVTExposedTable const &t, char const *name,
                                            SQLVTColumnInfo *info) {
  intList const *ids = t.GetSchema()->GetPseudoColByName(name);
  if (ids == nullptr) return false;
  // The schema is shared: walk a copy of its list, not its cursor.
  intList walk(*ids);
  positions_.clear();
  for (bool more = walk.First(); more; more = walk.Next())
    positions_.push_back(walk.GetCurrent() + t.GetColumnOffset());
  info->kind = SQLVTColumnInfo::PseudoColumn;
  info->correlationName = t.GetCorrelationName();
  info->pseudoColumnName = name;
  info->count = static_cast<int>(positions_.size());
  info->positions = positions_.data();
  info->descriptor = nullptr;
  info->compnrSet = t.GetCompnrSet();
  info->baseTable = t.GetTable();
  info->baseTableName = t.GetName();
  info->baseColumnName = nullptr;
  info->nullSpec = t.GetNullSpec();
  info->SetClearUnrefKey(t.GetClearUnrefKey());
  return true;
}

bool SQLVTTableScopeLevel::Find(char const *q, char const *name, SQLVTColumnInfo *info, bool columns) {
  bool found = false;
  for (int i = 0; i < tables_.NrElements(); ++i) {
    SQLVTExposedTable const &t = tables_.Get(i);
    if (q && std::strcmp(t.GetCorrelationName(), q) != 0) continue;
    SQLVTColumnInfo scratch;
    SQLVTColumnInfo *into = found ? &scratch : info;  // a second hit only proves ambiguity
    bool here = (columns && FillColumn(t, name, into)) ||
                (pseudoColumnsVisible_ && FillPseudoColumn(t, name, into));
    if (here) {
      if (found) throw SQLVTAmbiguousColumn(q, name);
      found = true;
    }
    if (q) break;  // correlation names are unique within a level
  }
  return found;
}

bool SQLVTTableScopeLevel::GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  return Find(q, name, info, true);
}

bool SQLVTTableScopeLevel::GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  return Find(q, name, info, false);
}

bool SQLVTTableScopeLevel::GetGroupedTableColumnInfo(char const *q, char const *name,
                                                     SQLVTColumnInfo *info) {
  if (GetColumnInfo(q, name, info)) {
    throw SQLExSyntaxError(vtstate::kAggregateNotGrouped,
                           SQLString("Aggregate function applied to column '") + SQLVTColumnText(q, name) +
                               SQLString("', which is not a column of a grouped table."),
                           0);
  }
  return false;
}

SQLColumnDescriptor const *SQLVTTableScopeLevel::GetColumnDescriptor(int position) {
  for (int i = 0; i < tables_.NrElements(); ++i) {
    SQLVTExposedTable const &t = tables_.Get(i);
    int offset = t.GetColumnOffset();
    if (offset <= position && position < offset + t.GetNumCols())
      return t.GetNode()->GetColumnDescriptor(position - offset);
  }
  return nullptr;
}

bool SQLVTTableScopeLevel::GetTableInfo(char const *name, SQLVTTableInfo *info) {
  for (int i = 0; i < tables_.NrElements(); ++i) {
    if (std::strcmp(tables_.Get(i).GetCorrelationName(), name) == 0) {
      GetTableInfoByPos(i, info);
      return true;
    }
  }
  return false;
}

void SQLVTTableScopeLevel::GetTableInfoByPos(int position, SQLVTTableInfo *info) {
  SQLVTExposedTable const &t = tables_.Get(position);
  info->table = t.GetTable();
  info->tableNode = t.GetNode();
  info->compnrSet = t.GetCompnrSet();
  info->derivedLevel = nullptr;
  info->columnOffset = t.GetColumnOffset();
  info->grouped = 0;
  info->nullSpec = t.GetNullSpec();
  info->SetClearUnrefKey(t.GetClearUnrefKey());
}

void SQLVTTableScopeLevel::GetColumnInfoByPos(int, SQLVTColumnInfo *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTableScopeLevel::GetColumnInfoByPos() called");
}

void SQLVTTableScopeLevel::GetColumnNullSpec(int, SQLVTNullSpec *, RefPtr<SQLVTClearUnrefKey> *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTableScopeLevel::GetColumnNullSpec() called");
}
