// SQLVTPrepare: materialises its child's result (AS PREPARED SET).
#pragma once

#include "sql/validate/vt_unary_node.h"

class SQLVTPrepare : public SQLVTUnaryNode {
 public:
  // Takes ownership of child.
  explicit SQLVTPrepare(SQLVTNode *child) : SQLVTUnaryNode(child) {}

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  void Log() const override;
  // The child's resolution, which replaces the child.
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
};
