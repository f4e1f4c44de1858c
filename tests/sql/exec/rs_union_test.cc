#include "sql/exec/rs_union.h"

#include <gtest/gtest.h>

#include <string>

#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_value_expr.h"
#include "absorbing_source.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

VectorRowSource *Ints(std::vector<std::vector<std::optional<int>>> rows) {
  std::vector<Row> cells;
  size_t width = rows.empty() ? 2 : rows[0].size();
  for (auto const &r : rows) {
    Row row;
    for (auto const &v : r) row.push_back(v ? Cell::Int(*v) : Cell::Null());
    cells.push_back(row);
  }
  return new VectorRowSource(std::vector<SQLType>(width, SQL_INTEGER), cells);
}

SQLSortSpecList *Specs(std::vector<std::pair<int, int>> specs) {
  auto *list = new SQLSortSpecList;
  for (auto [column, direction] : specs) list->Append(SQLSortSpec(column, direction));
  return list;
}

TEST(Union, AllDeliversEveryLeftRowBeforeEveryRightRowWithDuplicates) {
  SQLRSUnion u(Ints({{0, 7}, {1, 7}, {2, 7}}), Ints({{0, 7}, {11, 8}}), true);
  EXPECT_EQ(RunAll(&u), (std::vector<int>{0, 1, 2, 0, 11}));
  EXPECT_FALSE(u.IsMerging());
}

// Without ALL the local union drops duplicates, within and across its
// inputs and NULLs included, as a driver that runs the union does.
TEST(Union, WithoutAllRemovesDuplicates) {
  SQLRSUnion u(Ints({{2, 7}, {0, 7}, {1, {}}, {2, 7}}), Ints({{0, 7}, {11, 8}, {1, {}}}), false);
  EXPECT_EQ(RunAll(&u), (std::vector<int>{0, 1, 2, 11}));
  EXPECT_TRUE(u.IsMerging());
  // Under a pushed sort on the second column: its order, then the others.
  SQLRSUnion sorted(Ints({{2, 7}, {0, 9}, {2, 7}}), Ints({{0, 9}, {11, 8}, {3, 7}}), false);
  ASSERT_TRUE(sorted.PushSort(Specs({{1, 1}})));
  EXPECT_EQ(RunAll(&sorted), (std::vector<int>{0, 11, 2, 3}));
}

TEST(Union, EmptyInputs) {
  SQLRSUnion rightOnly(Ints({}), Ints({{10, 1}, {11, 1}}), true);
  EXPECT_EQ(RunAll(&rightOnly), (std::vector<int>{10, 11}));
  SQLRSUnion none(Ints({}), Ints({}), true);
  EXPECT_EQ(RunAll(&none), std::vector<int>{});
}

struct MergeCase {
  char const *name;
  std::vector<std::pair<int, int>> specs;
  std::vector<int> expected;
};

class UnionMerge : public testing::TestWithParam<MergeCase> {};

// Rows: id, a key with NULLs, a second key. The inputs are sorted by the
// sort row sources that PushSort puts over them.
TEST_P(UnionMerge, MergesTheSortedInputsLeftFirstOnTies) {
  MergeCase const &c = GetParam();
  SQLRSUnion u(Ints({{0, 1, 0}, {1, 3, 0}, {2, {}, 5}}), Ints({{10, 1, 0}, {11, 2, 0}, {12, {}, 3}}), false);
  ASSERT_TRUE(u.PushSort(Specs(c.specs)));
  EXPECT_TRUE(u.IsMerging());
  EXPECT_EQ(RunAll(&u), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, UnionMerge,
    testing::Values(MergeCase{"AscendingNullsLast", {{1, 0}}, {0, 10, 11, 1, 2, 12}},
                    MergeCase{"DescendingNullsFirst", {{1, 1}}, {2, 12, 1, 11, 0, 10}},
                    // Two NULL keys tie and the next key decides.
                    MergeCase{"NullTieGoesToTheNextKey", {{1, 0}, {2, 0}}, {0, 10, 11, 1, 12, 2}}),
    [](testing::TestParamInfo<MergeCase> const &info) { return std::string(info.param.name); });

// A source of one row of given cells and descriptors.
class CellSource : public StrictRowSource<SQLRowSource> {
 public:
  CellSource(std::vector<SQLColumnDescriptor> descriptors, std::vector<SQLValueStore> cells)
      : descriptors_(std::move(descriptors)), row_(std::move(cells)), cells_(row_.size()) {}

 protected:
  int DoGetNumCols() override { return static_cast<int>(descriptors_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override { return &descriptors_[static_cast<size_t>(i)]; }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return &cells_[static_cast<size_t>(i)]; }
  void DoExec() override { done_ = false; }
  int DoFetch() override {
    if (done_) return 0;
    done_ = true;
    for (size_t i = 0; i < row_.size(); ++i) cells_[i].Copy(&row_[i]);
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  std::vector<SQLColumnDescriptor> descriptors_;
  std::vector<SQLValueStore> row_;
  std::vector<SQLValueStore> cells_;
  bool done_ = false;
};

TEST(Union, MergesArrayKeysInTheSortOrder) {
  auto source = [](std::vector<std::pair<int, std::vector<std::optional<int>>>> const &rows) {
    std::vector<std::vector<SQLValueStore>> cells;
    for (auto const &[id, key] : rows) {
      SQLValueStore v;
      v.SetInteger(id);
      cells.push_back({v, IntArray(key)});
    }
    return new StoreRowSource({SQLColumnDescriptor("id", SQL_INTEGER, 4, 1), SQLColumnDescriptor("a", SQL_INTEGER, 4, 2)},
                              cells);
  };
  SQLRSUnion u(source({{0, {1, {}}}, {1, {0, 5}}}), source({{10, {{}, 0}}, {11, {1, 2}}}), true);
  ASSERT_TRUE(u.PushSort(Specs({{1, 0}})));
  EXPECT_EQ(RunAll(&u), (std::vector<int>{1, 11, 0, 10}));
}

TEST(Union, WidensIntegerToRealAndPadsTextToTheLongerSide) {
  SQLValueStore i, r, s5, s8;
  i.SetInteger(3);
  r.SetReal(2.5);
  s5.SetString("abc");
  s8.SetString("defgh");
  auto *left = new CellSource({SQLColumnDescriptor("n", SQL_INTEGER, 4, 1), SQLColumnDescriptor("t", SQL_STRING, 5, 1)},
                              {i, s5});
  auto *right = new CellSource({SQLColumnDescriptor("n", SQL_REAL, 8, 1), SQLColumnDescriptor("t", SQL_STRING, 8, 1)},
                               {r, s8});
  SQLRSUnion u(left, right, true);
  EXPECT_EQ(u.GetColumnDescriptor(0)->GetType(), SQL_REAL);
  EXPECT_EQ(u.GetColumnDescriptor(1)->GetLength(), 8u);
  SQLRSPrepareContext context;
  u.Prepare(&context);
  u.Exec();
  ASSERT_EQ(u.Fetch(), 1);
  EXPECT_EQ(u.GetValueStoreAddr(0)->GetType(), SQL_REAL);
  EXPECT_EQ(u.GetValueStoreAddr(0)->GetReal(), 3.0);
  EXPECT_STREQ(u.GetValueStoreAddr(1)->GetString(), "abc     ");
  ASSERT_EQ(u.Fetch(), 1);
  EXPECT_EQ(u.GetValueStoreAddr(0)->GetReal(), 2.5);
  EXPECT_STREQ(u.GetValueStoreAddr(1)->GetString(), "defgh   ");
  EXPECT_EQ(u.Fetch(), 0);
}

TEST(Union, SkipsLeftRowsThenRightRows) {
  auto *left = Ints({{0, 0}, {1, 0}, {2, 0}});
  auto *right = Ints({{10, 0}, {11, 0}});
  left->canSkip = right->canSkip = true;
  SQLRSUnion u(left, right, true);
  SQLRSPrepareContext context;
  u.Prepare(&context);
  u.Exec();
  EXPECT_EQ(u.SkipRows(4), 4);
  ASSERT_EQ(u.Fetch(), 1);
  EXPECT_EQ(u.GetValueStoreAddr(0)->GetInteger(), 11);
  EXPECT_EQ(u.Fetch(), 0);
}

TEST(Union, SkippingAMergeNeverLosesAHeldRow) {
  SQLRSUnion u(Ints({{0, 1}, {1, 3}}), Ints({{10, 2}, {11, 4}}), true);
  u.PushSort(Specs({{1, 0}}));
  SQLRSPrepareContext context;
  u.Prepare(&context);
  u.Exec();
  ASSERT_EQ(u.Fetch(), 1);  // holds the right row 10 now
  EXPECT_EQ(u.SkipRows(1), 1);
  ASSERT_EQ(u.Fetch(), 1);
  EXPECT_EQ(u.GetValueStoreAddr(0)->GetInteger(), 1);
}

TEST(Union, ReExecutionStartsWithTheFirstLeftRow) {
  SQLRSUnion u(Ints({{0, 0}, {1, 0}}), Ints({{10, 0}}), true);
  EXPECT_EQ(RunAll(&u), (std::vector<int>{0, 1, 10}));
  u.Exec();
  ASSERT_EQ(u.Fetch(), 1);
  u.Exec();
  std::vector<int> again;
  while (u.Fetch()) again.push_back(u.GetValueStoreAddr(0)->GetInteger());
  EXPECT_EQ(again, (std::vector<int>{0, 1, 10}));
}

TEST(Union, WithoutCompatibleInstancesTheUnionStaysAndAProjectionGetsItsWholeRow) {
  SQLRSUnion *u = new SQLRSUnion(new FakeLeaf(), new FakeLeaf(), true);
  SQLRowSource *optimised = u->OptimizeTree(nullptr, nullptr);
  EXPECT_EQ(optimised, u);
  delete optimised;
  SQLRSUnion v(Ints({{0, 0}}), Ints({{1, 0}}), true);
  SQLRSSCValueExprRefPtrList offer;
  v.PushProject(&offer);
  EXPECT_EQ(offer.NrElements(), 2);
}

TEST(Union, AttachAndCloseReachTheLeavesOfBothInputs) {
  auto *a = new FakeLeaf();
  auto *b = new FakeLeaf();
  SQLRSUnion u(a, new SQLRSUnion(b, Ints({}), true), true);
  u.Attach(9);
  EXPECT_EQ(a->session, 9u);
  EXPECT_EQ(b->session, 9u);
  u.Close();
  EXPECT_FALSE(a->session.has_value());
  EXPECT_FALSE(b->session.has_value());
}

// An input that takes no condition, as a projection does: what the union
// hands it comes back, and a filter over it applies it.
template <class Base>
class Unfiltered : public Base {
 public:
  using Base::Base;
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    *residual = condition;
    return this;
  }
};

SQLRSSCValueExpr *Column(SQLRowSource *rs, int column) {
  return new SQLRSSCColumnRef(0, column, rs->GetColumnDescriptor(column));
}

SQLRSSCSearchCond *Compare(SQLRSSCCompOperator op, SQLRSSCValueExpr *a, SQLRSSCValueExpr *b) {
  auto *left = new pSQLRSSCValueExprList;
  left->Append(a);
  auto *right = new pSQLRSSCValueExprList;
  right->Append(b);
  return new SQLRSSCComparison(left, op, right);
}

// A copyable conjunct goes into both inputs, each of which keeps it in a
// filter of its own; one that cannot be copied (a NOT) stays above.
TEST(Union, AFilterGoesIntoEachInputAndWhatCannotBeCopiedStaysAbove) {
  using Input = Unfiltered<VectorRowSource>;
  auto rows = [](std::vector<std::vector<int>> values) {
    std::vector<Row> cells;
    for (auto const &r : values) cells.push_back({Cell::Int(r[0]), Cell::Int(r[1])});
    return new Input(std::vector<SQLType>{SQL_INTEGER, SQL_INTEGER}, cells);
  };
  for (bool all : {true, false}) {
    auto *u = new SQLRSUnion(rows({{1, 0}, {5, 0}, {7, 1}, {5, 0}}), rows({{2, 0}, {9, 1}, {5, 0}}), all);
    auto *above = Compare(SQLRSSC_GREATER_THAN, Column(u, 0), new SQLRSSCIntegerConst(3));
    auto *excluded = new SQLRSSCNot(Compare(SQLRSSC_EQUAL, Column(u, 1), new SQLRSSCIntegerConst(1)));
    SQLRSSCSearchCond *rest = nullptr;
    std::unique_ptr<SQLRowSource> pushed(u->PushFilter(new SQLRSSCAnd(above, excluded), &rest));
    ASSERT_EQ(pushed.get(), u);
    ASSERT_NE(rest, nullptr);
    std::unique_ptr<SQLRSSCSearchCond> kept(rest);
    EXPECT_EQ(dynamic_cast<SQLRSSCNot *>(rest), rest) << "only the NOT stays above";
    EXPECT_EQ(RunAll(u), all ? (std::vector<int>{5, 7, 5, 9, 5}) : (std::vector<int>{5, 7, 9}));
    SQLRSFilter filter(pushed.release(), kept.release());
    EXPECT_EQ(RunAll(&filter), all ? (std::vector<int>{5, 5, 5}) : (std::vector<int>{5}));
  }
}

// Column 0 is INTEGER on the left and REAL on the right, so the union
// delivers REAL: a * 1000000000 is 4e9 there, but overflows (22003) in the
// left input. A condition over it stays above; one over the INTEGER
// column 1 goes down.
TEST(Union, AFilterOverAColumnTheUnionConvertsStaysAbove) {
  using Input = Unfiltered<StoreRowSource>;
  auto value = [](SQLType type, int v) {
    SQLValueStore s;
    if (type == SQL_REAL)
      s.SetReal(v);
    else
      s.SetInteger(v);
    return s;
  };
  auto input = [&](SQLType type) {
    std::vector<std::vector<SQLValueStore>> rows;
    for (int v : {4, 5}) rows.push_back({value(type, v), value(SQL_INTEGER, v)});
    return new Input(std::vector<SQLColumnDescriptor>{{"a", type, 0, 1}, {"b", SQL_INTEGER, 0, 1}}, rows);
  };
  for (int column : {0, 1}) {
    auto *u = new SQLRSUnion(input(SQL_INTEGER), input(SQL_REAL), true);
    SQLRSSCValueExpr *operand = Column(u, column);
    if (column == 0) operand = new SQLRSSCMultiply(operand, new SQLRSSCIntegerConst(1000000000));
    SQLRSSCSearchCond *rest = nullptr;
    std::unique_ptr<SQLRowSource> pushed(
        u->PushFilter(Compare(SQLRSSC_GREATER_THAN, operand, new SQLRSSCIntegerConst(4)), &rest));
    EXPECT_EQ(rest != nullptr, column == 0) << column;
    SQLRSFilter filter(pushed.release(), rest);
    SQLRSPrepareContext context;
    filter.Prepare(&context);
    filter.Exec();
    std::vector<double> got;
    while (filter.Fetch()) got.push_back(filter.GetValueStoreAddr(0)->GetReal());
    EXPECT_EQ(got, column == 0 ? (std::vector<double>{4, 5, 4, 5}) : (std::vector<double>{5, 5})) << column;
  }
}

// GROUP BY column 0 with COUNT(*) and SUM(column 1) over a union whose
// left input takes its part (its rows stand for the parts it computed:
// key, count, sum) and whose right input takes none (a group here makes
// its part): the group above adds the parts up.
TEST(Union, AGroupingGoesIntoTheInputsInPartsThatAGroupAboveAddsUp) {
  auto rows = [](std::vector<std::vector<int>> values) {
    std::vector<Row> cells;
    for (auto const &r : values) cells.push_back({Cell::Int(r[0]), Cell::Int(r[1]), Cell::Int(r[2])});
    return new Absorbing(std::vector<SQLType>(3, SQL_INTEGER), cells);
  };
  auto grouping = [](int function) {
    auto columns = std::make_unique<intList>();
    columns->Append(0);
    auto specs = std::make_unique<List<SQLRSGroupSpec>>();
    specs->Append(SQLRSGroupSpec::Column(0));
    specs->Append(SQLRSGroupSpec::CountStar());
    specs->Append(SQLRSGroupSpec::SetFunction(function, RefPtr<SQLRSSCValueExpr>(Col(1))));
    return std::make_pair(std::move(columns), std::move(specs));
  };
  Absorbing *left = rows({{1, 2, 30}, {2, 1, 5}});
  left->acceptGroup = true;
  auto *u = new SQLRSUnion(left, rows({{1, 10, 0}, {3, 7, 0}, {1, 4, 0}}), true);
  auto [columns, specs] = grouping(SQLRSGroupSpec::kSum);
  bool accepted = false;
  std::unique_ptr<SQLRowSource> top(u->PushGroup(columns.get(), specs.get(), &accepted));
  ASSERT_TRUE(accepted);
  static_cast<void>(columns.release());  // taken over
  static_cast<void>(specs.release());
  ASSERT_NE(dynamic_cast<SQLRSGroup *>(top.get()), nullptr);
  ASSERT_NE(left->groupSpecs, nullptr);
  EXPECT_EQ(left->groupSpecs->NrElements(), 3);
  SQLRSPrepareContext context;
  top->Prepare(&context);
  top->Exec();
  std::vector<std::vector<int>> got;
  while (top->Fetch()) {
    std::vector<int> row;
    for (int c = 0; c < top->GetNumCols(); ++c) row.push_back(top->GetValueStoreAddr(c)->GetInteger());
    got.push_back(row);
  }
  EXPECT_EQ(got, (std::vector<std::vector<int>>{{1, 4, 44}, {2, 1, 5}, {3, 1, 7}}));

  // AVG: the parts are a REAL sum and a count, which a projection over
  // the group divides.
  left = rows({{1, 30, 2}, {2, 5, 1}});
  left->acceptGroup = true;
  u = new SQLRSUnion(left, rows({{1, 10, 0}, {3, 7, 0}, {1, 4, 0}}), true);
  auto [avgColumns, avgSpecs] = grouping(SQLRSGroupSpec::kAvg);
  avgSpecs->First();
  avgSpecs->Next();
  avgSpecs->DeleteCurrent();  // GROUP BY column 0 with column 0 and AVG(column 1)
  top.reset(u->PushGroup(avgColumns.get(), avgSpecs.get(), &accepted));
  ASSERT_TRUE(accepted);
  static_cast<void>(avgColumns.release());
  static_cast<void>(avgSpecs.release());
  ASSERT_EQ(left->groupSpecs->NrElements(), 3);  // column 0, SUM, COUNT
  SQLRSPrepareContext averaging;
  top->Prepare(&averaging);
  top->Exec();
  std::vector<std::pair<int, double>> averages;
  while (top->Fetch()) averages.emplace_back(top->GetValueStoreAddr(0)->GetInteger(), top->GetValueStoreAddr(1)->GetReal());
  EXPECT_EQ(averages, (std::vector<std::pair<int, double>>{{1, 11.0}, {2, 5.0}, {3, 7.0}}));

  // AVG of a text, a union without ALL and a left input that takes no
  // part keep the grouping above the union, and no input was given
  // anything.
  for (int variant : {0, 1, 2}) {
    Absorbing *l = rows({});
    l->acceptGroup = variant != 2;
    Absorbing *r = rows({});
    r->acceptGroup = true;
    SQLRSUnion v(l, r, variant != 1);
    auto [c, s] = grouping(SQLRSGroupSpec::kMax);
    if (variant == 0) {
      static SQLColumnDescriptor const text("t", SQL_STRING, 8, 1);
      s->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &text))));
    }
    accepted = true;
    EXPECT_EQ(v.PushGroup(c.get(), s.get(), &accepted), &v) << variant;
    EXPECT_FALSE(accepted) << variant;
    EXPECT_EQ(l->groupSpecs, nullptr) << variant;
    EXPECT_EQ(r->groupSpecs, nullptr) << variant;
  }
}

TEST(UnionDeathTest, MessagesAUnionNeverReceivesStop) {
  SQLRSUnion u(Ints({}), Ints({}), true);
  EXPECT_DEATH(u.PullFilter(nullptr), "Unexpected message SQLRSUnion::PullFilter");
  EXPECT_DEATH(u.PullNullify(nullptr, nullptr), "Unexpected message SQLRSUnion::PullNullify");
}

}  // namespace
}  // namespace molvane::test
