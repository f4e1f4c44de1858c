// SQLVTUnion: UNION ALL (or UNION) of two queries.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"

#include "sql/validate/vt_node.h"

class SQLVTUnion : public SQLVTNode {
 public:
  // Takes ownership of left and right.
  SQLVTUnion(SQLVTNode *left, SQLVTNode *right, bool all);
  ~SQLVTUnion() override;

  SQLVTNode *GetLeft() const { return left_.get(); }
  SQLVTNode *GetRight() const { return right_.get(); }
  bool IsAll() const { return all_; }

  // 42I74 "A RETRY clause cannot be used in a UNION query".
  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  // The union's own descriptors exist only after name resolution.
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  int GetNumCols() const override { return left_->GetNumCols(); }
  bool IsForUpdate() override { return false; }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  // 42I76 "Index hint specified on UNION query" when the list holds a hint.
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override;
  bool IsGroupByQuery() override { return false; }

 private:
  // The result descriptors of the two queries' columns; 42T21 or 42T22 on
  // a column whose types or array depths do not match.
  void MakeDescriptors();

  std::unique_ptr<SQLVTNode> left_;
  std::unique_ptr<SQLVTNode> right_;
  bool all_;
  std::vector<std::unique_ptr<SQLColumnDescriptor>> descriptors_;  // empty until resolved
};
