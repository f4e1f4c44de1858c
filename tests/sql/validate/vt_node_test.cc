#include "sql/validate/vt_node.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sql/exec/test_row_source.h"
#include "sql/statement/statement_data.h"
#include "sql/validate/vtree_data.h"

namespace {

using molvane::test::VectorRowSource;

std::vector<std::string> g_calls;

// A row source that reports its destruction.
class TracedRowSource : public VectorRowSource {
 public:
  TracedRowSource() : VectorRowSource({SQL_INTEGER}, {}) {}
  ~TracedRowSource() override { g_calls.push_back("rs deleted"); }
};

// A node that records which of its operations run, in order.
class TestNode : public SQLVTNode {
 public:
  ~TestNode() override { g_calls.push_back("node deleted"); }
  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override {
    SQLAbort(__FILE__, __LINE__, "TestNode::BuildRetryFilter() called");
  }
  SQLRowSource *DoCreateRS() override {
    g_calls.push_back("DoCreateRS");
    return new TracedRowSource();
  }
  SQLColumnDescriptor const *GetColumnDescriptor(int) const override { return nullptr; }
  int GetNumCols() const override { return 0; }
  bool IsForUpdate() override { return false; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override {
    return this;
  }
  void ValidateTypes() const override { g_calls.push_back("ValidateTypes"); }
  void ValidateArrayUsage() const override { g_calls.push_back("ValidateArrayUsage"); }
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}
  void DoValidate() override { g_calls.push_back("DoValidate"); }
};

class VTNode : public testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    SQLVTNode::SetHintsWrapper(nullptr);
  }
};

TEST_F(VTNode, ValidateRunsArrayUsageThenTypesThenOwnChecks) {
  TestNode node;
  node.Validate();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"ValidateArrayUsage", "ValidateTypes", "DoValidate"}));
  EXPECT_EQ(node.RemoveNotDefinitiveGroupNode(), &node);
}

TEST_F(VTNode, WithoutHintsCreateETIsTheNodesOwnRowSource) {
  TestNode node;
  std::unique_ptr<SQLExecTree> tree(node.CreateET());
  EXPECT_NE(dynamic_cast<TracedRowSource *>(tree.get()), nullptr);
}

SQLHints const *g_wrappedHints = nullptr;

TEST_F(VTNode, HintsWrapTheRowSource) {
  SQLVTNode::SetHintsWrapper([](SQLRowSource *child, SQLHints const *hints) -> SQLRowSource * {
    g_wrappedHints = hints;
    g_calls.push_back("wrap");
    return child;
  });
  TestNode node;
  node.SetHints(new SQLHints());
  std::unique_ptr<SQLRowSource> rs(node.CreateRS());
  EXPECT_EQ(g_wrappedHints, node.GetHints());
  EXPECT_EQ(g_calls, (std::vector<std::string>{"DoCreateRS", "wrap"}));
}

TEST_F(VTNode, HintsWithoutAHintsRowSourceLeaveTheRowSourceAlone) {
  TestNode node;
  node.SetHints(new SQLHints());
  std::unique_ptr<SQLRowSource> rs(node.CreateRS());
  EXPECT_NE(dynamic_cast<TracedRowSource *>(rs.get()), nullptr);
}

TEST_F(VTNode, FailedWrapDeletesTheRowSource) {
  SQLVTNode::SetHintsWrapper([](SQLRowSource *, SQLHints const *) -> SQLRowSource * {
    throw std::bad_alloc();
  });
  TestNode node;
  node.SetHints(new SQLHints());
  EXPECT_THROW(node.CreateRS(), std::bad_alloc);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"DoCreateRS", "rs deleted"}));
}

TEST_F(VTNode, IsGroupByQueryOnAPlainNodeStops) {
  TestNode node;
  EXPECT_DEATH(node.IsGroupByQuery(), "SQLVTNode::IsGroupByQuery\\(\\) called");
}

TEST_F(VTNode, StatementDataOwnsTreeAndTreeData) {
  {
    SQLStatementData data(1, 0);
    data.SetTreeData(SQLVTOwnTreeData(new SQLVTreeData()));
    data.SetRoot(SQLVTOwnNode(new TestNode()));
    data.GetTreeData()->GetOrCreateCurrentDateParameter();
    EXPECT_TRUE(g_calls.empty());
  }
  EXPECT_EQ(g_calls, (std::vector<std::string>{"node deleted"}));
}

}  // namespace
