// What the parser tests share: an environment root over the fixture
// dictionary (tables exemp010, exdep010, ttaud110, tttxt010), parsing with
// the validated-tree trace captured, and error checks.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sql/common/sql_exception.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vtree_data.h"
#include "support/vt_trace.h"

namespace molvane::test {

class ParseTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Parses text; the tree belongs to the test.
  std::unique_ptr<SQLVTNode> Parse(std::string const &text, int mode = 0);
  // The trace of the tree of text, with the numbers that depend on what the
  // process did before (table numbers, company-set and parameter ids)
  // replaced by '#'.
  std::string Trace(std::string const &text, int mode = 0);
  // The SQLExSyntaxError of a parse that must fail; its state, text and
  // line are checked.
  void ExpectError(std::string const &text, int mode, char const *state, std::string const &message, int line);

  std::unique_ptr<SQLVTreeData> treeData_;
};

}  // namespace molvane::test
