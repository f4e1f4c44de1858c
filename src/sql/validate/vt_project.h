// SQLVTProject: the node of a query specification's select list, over the
// FROM/WHERE part or the group. Name resolution turns the parser's select
// items into the projection's result columns.
#pragma once

#include <memory>

#include "sql/validate/select_list.h"
#include "sql/validate/vt_unary_node.h"

class SQLVTProject : public SQLVTUnaryNode {
 public:
  // Takes ownership of child and selectList.
  SQLVTProject(SQLVTNode *child, SQLVTSelectList *selectList);
  ~SQLVTProject() override;

  // The select list as parsed; null once name resolution has consumed it.
  SQLVTSelectList *GetSelectList() const { return selectList_.get(); }

  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  // The result columns exist only after name resolution.
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  // The number of result columns: 0 until names are resolved.
  int GetNumCols() const override { return 0; }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsGroupByQuery() override { return GetChild()->IsGroupByQuery(); }

 private:
  std::unique_ptr<SQLVTSelectList> selectList_;
};
