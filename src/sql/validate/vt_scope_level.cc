#include "sql/validate/vt_scope_level.h"

#include "sql/validate/vt_state.h"
#include "sql/validate/vt_value_expr.h"

SQLVTScopeLevel::~SQLVTScopeLevel() = default;

SQLString SQLVTColumnText(char const *q, char const *name) {
  SQLString text;
  if (q) text = SQLString(q) + SQLString(".");
  return text + SQLString(name);
}

SQLExSyntaxError SQLVTAmbiguousColumn(char const *q, char const *name) {
  return SQLExSyntaxError(vtstate::kAmbiguousColumn,
                          SQLString("Ambiguous column reference '") + SQLVTColumnText(q, name) + SQLString("'"),
                          0);
}

void SQLVTScopeLevel::GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec,
                                       SQLVTColumnInfo *) {
  if (!argument) {
    throw SQLExSyntaxError(vtstate::kAggregateNotGrouped,
                           SQLString("COUNT(*) cannot be applied to a non grouped query'"), 0);
  }
  throw SQLExSyntaxError(vtstate::kAggregateNotGrouped,
                         SQLString("Aggregate function cannot be applied to a non grouped query'"),
                         argument->GetLineNumber());
}

SQLVTSCCompnrSet const *SQLVTScopeLevel::GetCompnrSetForQualif(char const *q, bool ansiName) {
  char const *pseudo = ansiName ? "company_nr" : "_compnr";
  SQLVTColumnInfo column;
  if (q) {
    SQLVTTableInfo table;
    if (!GetTableInfo(q, &table)) return nullptr;
    if (table.table) return table.compnrSet;
    return GetColumnInfo(q, pseudo, &column) ? column.compnrSet : nullptr;
  }
  SQLVTSCCompnrSet const *set = nullptr;
  bool taken = false;
  if (GetColumnInfo(nullptr, pseudo, &column)) {
    set = column.compnrSet;
    taken = true;
  }
  for (int i = 0; i < GetNumTables(); ++i) {
    SQLVTTableInfo table;
    GetTableInfoByPos(i, &table);
    if (table.table == nullptr) continue;
    // The set found by name may be this very table's: that is no ambiguity.
    if (taken && table.compnrSet != set) throw SQLVTAmbiguousColumn(nullptr, "_compnr");
    set = table.compnrSet;
    taken = true;
  }
  return set;
}
