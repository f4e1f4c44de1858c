// The base-table node comes with the FROM clause of the validated tree; a
// build without it has no parse that can list a table, and refuses a tree
// data that nevertheless lists one with a clean error rather than running
// the statement without its company-number restrictions. The RETRY filter
// node likewise: a tree data that names one cannot be switched here.
#include "sql/statement/statement_tree_passes.h"

#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/validate/vtree_data.h"

#if __has_include("sql/validate/vt_table.h")
#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_table.h"

void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool ansi) {
  treeData->SimplifyTableCompnrSets();
  if (ansi) treeData->ValidateTableCompnrSets();
}
#else
void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool) {
  if (treeData->GetTables().NrElements() == 0) return;
  throw SQLException(sqlstate::kGeneral, 304,
                     SQLString("Company-number restrictions of base tables are not supported"));
}
#endif

void SQLStatementActivateRetryFilter(SQLVTRetryFilter *filter, bool) {
  if (filter == nullptr) return;
  throw SQLException(sqlstate::kGeneral, 304, SQLString("RETRY filters are not supported"));
}
