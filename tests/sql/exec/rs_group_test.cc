#include "sql/exec/rs_group.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>

#include "dbc/session/dbc_settings.h"
#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_search_cond.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

SQLColumnDescriptor const kInt("x", SQL_INTEGER, 4, 1);

RefPtr<SQLRSSCValueExpr> Ref(int column) {
  return RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, column, &kInt));
}

// The specs of the common case: g, COUNT(*), COUNT(x), MIN(x), MAX(x), SUM(x), AVG(x).
List<SQLRSGroupSpec> *AllFunctions(bool withKey) {
  auto *specs = new List<SQLRSGroupSpec>;
  if (withKey) specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::CountStar());
  for (int f : {SQLRSGroupSpec::kCount, SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax, SQLRSGroupSpec::kSum,
                SQLRSGroupSpec::kAvg})
    specs->Append(SQLRSGroupSpec::SetFunction(f, Ref(1)));
  return specs;
}

intList *Columns(std::vector<int> columns) {
  auto *list = new intList;
  for (int c : columns) list->Append(c);
  return list;
}

std::string Render(SQLValueStore const *v) {
  if (v->IsNull()) return "N";
  char text[64];
  switch (v->GetType()) {
    case SQL_INTEGER: return std::to_string(v->GetInteger());
    case SQL_REAL: std::snprintf(text, sizeof text, "%gr", v->GetReal()); return text;
    case SQL_STRING: return std::string("'") + v->GetString() + "'";
    default: return "?";
  }
}

// Every output row as its cells joined by blanks.
std::vector<std::string> Rows(SQLRowSource *rs, bool prepare = true) {
  if (prepare) {
    SQLRSPrepareContext context;
    rs->Prepare(&context);
  }
  rs->Exec();
  std::vector<std::string> rows;
  while (rs->Fetch()) {
    std::string row;
    for (int i = 0; i < rs->GetNumCols(); ++i) row += (i ? " " : "") + Render(rs->GetValueStoreAddr(i));
    rows.push_back(row);
  }
  return rows;
}

// Rows: g, x.
std::vector<Row> GroupRows() {
  return {{Cell::Int(1), Cell::Int(10)}, {Cell::Int(2), Cell::Null()}, {Cell::Int(1), Cell::Int(5)},
          {Cell::Null(), Cell::Int(7)},  {Cell::Int(2), Cell::Int(3)}, {Cell::Null(), Cell::Null()},
          {Cell::Int(3), Cell::Null()}};
}

VectorRowSource *Source(std::vector<Row> rows = GroupRows()) {
  return new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, std::move(rows));
}

struct GroupCase {
  char const *name;
  std::vector<Row> rows;
  bool grouped;
  std::vector<std::string> expected;
};

class GroupResult : public testing::TestWithParam<GroupCase> {};

TEST_P(GroupResult, ComputesEverySetFunction) {
  GroupCase const &c = GetParam();
  SQLRSGroup group(Source(c.rows), Columns(c.grouped ? std::vector<int>{0} : std::vector<int>{}),
                   AllFunctions(c.grouped));
  EXPECT_EQ(Rows(&group), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupResult,
    testing::Values(
        // Ascending keys, the NULL key last; NULL arguments are ignored.
        GroupCase{"ByKey", GroupRows(), true,
                  {"1 2 2 5 10 15 7.5r", "2 2 1 3 3 3 3r", "3 1 0 N N N N", "N 2 1 7 7 7 7r"}},
        GroupCase{"Whole", GroupRows(), false, {"7 4 3 10 25 6.25r"}},
        GroupCase{"EmptyWhole", {}, false, {"0 0 N N N N"}},
        GroupCase{"EmptyGrouped", {}, true, {}},
        GroupCase{"AverageOfOneAndTwo", {{Cell::Int(0), Cell::Int(1)}, {Cell::Int(0), Cell::Int(2)}}, false,
                  {"2 2 1 2 3 1.5r"}}),
    [](testing::TestParamInfo<GroupCase> const &info) { return std::string(info.param.name); });

TEST(Group, OneRowPerGroupWhenOnlyACountIsDelivered) {
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::CountStar());
  SQLRSGroup group(Source(), Columns({0}), specs);
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"2", "2", "1", "2"}));
}

TEST(Group, ADescendingPushedSortPutsTheNullGroupFirst) {
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Ref(1)));
  specs->Append(SQLRSGroupSpec::Column(0));
  SQLRSGroup group(Source(), Columns({0}), specs);
  auto *sort = new SQLSortSpecList;
  sort->Append(SQLSortSpec(1, SQLSortSpec::kDescending));
  ASSERT_TRUE(group.PushSort(sort));
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"7 N", "N 3", "3 2", "15 1"}));
}

TEST(Group, RefusesASortOnASetFunction) {
  SQLRSGroup group(Source(), Columns({0}), AllFunctions(true));
  SQLSortSpecList sort;
  sort.Append(SQLSortSpec(3, SQLSortSpec::kAscending));
  EXPECT_FALSE(group.PushSort(&sort));
  EXPECT_EQ(group.GetGroupingColumns()->NrElements(), 1);
}

TEST(Group, ASortReordersTheGroupKey) {
  std::vector<Row> rows = {{Cell::Int(1), Cell::Int(2)}, {Cell::Int(2), Cell::Int(1)}, {Cell::Int(1), Cell::Int(1)}};
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::Column(1));
  SQLRSGroup group(Source(rows), Columns({0, 1}), specs);
  auto *sort = new SQLSortSpecList;
  sort->Append(SQLSortSpec(1, SQLSortSpec::kAscending));
  ASSERT_TRUE(group.PushSort(sort));
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"1 1", "2 1", "1 2"}));
}

TEST(Group, IntegerSumOverflowRaises22003) {
  std::vector<Row> rows = {{Cell::Int(0), Cell::Int(2147483647)}, {Cell::Int(0), Cell::Int(1)}};
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Ref(1)));
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, Ref(1)));
  SQLRSGroup sum(Source(rows), Columns({0}), specs);
  try {
    Rows(&sum);
    FAIL() << "no overflow";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "22003");
  }
  // The average of the same values does not overflow.
  auto *avg = new List<SQLRSGroupSpec>;
  avg->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, Ref(1)));
  SQLRSGroup average(Source(rows), Columns({0}), avg);
  EXPECT_EQ(Rows(&average), (std::vector<std::string>{"1.07374e+09r"}));
}

// A source of one group whose REAL argument column holds INTEGER and REAL
// values in turn, as a CASE may deliver them.
SQLRowSource *MixedNumbers(std::vector<double> values) {
  std::vector<std::vector<SQLValueStore>> rows;
  for (double v : values) {
    std::vector<SQLValueStore> row(2);
    row[0].SetInteger(0);
    if (v == static_cast<int>(v))
      row[1].SetInteger(static_cast<int>(v));
    else
      row[1].SetReal(v);
    rows.push_back(std::move(row));
  }
  return new StoreRowSource({SQLColumnDescriptor("g", SQL_INTEGER, 4, 1), SQLColumnDescriptor("x", SQL_REAL, 8, 1)},
                            std::move(rows));
}

TEST(Group, IntegerAndRealArgumentsFoldLikeTheValueLayer) {
  static SQLColumnDescriptor const real("x", SQL_REAL, 8, 1);
  auto *specs = new List<SQLRSGroupSpec>;
  for (int f : {SQLRSGroupSpec::kCount, SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax, SQLRSGroupSpec::kSum,
                SQLRSGroupSpec::kAvg})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &real))));
  SQLRSGroup group(MixedNumbers({3, 2.5, 7, 7.5, -1}), Columns({0}), specs);
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"5 -1 7.5r 19r 3.8r"}));
  // The first value decides the type until a REAL joins in.
  auto *integers = new List<SQLRSGroupSpec>;
  for (int f : {SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax, SQLRSGroupSpec::kSum})
    integers->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &real))));
  SQLRSGroup whole(MixedNumbers({4, 9, 2}), Columns({0}), integers);
  EXPECT_EQ(Rows(&whole), (std::vector<std::string>{"2 9 15"}));
  // An equal value of the other type does not replace the first.
  std::vector<std::vector<SQLValueStore>> ties(2, std::vector<SQLValueStore>(2));
  ties[0][0].SetInteger(0);
  ties[0][1].SetReal(2.0);
  ties[1][0].SetInteger(0);
  ties[1][1].SetInteger(2);
  auto *extremes = new List<SQLRSGroupSpec>;
  for (int f : {SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax})
    extremes->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &real))));
  SQLRSGroup tied(new StoreRowSource({SQLColumnDescriptor("g", SQL_INTEGER, 4, 1), real}, std::move(ties)),
                  Columns({0}), extremes);
  EXPECT_EQ(Rows(&tied), (std::vector<std::string>{"2r 2r"}));
}

TEST(Group, AnAverageWhoseSumLeavesTheRealRangeRaises22003) {
  static SQLColumnDescriptor const real("x", SQL_REAL, 8, 1);
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg,
                                            RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &real))));
  SQLRSGroup group(MixedNumbers({1.5e308, 1.5e308}), Columns({0}), specs);
  try {
    Rows(&group);
    FAIL() << "no overflow";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "22003");
  }
}

// Texts and dates are kept by the value layer: MIN and MAX of them per
// group, with NULLs among them, and in a group of NULLs only.
TEST(Group, MinAndMaxOfTextsAndDatesPerGroup) {
  static SQLColumnDescriptor const text("t", SQL_STRING, 0, 1);
  static SQLColumnDescriptor const date("d", SQL_DATE, 4, 1);
  std::vector<std::vector<SQLValueStore>> rows;
  auto add = [&rows](int group, char const *t, int d) {
    std::vector<SQLValueStore> row(3);
    row[0].SetInteger(group);
    row[1].SetString(t ? t : "");
    if (!t) row[1].SetNull();
    row[2].SetDate(d);
    if (d < 0) row[2].SetNull();
    rows.push_back(std::move(row));
  };
  for (int round = 0; round < 300; ++round) {  // enough groups to spill with the smallest cache
    add(round, "pear", 700);
    add(round, nullptr, -1);
    add(round, "apple ", 900);
    add(round, "quince", 650);
    add(1000 + round, nullptr, -1);
  }
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  for (int f : {SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &text))));
  for (int f : {SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 2, &date))));
  SQLRSGroup group(new StoreRowSource({SQLColumnDescriptor("g", SQL_INTEGER, 4, 1), text, date}, std::move(rows)),
                   Columns({0}), specs);
  SQLRSPrepareContext context;
  group.Prepare(&context);
  group.Exec();
  for (int g = 0; g < 600; ++g) {
    ASSERT_EQ(group.Fetch(), 1);
    int round = g < 300 ? g : g + 700;
    EXPECT_EQ(group.GetValueStoreAddr(0)->GetInteger(), round);
    SQLValueStore const *min = group.GetValueStoreAddr(1), *max = group.GetValueStoreAddr(2);
    SQLValueStore const *first = group.GetValueStoreAddr(3), *last = group.GetValueStoreAddr(4);
    EXPECT_EQ(min->GetType(), SQL_STRING);
    EXPECT_EQ(first->GetType(), SQL_DATE);
    if (g < 300) {
      EXPECT_STREQ(min->GetString(), "apple ");
      EXPECT_STREQ(max->GetString(), "quince");
      EXPECT_EQ(first->GetDate(), 650);
      EXPECT_EQ(last->GetDate(), 900);
    } else {
      EXPECT_TRUE(min->IsNull() && max->IsNull() && first->IsNull() && last->IsNull());
    }
  }
  EXPECT_EQ(group.Fetch(), 0);
}

TEST(Group, ReExecutionStartsAfreshWithOrWithoutBreak) {
  SQLRSGroup group(Source(), Columns({0}), AllFunctions(true));
  std::vector<std::string> first = Rows(&group);
  EXPECT_EQ(Rows(&group, false), first);
  group.Exec();
  ASSERT_EQ(group.Fetch(), 1);
  group.Break();
  EXPECT_EQ(Rows(&group, false), first);
}

TEST(Group, ManyGroupsSpillAndComeOutInOrder) {
  std::vector<Row> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back({Cell::Int((i * 7919) % 1000), Cell::Int(i)});
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::CountStar());
  SQLRSGroup group(Source(rows), Columns({0}), specs);
  std::vector<std::string> out = Rows(&group);
  ASSERT_EQ(out.size(), 1000u);
  for (int k = 0; k < 1000; ++k) EXPECT_EQ(out[static_cast<size_t>(k)], std::to_string(k) + " 3");
}

TEST(Group, TextKeysCompareBlankPadded) {
  std::vector<Row> rows = {{Cell::Text("b"), Cell::Int(1)}, {Cell::Text("a "), Cell::Int(2)},
                           {Cell::Text("a"), Cell::Int(3)}};
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::CountStar());
  SQLRSGroup group(new VectorRowSource({SQL_STRING, SQL_INTEGER}, rows), Columns({0}), specs);
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"2", "1"}));
}

struct SpillCase {
  char const *name;
  int groups;     // distinct values of each of the two keys
  int cacheRows;  // groups held in memory
  bool descending;
  int rows = 2500;  // 40,000 pass what partitions hold in memory: they go to files
};

class GroupSpill : public testing::TestWithParam<SpillCase> {};

// Two keys (a text that repeats with and without trailing blanks, and an
// integer with NULLs), every set function: whatever the cache, the groups
// and their values are those of a grouping held wholly in memory, and
// they come out in key order.
TEST_P(GroupSpill, GivesTheGroupsOfAnInMemoryGrouping) {
  SpillCase const &c = GetParam();
  std::mt19937 random(5);
  std::vector<Row> rows;
  for (int i = 0; i < c.rows; ++i) {
    int t = static_cast<int>(random() % static_cast<unsigned>(c.groups));
    std::string text = "k" + std::to_string(t) + std::string(random() % 3, ' ');
    int k = static_cast<int>(random() % static_cast<unsigned>(c.groups));
    rows.push_back({Cell::Text(text), k == 0 ? Cell::Null() : Cell::Int(k),
                    random() % 5 == 0 ? Cell::Null() : Cell::Int(static_cast<int>(random() % 100))});
  }
  auto run = [&](int cacheRows) {
    dbc_settings().qelt_sql_cacherows = cacheRows;
    auto *specs = new List<SQLRSGroupSpec>;
    specs->Append(SQLRSGroupSpec::Column(1));
    specs->Append(SQLRSGroupSpec::Column(0));
    specs->Append(SQLRSGroupSpec::CountStar());
    for (int f : {SQLRSGroupSpec::kCount, SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax, SQLRSGroupSpec::kSum,
                  SQLRSGroupSpec::kAvg})
      specs->Append(SQLRSGroupSpec::SetFunction(f, Ref(2)));
    SQLRSGroup group(new VectorRowSource({SQL_STRING, SQL_INTEGER, SQL_INTEGER}, rows), Columns({0, 1}), specs);
    // The integer key leads the order.
    auto *sort = new SQLSortSpecList;
    sort->Append(SQLSortSpec(0, c.descending ? SQLSortSpec::kDescending : SQLSortSpec::kAscending));
    EXPECT_TRUE(group.PushSort(sort));
    std::vector<std::string> out = Rows(&group);
    std::vector<std::string> again = Rows(&group, false);  // a second execution
    EXPECT_EQ(out, again);
    dbc_settings().qelt_sql_cacherows = -1;
    return out;
  };
  std::vector<std::string> memory = run(1000000);
  std::vector<std::string> spilled = run(c.cacheRows);
  EXPECT_EQ(spilled, memory);
  // Key order: the integer key (NULL last, or first descending), then the text.
  auto field = [](std::string const &row, int n) {
    std::istringstream in(row);
    std::string f;
    for (int i = 0; i <= n; ++i) in >> f;
    return f;
  };
  long total = 0;
  for (size_t i = 0; i < memory.size(); ++i) {
    total += std::stol(field(memory[i].substr(memory[i].rfind('\'') + 1), 0));  // COUNT(*) after the text
    if (i == 0) continue;
    std::string a = field(memory[i - 1], 0), b = field(memory[i], 0);
    long ka = a == "N" ? 1L << 40 : std::stol(a);  // NULL sorts as the largest key
    long kb = b == "N" ? 1L << 40 : std::stol(b);
    if (c.descending) {
      EXPECT_GE(ka, kb);
    } else {
      EXPECT_LE(ka, kb);
    }
  }
  EXPECT_EQ(total, c.rows);  // every row counted once
}

INSTANTIATE_TEST_SUITE_P(Caches, GroupSpill,
                         testing::Values(SpillCase{"FewGroupsSmallCache", 4, 2, false},
                                         SpillCase{"ManyGroupsTinyCache", 30, 2, false},
                                         SpillCase{"ManyGroupsSomeCache", 30, 40, true},
                                         SpillCase{"AllDistinct", 200, 7, false},
                                         SpillCase{"ManyRowsInFiles", 200, 7, false, 40000}),
                         [](testing::TestParamInfo<SpillCase> const &info) { return std::string(info.param.name); });

// A child that takes no filter: what it is offered comes back as residual.
class NoFilterSource : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;
  int offered = 0;
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    ++offered;
    *residual = condition;
    return this;
  }
  void createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) override {
    ts->AppendToken(SQLNWTRSTable);
  }
};

std::string TokenBytes(SQLTokenString const &ts) {
  unsigned char const *bytes = nullptr;
  int n = 0;
  ts.GetString(bytes, n);
  return std::string(reinterpret_cast<char const *>(bytes), static_cast<size_t>(n));
}

TEST(Group, HavingOnAGroupingColumnRunsBeforeGroupingAndOnASetFunctionAfter) {
  auto *child = new NoFilterSource({SQL_INTEGER, SQL_INTEGER}, GroupRows());
  SQLRSGroup group(child, Columns({0}), AllFunctions(true));
  // g IS NOT NULL AND MIN(x) IS NULL, in the group's output positions.
  SQLRSSCSearchCond *having =
      new SQLRSSCAnd(new SQLRSSCNot(new SQLRSSCIsNull(new SQLRSSCColumnRef(0, 0, &kInt))),
                     new SQLRSSCIsNull(new SQLRSSCColumnRef(0, 3, &kInt)));
  SQLRSSCSearchCond *rest = nullptr;
  EXPECT_EQ(group.PushFilter(having, &rest), &group);
  EXPECT_EQ(child->offered, 1);
  ASSERT_NE(rest, nullptr);
  pSQLRSSCColumnRefList refs;
  rest->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  ASSERT_EQ(refs.NrElements(), 1);
  refs.First();
  EXPECT_EQ(refs.GetCurrent()->GetColumnId(), 3);
  delete rest;
  // In a description the condition kept below the grouping is a filter over
  // the child.
  SQLTokenString got, expected;
  group.createTokenString(&got, 0, nullptr);
  expected.AppendToken(SQLNWTRSGroup);
  std::unique_ptr<intList> columns(Columns({0}));
  std::unique_ptr<List<SQLRSGroupSpec>> specs(AllFunctions(true));
  SQLRSAppendGroupItems(&expected, columns.get(), specs.get(), 0, nullptr);
  expected.AppendToken(SQLNWTRSFilter);
  SQLRSSCNot kept(new SQLRSSCIsNull(new SQLRSSCColumnRef(0, 0, &kInt)));
  kept.createTokenString(&expected, 0, nullptr);
  expected.AppendToken(SQLNWTRSTable);
  EXPECT_EQ(TokenBytes(got), TokenBytes(expected));
  // The NULL group is gone before grouping.
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"1 2 2 5 10 15 7.5r", "2 2 1 3 3 3 3r", "3 1 0 N N N N"}));
}

TEST(Group, NothingMovesBelowAGroupWithoutGroupingColumns) {
  auto *child = new NoFilterSource({SQL_INTEGER, SQL_INTEGER}, {});
  SQLRSGroup group(child, Columns({}), AllFunctions(false));
  SQLRSSCSearchCond *rest = nullptr;
  group.PushFilter(new SQLRSSCIsNull(new SQLRSSCColumnRef(0, 0, &kInt)), &rest);
  EXPECT_EQ(child->offered, 0);
  ASSERT_NE(rest, nullptr);
  delete rest;
}

// Integer rows whose columns a pushed projection can pick and reorder.
class ProjectableSource : public StrictRowSource<SQLRowSource> {
 public:
  explicit ProjectableSource(std::vector<std::vector<int>> rows) : rows_(std::move(rows)) {
    for (size_t c = 0; c < rows_[0].size(); ++c) columns_.push_back(static_cast<int>(c));
    cells_.resize(columns_.size());
  }
  std::vector<int> offered;
  // Delivers the offered columns in reverse order.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *offer) override {
    std::vector<RefPtr<SQLRSSCValueExpr>> entries;
    for (bool more = offer->First(); more; more = offer->Next()) entries.push_back(offer->GetCurrent());
    *offer = SQLRSSCValueExprRefPtrList();
    columns_.clear();
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
      offer->Append(*e);
      columns_.push_back(static_cast<SQLRSSCColumnRef *>(e->Get())->GetColumnId());
    }
    for (auto const &e : entries) offered.push_back(static_cast<SQLRSSCColumnRef *>(e.Get())->GetColumnId());
    cells_.assign(columns_.size(), SQLValueStore());
    return this;
  }

 protected:
  int DoGetNumCols() override { return static_cast<int>(columns_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int) override { return &kInt; }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return &cells_[static_cast<size_t>(i)]; }
  void DoExec() override { next_ = 0; }
  int DoFetch() override {
    if (next_ >= rows_.size()) return 0;
    for (size_t i = 0; i < columns_.size(); ++i)
      cells_[i].SetInteger(rows_[next_][static_cast<size_t>(columns_[i])]);
    ++next_;
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  std::vector<std::vector<int>> rows_;
  std::vector<int> columns_;
  std::vector<SQLValueStore> cells_;
  size_t next_ = 0;
};

TEST(Group, APushedProjectionNarrowsTheGroupAndItsChild) {
  auto *child = new ProjectableSource({{1, 10, 0}, {2, 5, 0}, {1, 1, 0}});
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::CountStar());
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Ref(1)));
  SQLRSGroup group(child, Columns({0}), specs);
  SQLRSSCValueExprRefPtrList offer;
  offer.Append(Ref(2));
  offer.Append(Ref(0));
  EXPECT_EQ(group.PushProject(&offer), &group);
  EXPECT_EQ(child->offered, (std::vector<int>{0, 1}));
  std::vector<int> answer;
  for (bool more = offer.First(); more; more = offer.Next())
    answer.push_back(static_cast<SQLRSSCColumnRef *>(offer.GetCurrent().Get())->GetColumnId());
  EXPECT_EQ(answer, (std::vector<int>{2, 0}));
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"11 1", "5 2"}));
}

TEST(Group, AProjectionReadingNothingLeavesACountPerGroup) {
  auto *child = new ProjectableSource({{1, 10}, {2, 5}, {1, 1}});
  SQLRSGroup group(child, Columns({0}), AllFunctions(true));
  SQLRSSCValueExprRefPtrList offer;
  group.PushProject(&offer);
  EXPECT_EQ(offer.NrElements(), 1);
  EXPECT_EQ(child->offered, (std::vector<int>{0}));
  EXPECT_EQ(Rows(&group), (std::vector<std::string>{"2", "1"}));
}

TEST(Group, AttachReachesTheLeafBelowTheGroup) {
  auto *leaf = new FakeLeaf();
  SQLRSGroup group(leaf, Columns({}), AllFunctions(false));
  group.Attach(4);
  EXPECT_EQ(leaf->session, 4u);
  group.Close();
  EXPECT_FALSE(leaf->session.has_value());
}

// A grouping over groups made here stays above them, and a group is never
// part of a driver's join.
TEST(Group, AGroupingAboveAndAJoinAroundAreRefused) {
  SQLRSGroup group(Source(), Columns({0}), AllFunctions(true));
  bool accepted = true;
  EXPECT_EQ(group.PushGroup(nullptr, nullptr, &accepted), &group);
  EXPECT_FALSE(accepted);
  SQLDatabaseInstance *instance = nullptr;
  int tables = 0;
  bool combinable = true;
  EXPECT_EQ(group.CombineJoin(&instance, &tables, nullptr, &combinable), &group);
  EXPECT_FALSE(combinable);
  EXPECT_EQ(instance, nullptr);
}

TEST(GroupDeathTest, MessagesAGroupNeverReceivesStop) {
  SQLRSGroup group(Source(), Columns({0}), AllFunctions(true));
  EXPECT_DEATH(group.PullFilter(nullptr), "Unexpected message SQLRSGroup::PullFilter");
  EXPECT_DEATH(group.PullNullify(nullptr, nullptr), "Unexpected message SQLRSGroup::PullNullify");
}

}  // namespace
}  // namespace molvane::test
