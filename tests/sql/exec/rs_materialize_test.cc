#include "sql/exec/rs_materialize.h"

#include <gtest/gtest.h>

#include <string>

#include "dbc/session/dbc_settings.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_sort.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

std::vector<Row> Numbered(int n) {
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) rows.push_back({Cell::Int(i), Cell::Text(std::string(static_cast<size_t>(i), 'z'))});
  return rows;
}

TEST(MaterializeNode, HandsOutTheChildsRowsAfterReadingThemAll) {
  dbc_settings().qelt_sql_cacherows = 3;
  auto *child = new VectorRowSource({SQL_INTEGER, SQL_STRING}, Numbered(20));
  SQLRSPrepare prepare(child);
  SQLRSPrepareContext context;
  prepare.Prepare(&context);
  prepare.Exec();
  ASSERT_EQ(prepare.Fetch(), 1);
  EXPECT_EQ(child->fetchCalls, 21);  // read completely before the first row
  std::vector<int> order = {prepare.GetValueStoreAddr(0)->GetInteger()};
  while (prepare.Fetch()) {
    order.push_back(prepare.GetValueStoreAddr(0)->GetInteger());
    EXPECT_EQ(prepare.GetValueStoreAddr(1)->GetLength(), static_cast<unsigned long>(order.back()));
  }
  EXPECT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  dbc_settings().qelt_sql_cacherows = -1;
}

struct SkipCase {
  int fetchFirst;  // rows fetched before the skip
  int skip;
  int skipped;
  int next;  // the row fetched after the skip, -1 for none
};

class MaterializeSkip : public testing::TestWithParam<SkipCase> {};

TEST_P(MaterializeSkip, SkipsInTheChildOrInTheBuffer) {
  SkipCase c = GetParam();
  auto *child = new VectorRowSource({SQL_INTEGER, SQL_STRING}, Numbered(6));
  child->canSkip = true;
  SQLRSPrepare prepare(child);
  SQLRSPrepareContext context;
  prepare.Prepare(&context);
  prepare.Exec();
  for (int i = 0; i < c.fetchFirst; ++i) ASSERT_EQ(prepare.Fetch(), 1);
  EXPECT_EQ(prepare.SkipRows(c.skip), c.skipped);
  if (c.next < 0) {
    EXPECT_EQ(prepare.Fetch(), 0);
  } else {
    ASSERT_EQ(prepare.Fetch(), 1);
    EXPECT_EQ(prepare.GetValueStoreAddr(0)->GetInteger(), c.next);
  }
}

INSTANTIATE_TEST_SUITE_P(Positions, MaterializeSkip,
                         testing::Values(SkipCase{0, 3, 3, 3}, SkipCase{0, 6, 6, -1}, SkipCase{0, 9, 6, -1},
                                         SkipCase{2, 2, 2, 4}, SkipCase{2, 9, 4, -1}, SkipCase{6, 1, 0, -1}));

TEST(MaterializeNode, MaxRowsGoesToTheChildAndExecStartsAfresh) {
  auto *child = new VectorRowSource({SQL_INTEGER, SQL_STRING}, Numbered(5));
  SQLRSPrepare prepare(child);
  EXPECT_EQ(RunAll(&prepare, 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(child->maxRowsSeen, 3);
  prepare.SetMaxRows(-1);
  prepare.Exec();  // no Break: the rows of the last execution are dropped
  int rows = 0;
  while (prepare.Fetch()) ++rows;
  EXPECT_EQ(rows, 5);
  prepare.Break();
  prepare.Exec();
  rows = 0;
  while (prepare.Fetch()) ++rows;
  EXPECT_EQ(rows, 5);
}

TEST(MaterializeNode, OptimizeDropsTheNodeOverMaterialisedRows) {
  auto *leaf = new VectorRowSource({SQL_INTEGER}, {});
  auto *specs = new SQLSortSpecList;
  specs->Append(SQLSortSpec(0, 0));
  auto *sort = new SQLRSSort(leaf, specs);
  auto *prepare = new SQLRSPrepare(sort);
  std::unique_ptr<SQLExecTree> tree(prepare->Optimize());
  EXPECT_EQ(tree.get(), sort);
  auto *plain = new SQLRSPrepare(new VectorRowSource({SQL_INTEGER}, {}));
  std::unique_ptr<SQLExecTree> kept(plain->Optimize());
  EXPECT_EQ(kept.get(), plain);
}

}  // namespace
}  // namespace molvane::test
