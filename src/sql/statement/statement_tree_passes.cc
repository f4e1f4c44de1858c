// Statement steps that reach into particular node classes of the validated
// tree: the company-number passes over the base tables and the switch of
// the RETRY filter.
#include "sql/statement/statement_tree_passes.h"

#include "sql/validate/vtree_data.h"

#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_retry_filter.h"
#include "sql/validate/vt_table.h"

void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool ansi) {
  treeData->SimplifyTableCompnrSets();
  if (ansi) treeData->ValidateTableCompnrSets();
}

void SQLStatementActivateRetryFilter(SQLVTRetryFilter *filter, bool active) {
  if (filter != nullptr) filter->SetActive(active);
}
