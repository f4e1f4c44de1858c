// SQLVTFilter: a WHERE or HAVING condition over its child.
#pragma once

#include <memory>

#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vt_unary_node.h"

class SQLVTFilter : public SQLVTUnaryNode {
 public:
  // Takes ownership of child and condition.
  SQLVTFilter(SQLVTNode *child, SQLVTSCSearchCond *condition);
  ~SQLVTFilter() override;

  SQLVTSCSearchCond *GetCondition() const { return condition_.get(); }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsGroupByQuery() override { return GetChild()->IsGroupByQuery(); }

 private:
  std::unique_ptr<SQLVTSCSearchCond> condition_;
};
