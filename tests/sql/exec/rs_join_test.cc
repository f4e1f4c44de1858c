// The joins that run in the library: each join type over test sources, as
// built and after the optimiser parameterised the inner side, and the
// optimiser's messages.
#include "sql/exec/rs_join.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "absorbing_source.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_exception.h"
#include "support/test_env.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/exec/sc_subquery_cond.h"

namespace {

using namespace molvane::test;
using Pair = std::pair<std::optional<int>, std::optional<int>>;

std::optional<int> Value(SQLValueStore const *v) {
  if (v->IsNull()) return std::nullopt;
  return v->GetInteger();
}

// Runs a join whose sides have one INTEGER column each: (left, right) pairs.
std::vector<Pair> Pairs(SQLRowSource *rs) {
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  std::vector<Pair> out;
  for (int run = 0; run < 2; ++run) {  // a second execution gives the same rows
    rs->Exec();
    std::vector<Pair> rows;
    while (rs->Fetch()) rows.emplace_back(Value(rs->GetValueStoreAddr(0)), Value(rs->GetValueStoreAddr(1)));
    rs->Break();
    if (run == 0) out = rows;
    else EXPECT_EQ(rows, out);
  }
  return out;
}

// Runs a tree of INTEGER columns twice: the rows of all its columns.
std::vector<std::vector<std::optional<int>>> Tuples(SQLRowSource *rs) {
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  std::vector<std::vector<std::optional<int>>> out;
  for (int run = 0; run < 2; ++run) {
    rs->Exec();
    std::vector<std::vector<std::optional<int>>> rows;
    while (rs->Fetch()) {
      rows.emplace_back();
      for (int c = 0; c < rs->GetNumCols(); ++c) rows.back().push_back(Value(rs->GetValueStoreAddr(c)));
    }
    rs->Break();
    if (run == 0) out = rows;
    else EXPECT_EQ(rows, out);
  }
  return out;
}

std::vector<Row> IntRows(std::vector<int> values) {
  std::vector<Row> rows;
  for (int v : values) rows.push_back({Cell::Int(v)});
  return rows;
}

// left.0 = right.0 over two one-column sides.
SQLRSSCSearchCond *OnEqual() {
  return new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(Col(1)));
}

constexpr std::nullopt_t N = std::nullopt;

struct JoinCase {
  SQLJoinType type;
  std::vector<int> left, right;
  std::vector<Pair> expected;
};

std::vector<JoinCase> const kCases = {
    {SQL_JOIN_INNER, {1, 2, 3}, {2, 3, 3}, {{2, 2}, {3, 3}, {3, 3}}},
    {SQL_JOIN_INNER, {1}, {2}, {}},
    {SQL_JOIN_LEFT, {1, 2}, {2, 3}, {{1, N}, {2, 2}}},
    {SQL_JOIN_RIGHT, {1, 2}, {2, 3}, {{2, 2}, {N, 3}}},
    {SQL_JOIN_FULL, {1, 2}, {2, 3}, {{1, N}, {2, 2}, {N, 3}}},
    {SQL_JOIN_FULL, {}, {5}, {{N, 5}}},
    {SQL_JOIN_LEFT, {4}, {}, {{4, N}}},
};

TEST(Join, EveryTypeAsBuilt) {
  for (auto const &c : kCases) {
    SQLRSJoin join(c.type, new VectorRowSource({SQL_INTEGER}, IntRows(c.left)),
                   new VectorRowSource({SQL_INTEGER}, IntRows(c.right)), OnEqual());
    EXPECT_EQ(Pairs(&join), c.expected) << "type " << c.type;
  }
}

// A FULL join on a condition without equal columns walks its buffered right
// side once per left row; 5,000 right rows spill beyond the rows the buffer
// holds in memory. Every walk sees every row, and the flags of the rows that
// found a partner hold to the end, in both executions: the unmatched right
// rows come last, in their order, each once.
TEST(Join, FullJoinWalksASpilledRightSideAgainWithItsFlags) {
  std::vector<int> right;
  for (int v = 0; v < 5000; ++v) right.push_back(v);
  // left.0 * 1200 = right.0
  auto *on = new SQLRSSCComparison(Items(new SQLRSSCMultiply(Col(0), new SQLRSSCIntegerConst(1200))), SQLRSSC_EQUAL,
                                   Items(Col(1)));
  SQLRSJoin join(SQL_JOIN_FULL, new VectorRowSource({SQL_INTEGER}, IntRows({4, 1, 7, 4})),
                 new VectorRowSource({SQL_INTEGER}, IntRows(right)), on);
  std::vector<Pair> expected = {{4, 4800}, {1, 1200}, {7, N}, {4, 4800}};
  for (int v : right)
    if (v != 1200 && v != 4800) expected.emplace_back(N, v);
  EXPECT_EQ(Pairs(&join), expected);
}

// An INNER join's condition goes into its inner side, which runs once per
// outer row with the outer columns as parameters; an outer join reads its
// inner side once per execution and keeps the condition.
TEST(Join, EveryTypeWithTheInnerSideParameterisedOrReadOnceByTheOptimiser) {
  for (auto const &c : kCases) {
    auto *left = new Absorbing({SQL_INTEGER}, IntRows(c.left));
    auto *right = new Absorbing({SQL_INTEGER}, IntRows(c.right));
    auto *inner = c.type == SQL_JOIN_RIGHT ? left : right;
    std::unique_ptr<SQLRowSource> tree((new SQLRSJoin(c.type, left, right, OnEqual()))->OptimizeRS());
    auto *join = dynamic_cast<SQLRSJoin *>(tree.get());
    ASSERT_NE(join, nullptr);
    if (c.type != SQL_JOIN_INNER) {
      EXPECT_NE(join->GetCondition(), nullptr);
      EXPECT_EQ(c.type == SQL_JOIN_RIGHT ? join->GetLeft() : join->GetRight(), inner);
    } else {
      // The condition went into a filter over the inner side, reading the
      // outer column through a parameter.
      EXPECT_EQ(join->GetCondition(), nullptr);
      auto *filter = dynamic_cast<SQLRSFilter *>(c.type == SQL_JOIN_RIGHT ? join->GetLeft() : join->GetRight());
      ASSERT_NE(filter, nullptr);
      EXPECT_EQ(filter->GetChild(), inner);
      EXPECT_EQ(Columns(filter->GetCondition()), std::vector<int>{0});
    }
    EXPECT_EQ(Pairs(tree.get()), c.expected) << "type " << c.type;
    // Two executions: the inner side of INNER runs once per outer row, any
    // other once per execution.
    size_t outerRows = c.left.size();
    EXPECT_EQ(static_cast<size_t>(inner->execCalls), c.type == SQL_JOIN_INNER ? 2 * outerRows : 2u)
        << "type " << c.type;
  }
}

// An INNER join whose inner side joins tables itself reads that side once
// per execution; a WHERE conjunct over both sides joins its condition, and
// one over the inner side alone goes into that side, renumbered to it. A
// LEFT join there whose NULL rows the WHERE or the ON rejects is INNER.
TEST(Join, AnInnerJoinOverALocalJoinReadsItOncePerExecution) {
  // SELECT l.0, a.0 FROM l JOIN (a <below> b ON a.0 = b.0) [ON ...] WHERE
  // ...; the join's columns are l.0, a.0, b.0.
  struct Case {
    char const *name;
    std::function<SQLRSSCSearchCond *()> on, where;
    std::vector<Pair> expected;
    SQLJoinType below = SQL_JOIN_INNER;
    SQLJoinType planned = SQL_JOIN_INNER;  // the type of the join below once optimised
  } const cases[] = {
      {"WHERE l = a", nullptr, [] { return OnEqual(); }, {{2, 2}, {3, 3}}},
      {"ON l = a WHERE l <= b", [] { return OnEqual(); },
       [] { return new SQLRSSCComparison(Items(Col(0)), SQLRSSC_LESS_THAN_OR_EQUAL, Items(Col(2))); },
       {{2, 2}, {3, 3}}},
      {"ON l = a WHERE b >= 3", [] { return OnEqual(); }, [] { return Cmp(2, SQLRSSC_GREATER_THAN_OR_EQUAL, 3); },
       {{3, 3}}},
      {"ON l = a WHERE b >= 3, a LEFT JOIN b", [] { return OnEqual(); },
       [] { return Cmp(2, SQLRSSC_GREATER_THAN_OR_EQUAL, 3); }, {{3, 3}}, SQL_JOIN_LEFT, SQL_JOIN_INNER},
      {"ON l = b WHERE l >= 0, a LEFT JOIN b",
       [] { return new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(Col(2))); },
       [] { return Cmp(0, SQLRSSC_GREATER_THAN_OR_EQUAL, 0); }, {{2, 2}, {3, 3}}, SQL_JOIN_LEFT, SQL_JOIN_INNER},
      {"ON l = a WHERE b IS NULL OR b >= 3, a LEFT JOIN b", [] { return OnEqual(); },
       [] { return new SQLRSSCOr(new SQLRSSCIsNull(Col(2)), Cmp(2, SQLRSSC_GREATER_THAN_OR_EQUAL, 3)); }, {{3, 3}},
       SQL_JOIN_LEFT, SQL_JOIN_LEFT},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    auto *left = new Absorbing({SQL_INTEGER}, IntRows({1, 2, 3}));
    auto *a = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 4}));
    auto *b = new Absorbing({SQL_INTEGER}, IntRows({3, 2}));
    auto *inner = new SQLRSJoin(c.below, a, b, OnEqual());
    auto *join = new SQLRSJoin(SQL_JOIN_INNER, left, inner, c.on ? c.on() : nullptr);
    std::unique_ptr<SQLRowSource> tree((new SQLRSFilter(join, c.where()))->OptimizeRS());
    ASSERT_EQ(tree.get(), join);
    EXPECT_NE(join->GetCondition(), nullptr);
    EXPECT_EQ(inner->GetJoinType(), c.planned);
    EXPECT_EQ(Pairs(tree.get()), c.expected);
    EXPECT_EQ(a->execCalls, 2);
  }
}

// (a JOIN b ON a.0 = b.0) JOIN t ON a.0 <op> t.0: the outer side joins
// tables, the inner side is one table. With an equality t is read once per
// execution and hashed; otherwise it is asked once per joined row, with a.0
// as a parameter.
TEST(Join, AnInnerJoinOfAJoinAndOneTableReadsTheTableOnceWhenItCanHashIt) {
  for (SQLRSSCCompOperator op : {SQLRSSC_EQUAL, SQLRSSC_LESS_THAN}) {
    SCOPED_TRACE(op);
    auto *a = new Absorbing({SQL_INTEGER}, IntRows({1, 2, 3, 3}));
    auto *b = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 3, 4}));
    auto *t = new Absorbing({SQL_INTEGER}, IntRows({3, 4}));
    auto *ab = new SQLRSJoin(SQL_JOIN_INNER, a, b, OnEqual());
    std::unique_ptr<SQLRowSource> tree(
        (new SQLRSJoin(SQL_JOIN_INNER, ab, t, new SQLRSSCComparison(Items(Col(0)), op, Items(Col(2)))))->OptimizeRS());
    // a and b join in (2, 2) and four times (3, 3).
    std::vector<std::vector<std::optional<int>>> expected =
        op == SQLRSSC_EQUAL ? std::vector<std::vector<std::optional<int>>>(4, {3, 3, 3})
                            : std::vector<std::vector<std::optional<int>>>{
                                  {2, 2, 3}, {2, 2, 4}, {3, 3, 4}, {3, 3, 4}, {3, 3, 4}, {3, 3, 4}};
    EXPECT_EQ(Tuples(tree.get()), expected);
    EXPECT_EQ(t->execCalls, op == SQLRSSC_EQUAL ? 2 : 10);  // two executions
  }
}

// (l RIGHT JOIN r ON l.0 = r.0) INNER JOIN t ON <x>.0 = t.0 over local
// sources: when x is r, the preserved side of the RIGHT join, r and t are
// joined first, l RIGHT JOIN (r JOIN t); when x is l, the joins stay. The
// rows are those of the tree run as built, in the same columns.
TEST(Join, AnInnerJoinOverARightJoinJoinsItsPreservedSideFirst) {
  for (int x : {1, 0}) {
    auto build = [x](Absorbing **t) {
      auto *l = new Absorbing({SQL_INTEGER}, IntRows({1, 2, 2, 5}));
      auto *r = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 4, 5}));
      *t = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 3, 6}));
      auto *lr = new SQLRSJoin(SQL_JOIN_RIGHT, l, r, OnEqual());
      return new SQLRSJoin(SQL_JOIN_INNER, lr, *t, new SQLRSSCComparison(Items(Col(x)), SQLRSSC_EQUAL, Items(Col(2))));
    };
    Absorbing *t = nullptr;
    std::unique_ptr<SQLRowSource> asBuilt(build(&t));
    std::unique_ptr<SQLRowSource> tree(build(&t)->OptimizeRS());
    auto *top = dynamic_cast<SQLRSJoin *>(tree.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->GetJoinType(), x == 1 ? SQL_JOIN_RIGHT : SQL_JOIN_INNER) << x;
    if (x == 1) {
      auto *below = dynamic_cast<SQLRSJoin *>(top->GetRight());
      ASSERT_NE(below, nullptr);
      EXPECT_EQ(below->GetJoinType(), SQL_JOIN_INNER);
    }
    std::vector<std::vector<std::optional<int>>> expected =
        x == 1 ? std::vector<std::vector<std::optional<int>>>{{2, 2, 2}, {2, 2, 2}, {N, 3, 3}, {N, 3, 3}}
               : std::vector<std::vector<std::optional<int>>>{{2, 2, 2}, {2, 2, 2}};
    auto sorted = [](std::vector<std::vector<std::optional<int>>> rows) {
      std::sort(rows.begin(), rows.end());
      return rows;
    };
    EXPECT_EQ(sorted(Tuples(tree.get())), sorted(expected)) << x;
    EXPECT_EQ(sorted(Tuples(asBuilt.get())), sorted(expected)) << x;
  }
}

// SELECT * FROM l, r WHERE l.0 = r.0 AND <a condition on r + 0 * l holding
// a subquery over s>: the condition reads both sides, so that the inner
// side r runs once per outer row under a filter that is broken off and
// started again each time. An uncorrelated subquery runs once per
// execution; a correlated one once per distinct value of the outer column
// it reads, in every execution.
TEST(Join, ASubqueryOnTheInnerSideRunsOncePerExecutionOrOuterValue) {
  auto sub = [](std::vector<int> rows) { return new Absorbing({SQL_INTEGER}, IntRows(rows)); };
  auto outerRef = [] { return new SQLRSSCColumnRef(-1, 1, &kIntColumn); };  // r.0 from inside the subquery
  auto r0 = [] {  // r.0 + 0 * l.0 in the join's row
    return new SQLRSSCAdd(new SQLRSSCColumnRef(0, 1, &kIntColumn),
                          new SQLRSSCMultiply(new SQLRSSCIntegerConst(0), new SQLRSSCColumnRef(0, 0, &kIntColumn)));
  };
  struct Case {
    char const *name;
    std::function<SQLRSSCSearchCond *(Absorbing **)> condition;
    int runsPerExecution;
    bool all;  // every pair qualifies (else those of 3 and 4)
  } const cases[] = {
      {"r.0 + 0 * l.0 IN (SELECT s.0 FROM s)",
       [&](Absorbing **s) { return new SQLRSSCInSubquery(r0(), *s = sub({3, 4, 9})); }, 1, false},
      {"r.0 + 0 * l.0 = 0 OR NOT EXISTS (SELECT * FROM s WHERE s.0 = 7)",
       [&](Absorbing **s) {
         auto *none = new SQLRSSCNot(
             new SQLRSSCExists(new SQLRSFilter(*s = sub({3, 4, 9}), Cmp(0, SQLRSSC_EQUAL, 7))));
         return new SQLRSSCOr(new SQLRSSCComparison(Items(r0()), SQLRSSC_EQUAL, Items(new SQLRSSCIntegerConst(0))),
                              none);
       }, 1, true},
      {"r.0 + 0 * l.0 < (SELECT s.0 FROM s WHERE s.0 = 9)",
       [&](Absorbing **s) {
         auto *one = new SQLRSFilter(*s = sub({3, 4, 9}), Cmp(0, SQLRSSC_EQUAL, 9));
         return new SQLRSSCComparison(Items(r0()), SQLRSSC_LESS_THAN, Items(new SQLRSSCScalarSubquery(one)));
       }, 1, true},
      // The condition is evaluated for the inner values 2, 3, 3, 3, 4 that
      // meet an outer row: three distinct.
      {"r.0 + 0 * l.0 IN (SELECT s.0 FROM s WHERE s.0 >= r.0)",
       [&](Absorbing **s) {
         auto *rows = new SQLRSFilter(*s = sub({3, 4, 9}),
                                      new SQLRSSCComparison(Items(Col(0)), SQLRSSC_GREATER_THAN_OR_EQUAL, Items(outerRef())));
         return new SQLRSSCInSubquery(r0(), rows);
       }, 3, false},
      {"EXISTS (SELECT * FROM s WHERE s.0 = r.0 + 0 * l.0)",
       [&](Absorbing **s) {
         auto *both = new SQLRSSCAdd(outerRef(), new SQLRSSCMultiply(new SQLRSSCIntegerConst(0),
                                                                    new SQLRSSCColumnRef(-1, 0, &kIntColumn)));
         return new SQLRSSCExists(
             new SQLRSFilter(*s = sub({3, 4, 9}), new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(both))));
       }, 3, false},
      {"r.0 + 0 * l.0 = (SELECT s.0 FROM s WHERE s.0 = r.0)",
       [&](Absorbing **s) {
         auto *one = new SQLRSFilter(*s = sub({3, 4, 9}),
                                     new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(outerRef())));
         return new SQLRSSCComparison(Items(r0()), SQLRSSC_EQUAL, Items(new SQLRSSCScalarSubquery(one)));
       }, 3, false},
  };
  for (auto const &c : cases) {
    auto *left = new Absorbing({SQL_INTEGER}, IntRows({1, 2, 3, 3, 3, 4}));
    auto *right = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 4}));
    Absorbing *s = nullptr;
    SQLRSSCSearchCond *condition = c.condition(&s);
    std::unique_ptr<SQLRowSource> tree(
        (new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, left, right, OnEqual()), condition))->OptimizeRS());
    std::vector<Pair> expected = {{3, 3}, {3, 3}, {3, 3}, {4, 4}};
    if (c.all) expected.insert(expected.begin(), {2, 2});
    EXPECT_EQ(Pairs(tree.get()), expected) << c.name;
    EXPECT_EQ(right->execCalls, 12) << c.name;  // per outer row, in both executions
    EXPECT_EQ(s->execCalls, 2 * c.runsPerExecution) << c.name;
  }
}

// SELECT * FROM (l WHERE <a condition holding an uncorrelated subquery
// over s>) LEFT JOIN r ON l.0 = r.0: the subquery is answered before l is
// read, and when that answer leaves no l row TRUE (an empty IN, one of
// NULLs only, a false EXISTS), neither l nor the join's inner side r is
// read; a FULL join still reads r. NULL outer values keep IN's
// three-valued logic.
TEST(Join, AnUncorrelatedSubqueryThatNoRowMeetsSparesReadingTheTables) {
  auto in = [](std::vector<Row> rows, Absorbing **s) {
    return new SQLRSSCInSubquery(Col(0), *s = new Absorbing({SQL_INTEGER}, std::move(rows)));
  };
  auto exists = [](int value, Absorbing **s) {
    return new SQLRSSCExists(new SQLRSFilter(*s = new Absorbing({SQL_INTEGER}, IntRows({3, 7})),
                                             Cmp(0, SQLRSSC_EQUAL, value)));
  };
  std::vector<Row> const none, nulls = {{Cell::Null()}}, two = {{Cell::Null()}, {Cell::Int(2)}};
  struct Case {
    char const *name;
    SQLJoinType type;
    std::function<SQLRSSCSearchCond *(Absorbing **)> condition;
    std::vector<Pair> expected;
    bool readsL, readsR;
  } const cases[] = {
      {"l.0 IN (empty)", SQL_JOIN_LEFT, [&](Absorbing **s) { return in(none, s); }, {}, false, false},
      {"l.0 IN (NULL)", SQL_JOIN_LEFT, [&](Absorbing **s) { return in(nulls, s); }, {}, false, false},
      {"l.0 IN (NULL, 2)", SQL_JOIN_LEFT, [&](Absorbing **s) { return in(two, s); }, {{2, 2}}, true, true},
      {"NOT l.0 IN (empty)", SQL_JOIN_LEFT, [&](Absorbing **s) { return new SQLRSSCNot(in(none, s)); },
       {{1, N}, {2, 2}, {N, N}}, true, true},
      {"l.0 >= 1 AND l.0 IN (empty)", SQL_JOIN_LEFT,
       [&](Absorbing **s) { return new SQLRSSCAnd(Cmp(0, SQLRSSC_GREATER_THAN_OR_EQUAL, 1), in(none, s)); }, {},
       false, false},
      {"l.0 = 1 OR l.0 IN (empty)", SQL_JOIN_LEFT,
       [&](Absorbing **s) { return new SQLRSSCOr(Cmp(0, SQLRSSC_EQUAL, 1), in(none, s)); }, {{1, N}}, true, true},
      {"EXISTS (SELECT * FROM s WHERE s.0 = 5)", SQL_JOIN_LEFT, [&](Absorbing **s) { return exists(5, s); }, {},
       false, false},
      {"EXISTS (SELECT * FROM s WHERE s.0 = 7)", SQL_JOIN_LEFT, [&](Absorbing **s) { return exists(7, s); },
       {{1, N}, {2, 2}, {N, N}}, true, true},
      {"FULL, l.0 IN (empty)", SQL_JOIN_FULL, [&](Absorbing **s) { return in(none, s); }, {{N, 2}, {N, 3}}, false,
       true},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    auto *l = new Absorbing({SQL_INTEGER}, {{Cell::Int(1)}, {Cell::Int(2)}, {Cell::Null()}});
    auto *r = new Absorbing({SQL_INTEGER}, IntRows({2, 3}));
    l->refuseSubqueries = true;
    Absorbing *s = nullptr;
    SQLRSSCSearchCond *condition = c.condition(&s);
    std::unique_ptr<SQLRowSource> tree(
        (new SQLRSJoin(c.type, new SQLRSFilter(l, condition), r, OnEqual()))->OptimizeRS());
    EXPECT_EQ(Pairs(tree.get()), c.expected);
    EXPECT_EQ(l->execCalls, c.readsL ? 2 : 0);
    EXPECT_EQ(r->execCalls, c.readsR ? 2 : 0);
    EXPECT_EQ(s->execCalls, 2);  // once per execution
  }
}

// SELECT * FROM l JOIN r ON l.0 = r.0 WHERE NOT EXISTS (SELECT * FROM s
// WHERE s.0 = l.0) AND <cheap>: the correlated subquery is the dear part
// of l's rows. A cheap conjunct that leaves no row stops the work before
// it: one that no row can meet (inverted BETWEEN bounds, a false
// comparison of an uncorrelated subquery) reads neither table, one on r
// that no r row meets reads r once and not l, one on l runs before the
// subquery on each row, and r is not read for rows that it drops. The subquery runs once per distinct l value that
// reaches it, in each of the two executions.
TEST(Join, ACheapConditionThatLeavesNoRowSparesTheDearSubquery) {
  struct Case {
    char const *name;
    std::function<SQLRSSCSearchCond *(Absorbing **)> cheap;
    std::vector<Pair> expected;
    int readsL, readsR, dearRuns;
  } const cases[] = {
      {"r.0 BETWEEN 3 AND 2",
       [](Absorbing **) {
         return new SQLRSSCBetween(Items(Col(1)), Items(new SQLRSSCIntegerConst(3)),
                                   Items(new SQLRSSCIntegerConst(2)));
       },
       {}, 0, 0, 0},
      {"(SELECT t.0 FROM t WHERE t.0 = 7) > 1000",
       [](Absorbing **t) {
         auto *one = new SQLRSFilter(*t = new Absorbing({SQL_INTEGER}, IntRows({3, 7})), Cmp(0, SQLRSSC_EQUAL, 7));
         return new SQLRSSCComparison(Items(new SQLRSSCScalarSubquery(one)), SQLRSSC_GREATER_THAN,
                                      Items(new SQLRSSCIntegerConst(1000)));
       },
       {}, 0, 0, 0},
      {"r.0 < 0", [](Absorbing **) { return Cmp(1, SQLRSSC_LESS_THAN, 0); }, {}, 0, 2, 0},
      {"l.0 > 100", [](Absorbing **) { return Cmp(0, SQLRSSC_GREATER_THAN, 100); }, {}, 2, 0, 0},
      {"r.0 BETWEEN 3 AND 4",
       [](Absorbing **) {
         return new SQLRSSCBetween(Items(Col(1)), Items(new SQLRSSCIntegerConst(3)),
                                   Items(new SQLRSSCIntegerConst(4)));
       },
       {{3, 3}}, 2, 2, 6},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    auto *l = new Absorbing({SQL_INTEGER}, IntRows({1, 2, 3}));
    auto *r = new Absorbing({SQL_INTEGER}, IntRows({2, 3, 4}));
    auto *s = new Absorbing({SQL_INTEGER}, IntRows({9}));
    l->refuseSubqueries = r->refuseSubqueries = true;
    Absorbing *t = nullptr;
    auto *dear = new SQLRSSCNot(new SQLRSSCExists(new SQLRSFilter(
        s, new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(new SQLRSSCColumnRef(-1, 0, &kIntColumn))))));
    auto *where = new SQLRSSCAnd(dear, c.cheap(&t));
    std::unique_ptr<SQLRowSource> tree(
        (new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, l, r, OnEqual()), where))->OptimizeRS());
    EXPECT_EQ(Pairs(tree.get()), c.expected);
    EXPECT_EQ(l->execCalls, c.readsL);
    EXPECT_EQ(r->execCalls, c.readsR);
    EXPECT_EQ(s->execCalls, c.dearRuns);
    if (t != nullptr) {
      EXPECT_EQ(t->execCalls, 2);  // once per execution
    }
  }
}

// (l <join> (r WHERE <fixed>)) INNER JOIN t, and the same with a join of
// two tables as the outer join's preserved operand: an outer join of which
// a fixed condition empties the other side still yields its preserved
// side's rows (with NULLs); one whose preserved side a fixed condition
// empties yields none, and the INNER join over it then reads neither t
// nor anything else. A BETWEEN of equal constant bounds keeps its value.
TEST(Join, AnOuterJoinYieldsNoRowOnlyWhenItsPreservedSideYieldsNone) {
  auto empty = [] {
    return new SQLRSSCBetween(Items(Col(0)), Items(new SQLRSSCIntegerConst(3)), Items(new SQLRSSCIntegerConst(2)));
  };
  auto equal = [] {
    return new SQLRSSCBetween(Items(Col(0)), Items(new SQLRSSCIntegerConst(2)), Items(new SQLRSSCIntegerConst(2)));
  };
  auto side = [](std::vector<int> values, SQLRSSCSearchCond *fixed, Absorbing **made) -> SQLRowSource * {
    *made = new Absorbing({SQL_INTEGER}, IntRows(std::move(values)));
    return fixed != nullptr ? static_cast<SQLRowSource *>(new SQLRSFilter(*made, fixed)) : *made;
  };
  using Tuple = std::vector<std::optional<int>>;
  struct Case {
    char const *name;
    // The outer join of the left and right operands; m (null when the
    // preserved operand is one table) joins l INNER on l.0 = m.0.
    SQLJoinType type;
    std::function<SQLRSSCSearchCond *()> onL, onM, onR;
    bool withM;
    std::vector<Tuple> expected;  // (l, [m,] r, t)
    bool readsT;
  } const cases[] = {
      {"l LEFT JOIN (r BETWEEN 3 AND 2)", SQL_JOIN_LEFT, nullptr, nullptr, empty, false, {{1, N, 1}, {2, N, 2}}, true},
      {"l FULL JOIN (r BETWEEN 3 AND 2)", SQL_JOIN_FULL, nullptr, nullptr, empty, false, {{1, N, 1}, {2, N, 2}}, true},
      {"(l BETWEEN 3 AND 2) RIGHT JOIN r", SQL_JOIN_RIGHT, empty, nullptr, nullptr, false, {{N, 2, 2}}, true},
      {"l LEFT JOIN (r BETWEEN 2 AND 2)", SQL_JOIN_LEFT, nullptr, nullptr, equal, false, {{1, N, 1}, {2, 2, 2}}, true},
      {"(l BETWEEN 3 AND 2) LEFT JOIN r", SQL_JOIN_LEFT, empty, nullptr, nullptr, false, {}, false},
      {"(l BETWEEN 3 AND 2) FULL JOIN r", SQL_JOIN_FULL, empty, nullptr, nullptr, false, {{N, 2, 2}}, true},
      {"(l JOIN m) LEFT JOIN (r BETWEEN 3 AND 2)", SQL_JOIN_LEFT, nullptr, nullptr, empty, true,
       {{1, 1, N, 1}, {2, 2, N, 2}}, true},
      {"(l JOIN (m BETWEEN 3 AND 2)) LEFT JOIN r", SQL_JOIN_LEFT, nullptr, empty, nullptr, true, {}, false},
      {"(l JOIN (m BETWEEN 2 AND 2)) LEFT JOIN r", SQL_JOIN_LEFT, nullptr, equal, nullptr, true, {{2, 2, 2, 2}},
       true},
      {"(l JOIN m) FULL JOIN (r BETWEEN 3 AND 2)", SQL_JOIN_FULL, nullptr, nullptr, empty, true,
       {{1, 1, N, 1}, {2, 2, N, 2}}, true},
      {"(l JOIN m) RIGHT JOIN (r BETWEEN 2 AND 2)", SQL_JOIN_RIGHT, nullptr, nullptr, equal, true, {{2, 2, 2, 2}},
       true},
  };
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    Absorbing *l = nullptr, *m = nullptr, *r = nullptr, *t = nullptr;
    SQLRowSource *preserved = side({1, 2}, c.onL ? c.onL() : nullptr, &l);
    if (c.withM)
      preserved = new SQLRSJoin(SQL_JOIN_INNER, preserved, side({1, 2}, c.onM ? c.onM() : nullptr, &m), OnEqual());
    int const width = c.withM ? 2 : 1;
    // The outer join on l.0 = r.0; t joins on the first column that is not
    // NULL among l and r (r for a RIGHT join).
    auto *on = new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(Col(width)));
    auto *outer = new SQLRSJoin(c.type, preserved, side({2}, c.onR ? c.onR() : nullptr, &r), on);
    int const key = c.type == SQL_JOIN_RIGHT ? width : 0;
    SQLRowSource *tree = nullptr;
    if (c.type == SQL_JOIN_FULL) {
      // Either side: l.0 = t.0 OR r.0 = t.0.
      auto *either = new SQLRSSCOr(new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL, Items(Col(width + 1))),
                                   new SQLRSSCComparison(Items(Col(width)), SQLRSSC_EQUAL, Items(Col(width + 1))));
      tree = new SQLRSJoin(SQL_JOIN_INNER, outer, side({1, 2}, nullptr, &t), either);
    } else {
      tree = new SQLRSJoin(SQL_JOIN_INNER, outer, side({1, 2}, nullptr, &t),
                           new SQLRSSCComparison(Items(Col(key)), SQLRSSC_EQUAL, Items(Col(width + 1))));
    }
    std::unique_ptr<SQLRowSource> joined(tree);
    std::vector<Tuple> rows = Tuples(joined.get());
    std::sort(rows.begin(), rows.end());
    std::vector<Tuple> expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(t->execCalls > 0, c.readsT);
  }
}

// SELECT * FROM l JOIN (m JOIN (r WHERE 1 / (r.0 - r.0) > 0)) ON l.0 =
// m.0: the inner side joins tables and is read once, before l; reading it
// fails. The nested loop reads it only for a row of l: over an empty l the
// statement answers no row, over any l row it fails with the error, in
// every execution. A time-out or a lost driver while reading it is no
// row's error: the statement fails with it over an empty l too.
TEST(Join, AnInnerSideReadFirstFailsOnlyAtTheFirstOuterRow) {
  struct Case {
    char const *what;
    int error;  // 0: the division by zero of r's rows, else r's fetch fails with it
  };
  for (Case const c : {Case{"a row's division by zero", 0}, Case{"a time-out", 313}, Case{"a lost driver", 510}}) {
    for (bool outerRows : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (outerRows ? ", l has rows" : ", l is empty"));
      auto *failing = new SQLRSSCComparison(
          Items(new SQLRSSCDivide(new SQLRSSCIntegerConst(1), new SQLRSSCSubtract(Col(0), Col(0)))),
          SQLRSSC_GREATER_THAN, Items(new SQLRSSCIntegerConst(0)));
      auto *r = new Absorbing({SQL_INTEGER}, IntRows({1, 2}));
      if (c.error != 0) r->onFetch = [error = c.error](int) { throw SQLExZDBError(error); };
      SQLRowSource *filtered = c.error != 0 ? static_cast<SQLRowSource *>(r) : new SQLRSFilter(r, failing);
      if (c.error != 0) delete failing;
      auto *inner = new SQLRSJoin(SQL_JOIN_INNER, new Absorbing({SQL_INTEGER}, IntRows({1, 2})), filtered, OnEqual());
      auto *l = new Absorbing({SQL_INTEGER}, IntRows(outerRows ? std::vector<int>{1} : std::vector<int>{}));
      std::unique_ptr<SQLRowSource> tree((new SQLRSJoin(SQL_JOIN_INNER, l, inner, OnEqual()))->OptimizeRS());
      SQLRSPrepareContext context;
      tree->Prepare(&context);
      for (int run = 0; run < 2; ++run) {
        if (c.error != 0) {
          // At Exec, or at the first fetch: not an answer without rows.
          EXPECT_THROW(
              {
                tree->Exec();
                tree->Fetch();
              },
              SQLExZDBError);
        } else {
          tree->Exec();
          if (outerRows) {
            EXPECT_THROW(tree->Fetch(), SQLExDEDivisionByZero);
          } else {
            EXPECT_EQ(tree->Fetch(), 0);
          }
        }
        tree->Break();
      }
      EXPECT_EQ(r->execCalls, 2);  // read first, once per execution
    }
  }
}

// One INTEGER array column of depth 2 per row.
class ArraySource : public StrictRowSource<SQLRowSource> {
 public:
  explicit ArraySource(int rows) : rows_(rows) { cell_.SetDimension(2); }

 protected:
  int DoGetNumCols() override { return 1; }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int) override { return &d_; }
  SQLValueStore const *DoGetValueStoreAddr(int) override { return &cell_; }
  void DoExec() override { next_ = 0; }
  int DoFetch() override {
    if (next_ >= rows_) return 0;
    cell_.GetElement(0)->SetInteger(next_);
    cell_.GetElement(1)->SetInteger(next_++);
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  int rows_;
  int next_ = 0;
  SQLColumnDescriptor d_{"a", SQL_INTEGER, 4, 2};
  SQLValueStore cell_;
};

TEST(Join, LeftJoinWithoutPartnerKeepsTheArrayDimensionWithNullElements) {
  SQLRSJoin join(SQL_JOIN_LEFT, new VectorRowSource({SQL_INTEGER}, IntRows({1})), new ArraySource(0), nullptr);
  SQLRSPrepareContext context;
  join.Prepare(&context);
  join.Exec();
  ASSERT_EQ(join.Fetch(), 1);
  SQLValueStore const *a = join.GetValueStoreAddr(1);
  ASSERT_EQ(a->GetType(), SQL_ARRAY);
  ASSERT_EQ(a->GetDimension(), 2);
  EXPECT_TRUE(a->GetElement(0)->IsNull());
  EXPECT_TRUE(a->GetElement(1)->IsNull());
  EXPECT_EQ(join.Fetch(), 0);
}

TEST(Join, ConstLeftOuterJoinGivesOneNullRowWhenNothingQualifies) {
  struct Case {
    std::vector<int> rows;
    std::vector<std::optional<int>> expected;
  } cases[] = {{{1, 2}, {N}}, {{}, {N}}, {{5, 1, 5}, {5, 5}}};
  for (bool optimise : {false, true}) {
    for (auto const &c : cases) {
      SQLRowSource *rs = new SQLRSConstLeftOuterJoin(new Absorbing({SQL_INTEGER}, IntRows(c.rows)), Cmp(0, SQLRSSC_EQUAL, 5));
      std::unique_ptr<SQLRowSource> tree(optimise ? rs->OptimizeRS() : rs);
      SQLRSPrepareContext context;
      tree->Prepare(&context);
      tree->Exec();
      std::vector<std::optional<int>> got;
      while (tree->Fetch()) got.push_back(Value(tree->GetValueStoreAddr(0)));
      EXPECT_EQ(got, c.expected);
      EXPECT_EQ(tree->Fetch(), 0);
    }
  }
}

TEST(Join, RejectsAllOnNullifiedColumnsByType) {
  auto rejecting = [] { return new SQLRSFilter(new VectorRowSource({SQL_INTEGER}, {}), Cmp(0, SQLRSSC_EQUAL, 1)); };
  auto plain = [] { return new VectorRowSource({SQL_INTEGER}, {}); };
  struct Case {
    SQLJoinType type;
    bool leftRejects, rightRejects, expected;
  } cases[] = {
      {SQL_JOIN_INNER, true, false, true},  {SQL_JOIN_INNER, false, false, false},
      {SQL_JOIN_LEFT, false, true, false},  {SQL_JOIN_LEFT, true, false, true},
      {SQL_JOIN_RIGHT, false, true, true},  {SQL_JOIN_FULL, true, false, false},
      {SQL_JOIN_FULL, true, true, true},
  };
  for (auto const &c : cases) {
    SQLRSJoin join(c.type, c.leftRejects ? static_cast<SQLRowSource *>(rejecting()) : plain(),
                   c.rightRejects ? static_cast<SQLRowSource *>(rejecting()) : plain(), nullptr);
    List<Interval<int>> columns;
    columns.Append(Interval<int>(0, 0));
    EXPECT_EQ(join.RejectsAllOnNullifiedCols(0, &columns), c.expected) << c.type;
  }
}

TEST(Join, SortGoesToTheOuterSideRenumberedOrIsRefused) {
  struct Case {
    SQLJoinType type;
    std::vector<int> columns;  // join columns; the left side has 2
    bool accepted;
    std::vector<int> seenLeft, seenRight;
  } cases[] = {
      {SQL_JOIN_INNER, {1, 0}, true, {1, 0}, {}},
      {SQL_JOIN_INNER, {0, 2}, false, {}, {}},
      {SQL_JOIN_RIGHT, {3, 2}, true, {}, {1, 0}},
      {SQL_JOIN_RIGHT, {0}, false, {}, {}},
  };
  for (auto const &c : cases) {
    auto *left = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    auto *right = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    left->acceptSort = right->acceptSort = true;
    SQLRSJoin join(c.type, left, right, nullptr);
    auto *specs = new SQLSortSpecList;
    for (int col : c.columns) specs->Append(SQLSortSpec(col, SQLSortSpec::kAscending));
    bool accepted = join.PushSort(specs);
    if (!accepted) delete specs;
    EXPECT_EQ(accepted, c.accepted);
    std::vector<int> seenLeft, seenRight;
    for (auto const &s : left->sortSeen) seenLeft.push_back(s.first);
    for (auto const &s : right->sortSeen) seenRight.push_back(s.first);
    EXPECT_EQ(seenLeft, c.seenLeft);
    EXPECT_EQ(seenRight, c.seenRight);
  }
}

// The unmatched right rows of a FULL join come last with a NULL left side:
// right for an ascending order (NULLs last), wrong for a descending one.
TEST(Join, FullJoinTakesOnlyAscendingSortsOnTheLeft) {
  for (int direction : {SQLSortSpec::kAscending, SQLSortSpec::kDescending}) {
    auto *left = new Absorbing({SQL_INTEGER}, {});
    left->acceptSort = true;
    SQLRSJoin join(SQL_JOIN_FULL, left, new Absorbing({SQL_INTEGER}, {}), nullptr);
    auto *specs = new SQLSortSpecList;
    specs->Append(SQLSortSpec(0, direction));
    bool accepted = join.PushSort(specs);
    if (!accepted) delete specs;
    EXPECT_EQ(accepted, direction == SQLSortSpec::kAscending);
  }
}

TEST(Join, FilterConjunctsGoToTheSideTheyReadOrStay) {
  // Sides of two columns each; join columns 0-1 left, 2-3 right.
  auto both = [] { return new SQLRSSCComparison(Items(Col(1)), SQLRSSC_EQUAL, Items(Col(3))); };
  for (SQLJoinType type : {SQL_JOIN_INNER, SQL_JOIN_LEFT}) {
    auto *left = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    auto *right = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    left->shippable = right->shippable = {0, 1};
    SQLRSJoin join(type, left, right, nullptr);
    SQLRSSCSearchCond *rest = nullptr;
    join.PushFilter(new SQLRSSCAnd(Cmp(0, SQLRSSC_EQUAL, 1), both()), &rest);
    std::unique_ptr<SQLRSSCSearchCond> owned(rest);
    ASSERT_EQ(left->taken.size(), 1u);
    EXPECT_EQ(Columns(left->taken[0].get()), std::vector<int>{0});
    if (type == SQL_JOIN_INNER) {
      // The left column became a parameter; the right one is renumbered.
      EXPECT_EQ(rest, nullptr);
      ASSERT_EQ(right->taken.size(), 1u);
      EXPECT_EQ(Columns(right->taken[0].get()), std::vector<int>{1});
    } else {
      ASSERT_NE(rest, nullptr);
      EXPECT_EQ(Columns(rest), (std::vector<int>{1, 3}));
      EXPECT_TRUE(right->taken.empty());
    }
  }
}

TEST(Join, ProjectionNarrowsBothSidesAndKeepsTheConditionsColumns) {
  // left (0,1,2), right (3,4); ON left.1 = right.3; SELECT left.0, right.4
  std::vector<Row> leftRows = {{Cell::Int(10), Cell::Int(1), Cell::Int(7)}, {Cell::Int(20), Cell::Int(2), Cell::Int(7)}};
  std::vector<Row> rightRows = {{Cell::Int(2), Cell::Int(200)}, {Cell::Int(1), Cell::Int(100)}};
  auto *left = new Absorbing({SQL_INTEGER, SQL_INTEGER, SQL_INTEGER}, leftRows);
  auto *right = new Absorbing({SQL_INTEGER, SQL_INTEGER}, rightRows);
  left->leafProject = right->leafProject = true;
  SQLRSJoin join(SQL_JOIN_INNER, left, right, new SQLRSSCComparison(Items(Col(1)), SQLRSSC_EQUAL, Items(Col(3))));
  SQLRSSCValueExprRefPtrList list;
  list.Append(RefPtr<SQLRSSCValueExpr>(Col(0)));
  list.Append(RefPtr<SQLRSSCValueExpr>(Col(4)));
  join.PushProject(&list);
  EXPECT_EQ(left->layout, (std::vector<int>{0, 1}));
  EXPECT_EQ(right->layout, (std::vector<int>{0, 1}));
  std::vector<int> delivered;
  for (bool more = list.First(); more; more = list.Next())
    delivered.push_back(static_cast<SQLRSSCColumnRef *>(list.GetCurrent().Get())->GetColumnId());
  EXPECT_EQ(delivered, (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(Columns(join.GetCondition()), (std::vector<int>{1, 2}));
  SQLRSPrepareContext context;
  join.Prepare(&context);
  join.Exec();
  std::vector<std::pair<int, int>> rows;
  while (join.Fetch())
    rows.emplace_back(join.GetValueStoreAddr(0)->GetInteger(), join.GetValueStoreAddr(3)->GetInteger());
  EXPECT_EQ(rows, (std::vector<std::pair<int, int>>{{10, 100}, {20, 200}}));
}

TEST(Join, MaxRowsLimitsTheOuterSideOfOuterJoins) {
  for (SQLJoinType type : {SQL_JOIN_INNER, SQL_JOIN_LEFT, SQL_JOIN_RIGHT}) {
    auto *left = new VectorRowSource({SQL_INTEGER}, IntRows({1, 2, 3}));
    auto *right = new VectorRowSource({SQL_INTEGER}, IntRows({1, 2, 3}));
    SQLRSJoin join(type, left, right, OnEqual());
    EXPECT_EQ(RunAll(&join, 2).size(), 2u);
    int seen = type == SQL_JOIN_RIGHT ? right->maxRowsSeen : left->maxRowsSeen;
    EXPECT_EQ(seen, type == SQL_JOIN_INNER ? -2 : 2) << type;
  }
}


// Where a projection expression over two two-column sides (left 0..1,
// right 2..3) is computed: by one side, whose leaf then delivers it (with
// its columns renumbered to the side), or above the join.
struct ProjectionCase {
  char const *name;
  SQLJoinType type;
  std::function<SQLRSSCValueExpr *()> make;
  int side;                        // 0 left, 1 right, -1 above the join
  std::vector<int> sideColumns;    // the level-0 columns of the copy the side computes
  std::vector<int> leftPlain, rightPlain;  // the plain columns each side delivers
};

SQLColumnDescriptor const kArrayColumn("a", SQL_INTEGER, 4, 3);
SQLRSSCValueExpr *Plus(SQLRSSCValueExpr *a, SQLRSSCValueExpr *b) { return new SQLRSSCAdd(a, b); }
SQLRSSCValueExpr *One() { return new SQLRSSCIntegerConst(1); }

std::vector<int> ExprColumns(SQLRSSCValueExpr *e) {
  pSQLRSSCColumnRefList refs;
  e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  std::vector<int> out;
  for (bool more = refs.First(); more; more = refs.Next()) out.push_back(refs.GetCurrent()->GetColumnId());
  return out;
}

TEST(Join, ProjectionExpressionsGoToTheSideThatCanComputeThem) {
  std::vector<ProjectionCase> const cases = {
      // Only a side whose every row reaches the result computes: a row an
      // inner join or an outer join's NULL side drops could fail there.
      {"left of LEFT", SQL_JOIN_LEFT, [] { return Plus(Col(1), One()); }, 0, {1}, {}, {0}},
      {"right of RIGHT, renumbered", SQL_JOIN_RIGHT, [] { return Plus(Col(2), Col(3)); }, 1, {0, 1}, {0}, {}},
      {"INNER: stays", SQL_JOIN_INNER, [] { return Plus(Col(1), One()); }, -1, {}, {1}, {0}},
      {"both sides stay", SQL_JOIN_LEFT, [] { return Plus(Col(0), Col(3)); }, -1, {}, {0}, {1}},
      {"divide copies", SQL_JOIN_LEFT, [] { return new SQLRSSCDivide(Col(0), Col(1)); }, 0, {0, 1}, {}, {0}},
      {"concatenate copies", SQL_JOIN_RIGHT, [] { return new SQLRSSCConcatenate(Col(2), Col(2)); }, 1, {0, 0}, {0}, {}},
      {"no copy: stays", SQL_JOIN_LEFT, [] { return new SQLRSSCSubstr(Col(0), One(), nullptr); }, -1, {}, {0}, {0}},
      {"NULL side of LEFT: stays", SQL_JOIN_LEFT, [] { return Plus(Col(3), One()); }, -1, {}, {0}, {1}},
      {"constant, LEFT: outer side", SQL_JOIN_LEFT, [] { return One(); }, 0, {}, {}, {0}},
      {"constant, RIGHT: outer side", SQL_JOIN_RIGHT, [] { return One(); }, 1, {}, {0}, {}},
      {"constant, INNER: stays", SQL_JOIN_INNER, [] { return One(); }, -1, {}, {0}, {0}},
      {"constant, FULL: stays", SQL_JOIN_FULL, [] { return One(); }, -1, {}, {0}, {0}},
      // An array column set NULL keeps its elements: the cast is not NULL.
      {"right of FULL, not NULL over NULL: stays", SQL_JOIN_FULL,
       [] { return new SQLRSSCReinterpretCast(new SQLRSSCColumnRef(0, 3, &kArrayColumn), SQL_RAW); }, -1, {}, {0}, {1}},
      {"left of FULL, NULL over NULL", SQL_JOIN_FULL, [] { return Plus(Col(0), One()); }, 0, {0}, {}, {0}},
  };
  for (auto const &c : cases) {
    auto *left = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    auto *right = new Absorbing({SQL_INTEGER, SQL_INTEGER}, {});
    left->leafProject = right->leafProject = true;
    left->shipComputed = right->shipComputed = true;
    SQLRSJoin join(c.type, left, right, nullptr);
    RefPtr<SQLRSSCValueExpr> e(c.make());
    SQLRSSCValueExprRefPtrList list;
    list.Append(e);
    join.PushProject(&list);

    // The join answers with the expression itself where a side computes it.
    bool whole = false;
    for (bool more = list.First(); more; more = list.Next()) whole = whole || list.GetCurrent().Get() == e.Get();
    EXPECT_EQ(whole, c.side >= 0) << c.name;
    Absorbing *sides[2] = {left, right};
    std::vector<int> plain[2];
    for (int s = 0; s < 2; ++s) {
      for (auto const &o : sides[s]->offered) {
        if (o->IsColumnRef()) {
          plain[s].push_back(static_cast<SQLRSSCColumnRef *>(o.Get())->GetColumnId());
          continue;
        }
        EXPECT_EQ(s, c.side) << c.name;
        EXPECT_NE(o.Get(), e.Get()) << c.name << ": a side works on a copy";
        EXPECT_EQ(ExprColumns(o.Get()), c.sideColumns) << c.name;
      }
    }
    EXPECT_EQ(plain[0], c.leftPlain) << c.name;
    EXPECT_EQ(plain[1], c.rightPlain) << c.name;
    // The caller's expression keeps its own numbering.
    if (c.side == 1 && !c.sideColumns.empty()) {
      EXPECT_GE(ExprColumns(e.Get()).front(), 2) << c.name;
    }
  }
}

// A table leaf over given rows whose driver joins leaves by running the join
// over them, so that a combined join gives the rows a driver would.
class TableLeaf : public StrictRowSource<SQLRSFetch> {
 public:
  TableLeaf(SQLRowSource *rows, SQLDatabaseInstance const *instance) : rows_(rows), instance_(instance) {}

  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override {
    *condition = nullptr;
    return this;
  }
  // Ships nothing.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    *residual = condition;
    return this;
  }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tables, List<SQLRSSCSearchCond const *> *,
                            bool *combinable) override {
    *instance = instance_->Copy().release();
    *tables = 1;
    *combinable = true;
    return this;
  }
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRowSource *left, SQLRSSCSearchCond *condition) override {
    return left->CreateJoin(type, static_cast<SQLRSFetch *>(this), condition);
  }
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRSFetch *right, SQLRSSCSearchCond *condition) override {
    return new TableLeaf(new SQLRSJoin(type, this, right, condition), instance_);
  }
  SQLRSFetch *CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition) override {
    return new TableLeaf(new SQLRSConstLeftOuterJoin(this, condition), instance_);
  }
  void SetBufferSize(int) override {}
  void SetCursorTimeOut(long) override {}
  bool OperatesOnThisDBInstance(SQLDatabaseInstance *) override { return false; }
  SQLDatabaseInstance const *GetDBInstance() override { return instance_; }
  void AttachToSession(unsigned long) override {}
  void DetachFromSession() override {}
  bool IsVariable(int) override { return false; }
  bool IsConstant(int) override { return false; }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override { rows_->Prepare(context); }
  int DoGetNumCols() override { return rows_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override { return rows_->GetColumnDescriptor(i); }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return rows_->GetValueStoreAddr(i); }
  void DoExec() override { rows_->Exec(); }
  int DoFetch() override { return rows_->Fetch(); }
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override { rows_->Break(); }
  void DoAcceptVisit(SQLVisitor &visitor) override {
    visitor.VisitSQLRSFetch(this);
    visitor.Scope()->PushRowSource(this);
  }

 private:
  std::unique_ptr<SQLRowSource> rows_;
  SQLDatabaseInstance const *instance_;
};

// Joins over the leaves of a driver whose queries cannot carry conditions
// inside a join.
class JoinWithoutFiltersInJoins : public testing::Test {
 protected:
  void SetUp() override {
    root_.WriteFile("lib/tabledef1", "exemp::msqlite(main.db)\n");
    setenv("ZUV", root_.path().c_str(), 1);
    unsetenv("ZUV_RELEASE");
    instance_ = std::make_unique<SQLDatabaseInstance>("exemp010", 100);
    instance_->SetSupportsFiltersInJoins(false);
  }

  // A side of one INTEGER column, a leaf or a local source, under a filter
  // when one is given.
  SQLRowSource *Side(std::vector<int> const &values, bool leaf, SQLRSSCSearchCond *filter) {
    SQLRowSource *rows = new VectorRowSource({SQL_INTEGER}, IntRows(values));
    if (leaf) rows = new TableLeaf(rows, instance_.get());
    return filter ? new SQLRSFilter(rows, filter) : rows;
  }

  // Offers the node to be combined; the instance that comes back is freed.
  static std::unique_ptr<SQLRowSource> Combine(SQLRowSource *node, bool *combinable) {
    SQLDatabaseInstance *instance = nullptr;
    int tables = 0;
    std::unique_ptr<SQLRowSource> tree(node->CombineJoin(&instance, &tables, nullptr, combinable));
    delete instance;
    return tree;
  }

  ScratchDir root_;
  std::unique_ptr<SQLDatabaseInstance> instance_;
};

TEST_F(JoinWithoutFiltersInJoins, FiltersComeOffTheSidesAndGoAboveTheJoinedLeaf) {
  struct Case {
    SQLJoinType type;
    bool leftFilter, rightFilter;
    int filtersAbove;  // conjuncts above the joined leaf; -1: the join stays
  } cases[] = {
      {SQL_JOIN_INNER, false, false, 0}, {SQL_JOIN_INNER, true, true, 2}, {SQL_JOIN_INNER, false, true, 1},
      {SQL_JOIN_LEFT, true, false, 1},   {SQL_JOIN_RIGHT, false, true, 1},
      // A filter on the inner side of an outer join must act before the
      // NULL row is made.
      {SQL_JOIN_LEFT, false, true, -1},  {SQL_JOIN_RIGHT, true, false, -1},
  };
  std::vector<int> const left = {1, 2, 3, 3}, right = {2, 3, 3, 4};
  for (auto const &c : cases) {
    auto build = [&](bool leaf) {
      return new SQLRSJoin(c.type, Side(left, leaf, c.leftFilter ? Cmp(0, SQLRSSC_GREATER_THAN, 1) : nullptr),
                           Side(right, leaf, c.rightFilter ? Cmp(0, SQLRSSC_GREATER_THAN, 2) : nullptr), OnEqual());
    };
    std::unique_ptr<SQLRowSource> local(build(false));
    bool combinable = false;
    std::unique_ptr<SQLRowSource> tree = Combine(build(true), &combinable);
    EXPECT_EQ(combinable, c.filtersAbove >= 0) << "type " << c.type;
    if (c.filtersAbove < 0) {
      EXPECT_NE(dynamic_cast<SQLRSJoin *>(tree.get()), nullptr);
    } else if (c.filtersAbove == 0) {
      EXPECT_NE(dynamic_cast<TableLeaf *>(tree.get()), nullptr);
    } else {
      auto *filter = dynamic_cast<SQLRSFilter *>(tree.get());
      ASSERT_NE(filter, nullptr) << "type " << c.type;
      EXPECT_NE(dynamic_cast<TableLeaf *>(filter->GetChild()), nullptr);
      EXPECT_EQ(Conjuncts(filter->GetCondition()), c.filtersAbove);
    }
    EXPECT_EQ(Pairs(tree.get()), Pairs(local.get())) << "type " << c.type;
  }
}

// SELECT * FROM l <join> r ON l.0 = r.0 WHERE [NOT] x.0 IN (SELECT s.0 FROM
// s WHERE s.0 = x.0), x being l or r, with l and r on one driver and s where
// that driver cannot read it. Where the join lets the condition down (either
// side of an INNER join, the preserved side of an outer join), it acts on
// that side's rows before a join that stays here: evaluated once per row of
// the side, not per joined row. An INNER join whose inner side it filters
// reads that side once, and the outer side not at all when none is left.
// The same over three tables, (l <below> r ON l.0 = r.0) <join> t ON r.0 =
// t.0: a condition on t acts on t's rows whatever joins l and r, one on l
// or r on that table's rows through both joins where they let it down, but
// below neither side of a FULL join.
TEST_F(JoinWithoutFiltersInJoins, AConditionOnOneSideThatTheDriverCannotRunActsBeforeTheJoin) {
  instance_->SetSupportsFiltersInJoins(true);
  struct Case {
    SQLJoinType type;
    int side;                      // the column the condition reads: of l, r or t
    std::vector<int> subqueryRows;
    int evaluations;               // per execution
    std::vector<std::vector<std::optional<int>>> expected;
    int outerReads;                // executions of l in two executions of the statement
    bool negated = false;
    std::optional<SQLJoinType> below = std::nullopt;  // set: the join of l and r under a join with t
  } const cases[] = {
      {SQL_JOIN_LEFT, 0, {2, 3}, 4, {{2, 2}, {2, 2}, {2, 2}, {3, N}}, 2},
      {SQL_JOIN_INNER, 0, {2, 3}, 4, {{2, 2}, {2, 2}, {2, 2}}, 2},
      {SQL_JOIN_INNER, 1, {2, 3}, 6, {{2, 2}, {2, 2}, {2, 2}}, 2},
      {SQL_JOIN_INNER, 1, {}, 6, {}, 0},
      // IN cannot be TRUE on the NULL row of the LEFT join, which thus
      // joins as INNER.
      {SQL_JOIN_LEFT, 1, {2, 3}, 6, {{2, 2}, {2, 2}, {2, 2}}, 2},
      // NOT IN is TRUE there: below the LEFT join it would keep l's rows
      // that it rejects, so it stays above, over the joined leaf.
      {SQL_JOIN_LEFT, 1, {2, 3}, 8, {{1, 1}, {1, 1}, {1, 1}, {3, N}, {4, N}}, 2, true},
      // Six joined rows, three of t: the condition on t acts on t's.
      {SQL_JOIN_INNER, 2, {2, 3}, 3, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_INNER},
      {SQL_JOIN_INNER, 2, {}, 3, {}, 0, false, SQL_JOIN_INNER},
      {SQL_JOIN_INNER, 0, {2, 3}, 4, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_INNER},
      {SQL_JOIN_INNER, 0, {2, 3}, 4, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_LEFT},
      {SQL_JOIN_INNER, 1, {2, 3}, 6, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_LEFT},
      {SQL_JOIN_LEFT, 2, {2, 3}, 3, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_INNER},
      // The INNER join's condition on r rejects the FULL join's rows
      // without a right partner: a RIGHT join, which goes to the driver (the
      // test's leaf runs it as built, l once per row of r).
      {SQL_JOIN_INNER, 2, {2, 3}, 3, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 12, false, SQL_JOIN_FULL},
      // t has no row left: the FULL join is not built at all.
      {SQL_JOIN_INNER, 2, {}, 3, {}, 0, false, SQL_JOIN_FULL},
      // On l, the condition rejects the FULL join's rows without a left
      // partner: it is a LEFT join, and the condition acts on l's rows.
      {SQL_JOIN_INNER, 0, {2, 3}, 4, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_FULL},
      // Null rejection: a RIGHT join whose left side the condition rejects
      // NULL is INNER, a FULL join LEFT or RIGHT, and the condition acts on
      // the rows of its table. NOT IN is TRUE on a NULL row: the joins stay.
      {SQL_JOIN_RIGHT, 0, {2, 3}, 4, {{2, 2}, {2, 2}, {2, 2}}, 2},
      {SQL_JOIN_FULL, 0, {2, 3}, 8, {{1, 1}, {1, 1}, {1, 1}, {4, N}}, 2, true},
      {SQL_JOIN_FULL, 0, {2, 3}, 4, {{2, 2}, {2, 2}, {2, 2}, {3, N}}, 2},
      {SQL_JOIN_FULL, 1, {2, 3}, 6, {{2, 2}, {2, 2}, {2, 2}}, 2},
      // Two RIGHT joins in a row, the condition on the first table: both
      // INNER. A FULL join under a RIGHT join, the condition on its right
      // table: the RIGHT join INNER, the FULL join RIGHT.
      {SQL_JOIN_RIGHT, 0, {2, 3}, 4, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_RIGHT},
      {SQL_JOIN_RIGHT, 1, {2, 3}, 6, {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 2, false, SQL_JOIN_FULL},
      // No row of r is left: the RIGHT join that l became the inner side of
      // never reads l.
      {SQL_JOIN_RIGHT, 1, {}, 6, {}, 0, false, SQL_JOIN_FULL},
  };
  for (auto const &c : cases) {
    auto *l = new VectorRowSource({SQL_INTEGER}, IntRows({1, 2, 3, 4}));
    auto *r = new VectorRowSource({SQL_INTEGER}, IntRows({1, 1, 1, 2, 2, 2}));
    auto *s = new VectorRowSource({SQL_INTEGER}, IntRows(c.subqueryRows));
    auto *sub = new SQLRSFilter(new TableLeaf(s, instance_.get()),
                                new SQLRSSCComparison(Items(Col(0)), SQLRSSC_EQUAL,
                                                      Items(new SQLRSSCColumnRef(-1, c.side, &kIntColumn))));
    SQLRSSCSearchCond *in = new SQLRSSCInSubquery(Col(c.side), sub);
    if (c.negated) in = new SQLRSSCNot(in);
    auto *join = new SQLRSJoin(c.below.value_or(c.type), new TableLeaf(l, instance_.get()),
                               new TableLeaf(r, instance_.get()), OnEqual());
    if (c.below) {
      auto *t = new VectorRowSource({SQL_INTEGER}, IntRows({1, 2, 5}));
      join = new SQLRSJoin(c.type, join, new TableLeaf(t, instance_.get()),
                           new SQLRSSCComparison(Items(Col(1)), SQLRSSC_EQUAL, Items(Col(2))));
    }
    std::unique_ptr<SQLRowSource> tree((new SQLRSFilter(join, in))->OptimizeRS());
    std::string name = "type " + std::to_string(c.type) + " side " + std::to_string(c.side) + (c.negated ? " NOT" : "") +
                       (c.below ? " over " + std::to_string(*c.below) : "") + " rows " +
                       std::to_string(c.subqueryRows.size());
    EXPECT_EQ(Tuples(tree.get()), c.expected) << name;
    EXPECT_EQ(s->execCalls, 2 * c.evaluations) << name;
    EXPECT_EQ(l->execCalls, c.outerReads) << name;
  }
}

TEST_F(JoinWithoutFiltersInJoins, ConstLeftOuterJoinCombinesOnlyAChildWithoutFilter) {
  for (bool childFilter : {false, true}) {
    auto build = [&](bool leaf) {
      return new SQLRSConstLeftOuterJoin(Side({1, 5, 7}, leaf, childFilter ? Cmp(0, SQLRSSC_GREATER_THAN, 5) : nullptr),
                                         Cmp(0, SQLRSSC_LESS_THAN, 7));
    };
    std::unique_ptr<SQLRowSource> local(build(false));
    bool combinable = false;
    std::unique_ptr<SQLRowSource> tree = Combine(build(true), &combinable);
    EXPECT_EQ(combinable, !childFilter);
    EXPECT_EQ(dynamic_cast<TableLeaf *>(tree.get()) != nullptr, !childFilter);
    auto rows = [](SQLRowSource *rs) {
      SQLRSPrepareContext context;
      rs->Prepare(&context);
      rs->Exec();
      std::vector<std::optional<int>> out;
      while (rs->Fetch()) out.push_back(Value(rs->GetValueStoreAddr(0)));
      return out;
    };
    EXPECT_EQ(rows(tree.get()), rows(local.get())) << "child filter " << childFilter;
  }
}

}  // namespace
