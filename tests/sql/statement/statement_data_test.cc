#include "sql/statement/statement_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "fake_exec_tree.h"

namespace {

std::vector<std::string> g_destroyed;

// Stand-ins for the validated tree's objects: the statement data only owns
// them, so any object with a matching deleter serves.
SQLVTOwner<SQLVTNode> FakeRoot() {
  return SQLVTOwner<SQLVTNode>(reinterpret_cast<SQLVTNode *>(new int(1)), [](SQLVTNode *p) {
    delete reinterpret_cast<int *>(p);
    g_destroyed.push_back("root");
  });
}

SQLVTOwner<SQLVTreeData> FakeTreeData() {
  return SQLVTOwner<SQLVTreeData>(reinterpret_cast<SQLVTreeData *>(new int(2)),
                                  [](SQLVTreeData *p) {
                                    delete reinterpret_cast<int *>(p);
                                    g_destroyed.push_back("tree data");
                                  });
}

std::unique_ptr<ShortArray> Id(short form, short compnr) {
  return std::make_unique<ShortArray>(ShortArray{form, compnr});
}

std::unique_ptr<SQLExecTree> Tree(std::string name) {
  return std::make_unique<FakeExecTree>(std::move(name), &g_destroyed);
}

std::string NameOf(std::unique_ptr<SQLExecTree> const &tree) {
  return tree ? static_cast<FakeExecTree const &>(*tree).Name() : "(none)";
}

class SQLStatementDataTest : public testing::Test {
 protected:
  void SetUp() override { g_destroyed.clear(); }
};

TEST_F(SQLStatementDataTest, NewDataHasNoTreesAndMissesWithoutACache) {
  SQLStatementData data(42, 3);
  EXPECT_EQ(data.GetId(), 42UL);
  EXPECT_EQ(data.GetMode(), 3);
  EXPECT_EQ(data.GetRoot(), nullptr);
  EXPECT_EQ(data.GetTreeData(), nullptr);
  EXPECT_EQ(data.GetExecTree(ShortArray{0, 0}), nullptr);
  EXPECT_FALSE(data.GetExecTreeCache().Exists());
}

TEST_F(SQLStatementDataTest, ParkedTreeComesBackForAnEqualIdOnly) {
  SQLStatementData data(1, 0);
  data.RecycleExecTree(Id(0, 100), Tree("c100"));
  data.RecycleExecTree(Id(1, 100), Tree("retry c100"));
  EXPECT_TRUE(data.GetExecTreeCache().Exists());

  EXPECT_EQ(NameOf(data.GetExecTree(ShortArray{0, 200})), "(none)");
  EXPECT_EQ(NameOf(data.GetExecTree(ShortArray{0, 100, 0})), "(none)");  // longer id
  std::unique_ptr<SQLExecTree> taken = data.GetExecTree(ShortArray{0, 100});
  EXPECT_EQ(NameOf(taken), "c100");
  EXPECT_EQ(NameOf(data.GetExecTree(ShortArray{0, 100})), "(none)");  // taken out, not shared
  EXPECT_EQ(data.GetExecTreeCache().NrTrees(), 1);
  EXPECT_TRUE(g_destroyed.empty());
}

TEST_F(SQLStatementDataTest, SixthParkedTreeEvictsTheOldest) {
  SQLStatementData data(1, 0);
  for (short c = 1; c <= 6; ++c) data.RecycleExecTree(Id(0, c), Tree("c" + std::to_string(c)));
  EXPECT_EQ(g_destroyed, std::vector<std::string>{"c1"});
  EXPECT_EQ(data.GetExecTree(ShortArray{0, 1}), nullptr);
  EXPECT_EQ(NameOf(data.GetExecTree(ShortArray{0, 2})), "c2");
  EXPECT_EQ(data.GetExecTreeCache().NrTrees(), 4);
}

TEST_F(SQLStatementDataTest, DestructionGoesRootThenTreesThenTreeData) {
  {
    SQLStatementData data(1, 0);
    data.SetTreeData(FakeTreeData());
    data.SetRoot(FakeRoot());
    data.RecycleExecTree(Id(0, 1), Tree("tree"));
  }
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"root", "tree", "tree data"}));
}

TEST_F(SQLStatementDataTest, DropRootKeepsTreeDataAndTrees) {
  SQLStatementData data(1, 0);
  data.SetTreeData(FakeTreeData());
  data.SetRoot(FakeRoot());
  data.RecycleExecTree(Id(0, 1), Tree("tree"));
  data.DropRoot();
  EXPECT_EQ(g_destroyed, std::vector<std::string>{"root"});
  EXPECT_EQ(data.GetRoot(), nullptr);
  EXPECT_NE(data.GetTreeData(), nullptr);
  EXPECT_EQ(NameOf(data.GetExecTree(ShortArray{0, 1})), "tree");
}

TEST_F(SQLStatementDataTest, ParkingWithoutMemoryDestroysIdAndTree) {
  // The first park fails on creating the cache, a later one on its entry.
  for (int parked = 0; parked < 2; ++parked) {
    g_destroyed.clear();
    g_destroyed.reserve(8);  // the tree's destructor records itself while allocations fail
    SQLStatementData data(1, 0);
    if (parked) data.RecycleExecTree(Id(0, 1), Tree("kept"));
    std::unique_ptr<ShortArray> id = Id(0, 2);
    std::unique_ptr<SQLExecTree> tree = Tree("lost");
    {
      ScopedAllocationFailure fail;
      data.RecycleExecTree(std::move(id), std::move(tree));
    }
    EXPECT_EQ(g_destroyed, std::vector<std::string>{"lost"}) << parked;
    EXPECT_EQ(data.GetExecTree(ShortArray{0, 2}), nullptr);
    EXPECT_EQ(data.GetExecTreeCache().NrTrees(), parked);
  }
}

}  // namespace
