// SQLVTClearUnref: the top of a SELECT whose REFERS TO joins may leave
// columns without a referred row; it rewrites such columns of every row as
// the predicates' unref modes ask (empty values or unreferenced marks).
#pragma once

#include "sql/validate/vt_unary_node.h"

class SQLVTClearUnref : public SQLVTUnaryNode {
 public:
  // Takes ownership of child.
  explicit SQLVTClearUnref(SQLVTNode *child) : SQLVTUnaryNode(child) {}

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  // The number of result columns taken at name resolution; 0 before.
  int GetNumCols() const override { return numCols_; }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;

 private:
  int numCols_ = 0;
};
