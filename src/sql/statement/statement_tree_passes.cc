// Statement steps that reach into particular node classes of the validated
// tree. The RETRY filter node comes with the statement nodes; until then a
// tree data that names one is refused with a clean error.
#include "sql/statement/statement_tree_passes.h"

#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/validate/vtree_data.h"

#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_table.h"

void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool ansi) {
  treeData->SimplifyTableCompnrSets();
  if (ansi) treeData->ValidateTableCompnrSets();
}

void SQLStatementActivateRetryFilter(SQLVTRetryFilter *filter, bool) {
  if (filter == nullptr) return;
  throw SQLException(sqlstate::kGeneral, 304, SQLString("RETRY filters are not supported"));
}
