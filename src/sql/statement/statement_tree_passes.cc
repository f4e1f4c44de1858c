// The base-table and retry-filter node classes are not part of this build:
// no parse can put such a node into a tree yet, so the passes have nothing
// to act on. A tree data that nevertheless lists a table or a filter is
// refused with a clean error rather than run without its restrictions.
#include "sql/statement/statement_tree_passes.h"

#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/validate/vtree_data.h"

void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool) {
  if (treeData->GetTables().NrElements() == 0) return;
  throw SQLException(sqlstate::kGeneral, 304,
                     SQLString("Company-number restrictions of base tables are not supported"));
}

void SQLStatementActivateRetryFilter(SQLVTRetryFilter *filter, bool) {
  if (filter == nullptr) return;
  throw SQLException(sqlstate::kGeneral, 304, SQLString("RETRY filters are not supported"));
}
