// What the FROM-clause tests share: an environment root over the fixture
// dictionary (exemp010, exdep010, ttaud110, tttxt010) with table
// definitions, the parse of a SELECT whose FROM clause alone is resolved,
// and the normalised trace of a tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtree_data.h"
#include "support/test_env.h"
#include "support/vt_trace.h"

namespace molvane::test {

class FromClauseTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Parses text (parse mode `mode`) and resolves its FROM clause (the rest
  // of the statement stays unresolved in root_). The scope keeps the
  // clause's level in scope_. The tree belongs to the test.
  std::unique_ptr<SQLVTNode> Resolve(std::string const &text, int mode = 0, int flags = 1,
                                     SQLVTWhereUsedMgr *whereUsed = nullptr);
  // The SQLSTATE and message of a Resolve that must fail ("none" when it
  // does not).
  std::string ErrorOf(std::string const &text, int mode = 0, int flags = 1);

  ScratchDir root_;
  std::unique_ptr<SQLVTreeData> treeData_;
  std::unique_ptr<SQLVTNode> statement_;  // the parsed statement without its FROM clause
  std::unique_ptr<SQLVTScope> scope_;
};

// A tree trace without the lines that every table shows alike (number,
// FOR UPDATE flag, an unrestricted company set, schema): the shape of the
// tree, its join types, table names and conditions.
std::string Compact(SQLVTNode const *node);

}  // namespace molvane::test
