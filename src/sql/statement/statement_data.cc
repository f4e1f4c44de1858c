#include "sql/statement/statement_data.h"

#include <utility>

SQLStatementData::SQLStatementData(unsigned long id, int mode)
    : id_(id),
      mode_(mode),
      treeData_(SQLVTNoOwner<SQLVTreeData>()),
      root_(SQLVTNoOwner<SQLVTNode>()) {}

SQLStatementData::~SQLStatementData() {
  // The execution trees and the validated tree refer to the tree data's
  // parameters, so the tree data goes last.
  root_.reset();
  execTrees_.Clear();
  treeData_.reset();
}

std::unique_ptr<SQLExecTree> SQLStatementData::GetExecTree(ShortArray const &id) {
  return execTrees_.Get(id);
}

void SQLStatementData::RecycleExecTree(std::unique_ptr<ShortArray> id,
                                       std::unique_ptr<SQLExecTree> tree) noexcept {
  execTrees_.Recycle(std::move(id), std::move(tree));
}
