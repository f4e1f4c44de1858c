#include "sql/exec/rs_sort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "dbc/session/dbc_settings.h"
#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_materialize.h"
#include "sql/exec/sort_key.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

SQLSortSpecList *Specs(std::vector<std::pair<int, int>> specs) {
  auto *list = new SQLSortSpecList;
  for (auto [column, direction] : specs) list->Append(SQLSortSpec(column, direction));
  return list;
}

// Rows: id, an integer key with NULLs, a text key.
std::vector<Row> KeyedRows() {
  return {
      {Cell::Int(0), Cell::Int(3), Cell::Text("b")},  {Cell::Int(1), Cell::Null(), Cell::Text("a")},
      {Cell::Int(2), Cell::Int(1), Cell::Text("c")},  {Cell::Int(3), Cell::Int(3), Cell::Text("a")},
      {Cell::Int(4), Cell::Null(), Cell::Text("b")},  {Cell::Int(5), Cell::Int(1), Cell::Text("a")},
  };
}

struct OrderCase {
  char const *name;
  std::vector<std::pair<int, int>> specs;
  std::vector<int> expected;
};

class SortOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(SortOrder, OrdersByTheKeysWithNullsLastAscending) {
  OrderCase const &c = GetParam();
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER, SQL_INTEGER, SQL_STRING}, KeyedRows()), Specs(c.specs));
  EXPECT_EQ(RunAll(&sort), c.expected);
  // Every column comes back in the child's layout.
  SQLRSSort again(new VectorRowSource({SQL_INTEGER, SQL_INTEGER, SQL_STRING}, KeyedRows()), Specs(c.specs));
  SQLRSPrepareContext context;
  again.Prepare(&context);
  again.Exec();
  ASSERT_EQ(again.Fetch(), 1);
  Row const first = KeyedRows()[static_cast<size_t>(c.expected[0])];
  EXPECT_EQ(again.GetValueStoreAddr(2)->GetString(), first[2].s);
  EXPECT_EQ(again.GetValueStoreAddr(1)->IsNull(), first[1].kind == Cell::kNull);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SortOrder,
    testing::Values(OrderCase{"IntAsc", {{1, 0}}, {2, 5, 0, 3, 1, 4}},       // equal keys keep input order
                    OrderCase{"IntDesc", {{1, 1}}, {1, 4, 0, 3, 2, 5}},      // NULLs first
                    OrderCase{"IntThenText", {{1, 0}, {2, 0}}, {5, 2, 3, 0, 1, 4}},
                    OrderCase{"NullsTieOnText", {{1, 1}, {2, 1}}, {4, 1, 0, 3, 2, 5}},
                    OrderCase{"TextDescIntAsc", {{2, 1}, {1, 0}}, {2, 0, 4, 5, 3, 1}},
                    OrderCase{"AllColumnsAreKeys", {{2, 0}, {1, 0}, {0, 0}}, {5, 3, 1, 0, 4, 2}}),
    [](testing::TestParamInfo<OrderCase> const &info) { return std::string(info.param.name); });

TEST(SortNode, RepeatedKeyColumnCountsOnce) {
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, {}), Specs({{1, 0}, {0, 1}, {1, 1}}));
  ASSERT_EQ(sort.GetSortSpecs()->NrElements(), 2);
  SQLSortSpecList copy = *sort.GetSortSpecs();
  copy.First();
  copy.Next();
  EXPECT_EQ(copy.GetCurrent().GetColumnId(), 0);
}

TEST(SortNode, EmptyInputGivesNoRow) {
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER}, {}), Specs({{0, 0}}));
  EXPECT_TRUE(RunAll(&sort).empty());
}

TEST(SortNode, MaxRowsLimitsOnlyTheOutput) {
  auto *child = new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, KeyedRows());
  SQLRSSort sort(child, Specs({{0, 1}}));
  EXPECT_EQ(RunAll(&sort, 2), (std::vector<int>{5, 4}));
  EXPECT_EQ(child->maxRowsSeen, -2);  // never passed down
  EXPECT_EQ(child->fetchCalls, 7);    // all six rows and the end
}

TEST(SortNode, ExecutesAgainFromNothingWithOrWithoutBreak) {
  auto *child = new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, KeyedRows());
  SQLRSSort sort(child, Specs({{0, 0}}));
  EXPECT_EQ(RunAll(&sort).size(), 6u);
  sort.Exec();  // no Break between the executions
  int rows = 0;
  while (sort.Fetch()) ++rows;
  EXPECT_EQ(rows, 6);
  sort.Exec();
  ASSERT_EQ(sort.Fetch(), 1);
  sort.Break();
  EXPECT_EQ(child->breakCalls, 1);
  sort.Exec();
  rows = 0;
  while (sort.Fetch()) ++rows;
  EXPECT_EQ(rows, 6);
  EXPECT_EQ(child->execCalls, 4);
}

TEST(SortNode, SpilledRowsSortLikeCachedOnes) {
  dbc_settings().qelt_sql_cacherows = 2;
  std::mt19937 random(11);
  std::vector<Row> rows;
  for (int i = 0; i < 400; ++i)
    rows.push_back({Cell::Int(i), Cell::Int(static_cast<int>(random() % 50)),
                    Cell::Text(std::string(random() % 20, 'x') + std::to_string(random() % 7))});
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER, SQL_INTEGER, SQL_STRING}, rows), Specs({{1, 1}, {2, 0}}));
  std::vector<int> order = RunAll(&sort);
  ASSERT_EQ(order.size(), rows.size());
  for (size_t i = 1; i < order.size(); ++i) {
    Row const &a = rows[static_cast<size_t>(order[i - 1])];
    Row const &b = rows[static_cast<size_t>(order[i])];
    ASSERT_GE(a[1].i, b[1].i);
    if (a[1].i == b[1].i) {
      std::string ta = a[2].s, tb = b[2].s;
      ASSERT_LE(ta, tb);
      if (ta == tb) {
        ASSERT_LT(order[i - 1], order[i]);
      }
    }
  }
  dbc_settings().qelt_sql_cacherows = -1;
}

// A child that takes orderings over (as a table leaf does).
class SortingChild : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;
  bool takeSort = false;
  std::unique_ptr<SQLSortSpecList> taken;
  bool PushSort(SQLSortSpecList *specs) override {
    if (takeSort) taken.reset(specs);
    return takeSort;
  }
  void createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) override {
    ts->AppendToken(SQLNWTRSTable);
  }
};

TEST(SortNode, OptimizeHandsTheSortToAChildThatTakesIt) {
  for (bool take : {false, true}) {
    auto *child = new SortingChild(std::vector<SQLType>{SQL_INTEGER}, std::vector<Row>{});
    child->takeSort = take;
    auto *sort = new SQLRSSort(child, Specs({{0, 1}}));
    std::unique_ptr<SQLExecTree> tree(sort->Optimize());
    if (take) {
      EXPECT_EQ(tree.get(), child);
      ASSERT_NE(child->taken, nullptr);
      EXPECT_EQ(child->taken->NrElements(), 1);
    } else {
      EXPECT_EQ(tree.get(), sort);
    }
  }
}

TEST(SortNode, DescribesItselfBeforeItsChild) {
  SQLRSSort sort(new SortingChild(std::vector<SQLType>{SQL_INTEGER, SQL_INTEGER}, std::vector<Row>{}),
                 Specs({{1, 1}, {0, 0}}));
  SQLTokenString got, expected;
  sort.createTokenString(&got, 0, nullptr);
  expected.AppendToken(SQLNWTRSSort);
  expected.AppendBs2(2);
  expected.AppendBs2(1);
  expected.AppendToken(SQLNWTDescending);
  expected.AppendBs2(0);
  expected.AppendToken(SQLNWTAscending);
  expected.AppendToken(SQLNWTRSTable);
  unsigned char const *a, *b;
  int na, nb;
  got.GetString(a, na);
  expected.GetString(b, nb);
  ASSERT_EQ(na, nb);
  EXPECT_EQ(std::memcmp(a, b, static_cast<size_t>(na)), 0);

  SQLRSPrepare prepare(new SortingChild(std::vector<SQLType>{SQL_INTEGER}, std::vector<Row>{}));
  SQLTokenString p, q;
  prepare.createTokenString(&p, 0, nullptr);
  q.AppendToken(SQLNWTRSPrepare);
  q.AppendToken(SQLNWTRSTable);
  p.GetString(a, na);
  q.GetString(b, nb);
  ASSERT_EQ(na, nb);
  EXPECT_EQ(std::memcmp(a, b, static_cast<size_t>(na)), 0);
}

TEST(SortNode, LogShowsSpecificationsAndChild) {
  SQLLogger::Instance()->SetLogFlags(SQLLogger::Tree::Rs);
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, {}), Specs({{1, 1}}));
  testing::internal::CaptureStderr();
  sort.Log();
  std::string out = testing::internal::GetCapturedStderr();
  SQLLogger::Instance()->SetLogFlags(0);
  EXPECT_NE(out.find("SQLRSSort("), std::string::npos) << out;
  EXPECT_NE(out.find("SortSpec(1,DESCENDING)"), std::string::npos) << out;
  EXPECT_NE(out.find("Child: "), std::string::npos) << out;
}

TEST(SortNodeDeathTest, RefusesMessagesItNeverReceives) {
  SQLRSSort sort(new VectorRowSource({SQL_INTEGER}, {}), Specs({{0, 0}}));
  EXPECT_DEATH(sort.PushFilter(nullptr, nullptr), "Unexpected message SQLRSSort::PushFilter");
  EXPECT_DEATH(sort.PushSort(nullptr), "Unexpected message SQLRSSort::PushSort");
  EXPECT_TRUE(sort.RowSetIsPrepared());
  SQLRSPrepare prepare(new VectorRowSource({SQL_INTEGER}, {}));
  EXPECT_DEATH(prepare.RowSetIsPrepared(), "Unexpected message SQLRSPrepare::RowSetIsPrepared");
  EXPECT_DEATH(prepare.CombineJoin(nullptr, nullptr, nullptr, nullptr),
               "Unexpected message SQLRSPrepare::CombineJoin");
}

}  // namespace
}  // namespace molvane::test

namespace molvane::test {
namespace {

// Array keys follow one total order: element by element, NULL elements
// after values; before the fix two different arrays each sorted before the
// other, so the result depended on the sorting algorithm's steps.
TEST(SortArrayKeys, OrderElementByElementWithNullElementsLast) {
  std::vector<std::vector<std::optional<int>>> keys = {{1, 2}, {1, {}}, {{}, 0}, {0, 5}, {1, 2}, {{}, {}}, {0, 4}};
  std::vector<std::vector<SQLValueStore>> rows;
  for (size_t i = 0; i < keys.size(); ++i) {
    SQLValueStore id;
    id.SetInteger(static_cast<int>(i));
    rows.push_back({id, IntArray(keys[i])});
  }
  for (int direction : {SQLSortSpec::kAscending, SQLSortSpec::kDescending}) {
    auto *source = new StoreRowSource(
        {SQLColumnDescriptor("id", SQL_INTEGER, 4, 1), SQLColumnDescriptor("a", SQL_INTEGER, 4, 2)}, rows);
    auto *specs = new SQLSortSpecList;
    specs->Append(SQLSortSpec(1, direction));
    SQLRSSort sort(source, specs);
    std::vector<int> expected = {6, 3, 0, 4, 1, 2, 5};
    if (direction == SQLSortSpec::kDescending) expected = {5, 2, 1, 0, 4, 3, 6};  // ties keep their order
    EXPECT_EQ(RunAll(&sort), expected) << direction;
  }
}

// The order of sorting and merging is total: antisymmetric and transitive
// over scalars, NULLs and arrays with NULL elements.
TEST(SortArrayKeys, KeyComparisonIsATotalOrder) {
  std::vector<SQLValueStore> values(9);
  values[0].SetInteger(3);
  values[1].SetInteger(-1);
  values[2].SetInteger(0);
  values[2].SetNull();
  auto array = [](SQLValueStore *v, std::vector<int> elements) {
    v->SetDimension(static_cast<int>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
      v->GetElement(static_cast<int>(i))->SetInteger(elements[i]);
      if (elements[i] < 0) v->GetElement(static_cast<int>(i))->SetNull();
    }
  };
  array(&values[3], {1, 2});
  array(&values[4], {1, -1});
  array(&values[5], {-1, 0});
  array(&values[6], {0, 5});
  array(&values[7], {1, 2, 0});
  array(&values[8], {-1, -1});
  auto cmp = [&](size_t a, size_t b) { return SQLCompareKeyValues(&values[a], &values[b]); };
  auto scalar = [](size_t i) { return i < 3; };
  for (size_t a = 0; a < values.size(); ++a) {
    EXPECT_EQ(cmp(a, a), 0) << a;
    for (size_t b = 0; b < values.size(); ++b) {
      if (scalar(a) != scalar(b)) continue;
      EXPECT_EQ(cmp(a, b), -cmp(b, a)) << a << " " << b;
      for (size_t c = 0; c < values.size(); ++c) {
        if (scalar(a) != scalar(c)) continue;
        if (cmp(a, b) <= 0 && cmp(b, c) <= 0) {
          EXPECT_LE(cmp(a, c), 0) << a << " " << b << " " << c;
        }
      }
    }
  }
  EXPECT_EQ(cmp(1, 0), -1);
  EXPECT_EQ(cmp(2, 0), 1);   // NULL after every value
  EXPECT_EQ(cmp(6, 3), -1);  // {0,5} < {1,2}
  EXPECT_EQ(cmp(3, 4), -1);  // {1,2} < {1,NULL}
  EXPECT_EQ(cmp(3, 7), -1);  // fewer elements first on an equal prefix
}

}  // namespace
}  // namespace molvane::test
