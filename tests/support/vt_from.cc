#include "support/vt_from.h"

#include <stdexcept>

#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_unary_node.h"

namespace molvane::test {

std::unique_ptr<SQLVTNode> ResolveFromClause(SQLVTNode *statement, SQLVTreeData *treeData, SQLVTScope *scope,
                                             int flags, SQLVTWhereUsedMgr *whereUsed) {
  auto *parent = dynamic_cast<SQLVTUnaryNode *>(statement);
  while (parent != nullptr && dynamic_cast<SQLVTMultiJoin *>(parent->GetChild()) == nullptr)
    parent = dynamic_cast<SQLVTUnaryNode *>(parent->GetChild());
  if (parent == nullptr) throw std::logic_error("no FROM clause under the statement's nodes");
  std::unique_ptr<SQLVTNode> from(parent->ExtractChild());
  std::unique_ptr<SQLVTNode> tree(from->MapColumnNamesToIds(scope, treeData, flags, nullptr, whereUsed));
  static_cast<void>(from.release());  // replaced by the tree, which deleted it
  return tree;
}

}  // namespace molvane::test
