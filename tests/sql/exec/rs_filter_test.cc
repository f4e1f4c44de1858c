// Filter, nullify and hints row sources: row selection and NULL filling,
// and how each answers the optimiser's messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_hints.h"
#include "sql/exec/rs_nullify.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sort_spec.h"
#include "absorbing_source.h"

namespace molvane::test {
namespace {

// Rows: id, a value with NULLs, a second value.
std::vector<Row> ThreeColumns() {
  return {{Cell::Int(0), Cell::Int(5), Cell::Int(1)},
          {Cell::Int(1), Cell::Null(), Cell::Int(2)},
          {Cell::Int(2), Cell::Int(1), Cell::Int(3)},
          {Cell::Int(3), Cell::Int(7), Cell::Int(4)}};
}

Absorbing *Source() { return new Absorbing({SQL_INTEGER, SQL_INTEGER, SQL_INTEGER}, ThreeColumns()); }

// ---- SQLRSFilter ----

struct FilterCase {
  char const *name;
  SQLRSSCCompOperator op;
  int value;
  std::vector<int> expected;
};

class FilterRows : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterRows, DeliversOnlyRowsWhoseConditionIsTrue) {
  FilterCase const &c = GetParam();
  SQLRSFilter filter(Source(), Cmp(1, c.op, c.value));
  EXPECT_EQ(RunAll(&filter), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, FilterRows,
    testing::Values(FilterCase{"Greater", SQLRSSC_GREATER_THAN, 2, {0, 3}},  // NULL is UNKNOWN: rejected
                    FilterCase{"NotEqual", SQLRSSC_NOT_EQUAL, 5, {2, 3}}, FilterCase{"None", SQLRSSC_LESS_THAN, 0, {}},
                    FilterCase{"All", SQLRSSC_GREATER_THAN, -1, {0, 2, 3}}),
    [](testing::TestParamInfo<FilterCase> const &info) { return std::string(info.param.name); });

TEST(FilterNode, SkipRowsTestsEverySkippedRow) {
  auto *source = Source();
  source->canSkip = true;  // the filter must not let the child skip untested rows
  SQLRSFilter filter(source, Cmp(1, SQLRSSC_GREATER_THAN, 2));
  SQLRSPrepareContext context;
  filter.Prepare(&context);
  filter.Exec();
  EXPECT_EQ(filter.SkipRows(1), 1);
  ASSERT_EQ(filter.Fetch(), 1);
  EXPECT_EQ(filter.GetValueStoreAddr(0)->GetInteger(), 3);
  EXPECT_EQ(filter.SkipRows(5), 0);
}

TEST(FilterNode, MaxRowsCountsDeliveredRowsOnly) {
  auto *source = Source();
  SQLRSFilter filter(source, Cmp(1, SQLRSSC_GREATER_THAN, 2));
  EXPECT_EQ(RunAll(&filter, 1), std::vector<int>({0}));
  EXPECT_EQ(source->maxRowsSeen, -2);  // the child is not limited
}

TEST(FilterOptimize, VanishesWhenTheChildTakesTheWholeCondition) {
  Absorbing *source = Source();
  source->shippable = {0, 1, 2};
  SQLRSSCSearchCond *condition = Cmp(1, SQLRSSC_EQUAL, 5);
  auto *filter = new SQLRSFilter(source, condition);
  std::unique_ptr<SQLRowSource> result(filter->OptimizeRS());
  EXPECT_EQ(result.get(), source);
  EXPECT_EQ(source->taken.size(), 1u);
  // The condition was at the head of the enclosing conditions while the
  // child was optimised.
  EXPECT_EQ(source->enclosingSeen, 1);
  EXPECT_EQ(source->enclosingHead, condition);
}

TEST(FilterOptimize, KeepsOnlyTheConjunctsTheChildReturns) {
  Absorbing *source = Source();
  source->shippable = {0};
  auto *filter = new SQLRSFilter(
      source, new SQLRSSCAnd(Cmp(0, SQLRSSC_GREATER_THAN, 0),
                             new SQLRSSCAnd(Cmp(1, SQLRSSC_GREATER_THAN, 2), Cmp(0, SQLRSSC_LESS_THAN, 9))));
  std::unique_ptr<SQLRowSource> result(filter->OptimizeRS());
  ASSERT_EQ(result.get(), filter);
  EXPECT_EQ(source->taken.size(), 2u);
  EXPECT_EQ(Columns(filter->GetCondition()), std::vector<int>({1}));
  EXPECT_EQ(RunAll(filter), std::vector<int>({0, 3}));
}

TEST(FilterOptimize, AFilterAboveAFilterMergesIntoIt) {
  Absorbing *source = Source();  // ships nothing
  auto *lower = new SQLRSFilter(source, Cmp(1, SQLRSSC_GREATER_THAN, 2));
  auto *upper = new SQLRSFilter(lower, Cmp(2, SQLRSSC_LESS_THAN, 4));
  std::unique_ptr<SQLRowSource> result(upper->OptimizeRS());
  ASSERT_EQ(result.get(), lower);
  EXPECT_EQ(Conjuncts(lower->GetCondition()), 2);
  EXPECT_EQ(RunAll(lower), std::vector<int>({0}));
}

TEST(FilterOptimize, PullFilterHandsOutTheConditionAndLeaves) {
  Absorbing *source = Source();
  SQLRSSCSearchCond *condition = Cmp(1, SQLRSSC_EQUAL, 5);
  auto *filter = new SQLRSFilter(source, condition);
  SQLRSSCSearchCond *pulled = nullptr;
  std::unique_ptr<SQLRowSource> result(filter->PullFilter(&pulled));
  std::unique_ptr<SQLRSSCSearchCond> owned(pulled);
  EXPECT_EQ(result.get(), source);
  EXPECT_EQ(pulled, condition);
}

TEST(FilterOptimize, RejectsAllWhenTheConditionCannotBeTrueOnNulls) {
  SQLRSFilter rejecting(Source(), Cmp(1, SQLRSSC_EQUAL, 5));
  SQLRSFilter passing(Source(), new SQLRSSCIsNull(Col(1)));
  List<Interval<int>> right;
  right.Append(Interval<int>(1, 2));
  EXPECT_TRUE(rejecting.RejectsAllOnNullifiedCols(0, &right));
  EXPECT_FALSE(passing.RejectsAllOnNullifiedCols(0, &right));
}

struct GroupCase {
  char const *name;
  bool childAccepts;
  int conditionColumn;
  bool expectAccepted;
  int specsAfter;
  int conditionColumnAfter;
};

class FilterPushGroup : public testing::TestWithParam<GroupCase> {};

// Grouping by columns 1 and 2, delivering column 2 and COUNT(*).
TEST_P(FilterPushGroup, MovesTheGroupingBelowWhenTheConditionReadsGroupingColumns) {
  GroupCase const &c = GetParam();
  Absorbing *source = Source();
  source->acceptGroup = c.childAccepts;
  SQLRSFilter filter(source, Cmp(c.conditionColumn, SQLRSSC_EQUAL, 1));
  auto columns = std::make_unique<intList>();
  columns->Append(1);
  columns->Append(2);
  auto specs = std::make_unique<List<SQLRSGroupSpec>>();
  specs->Append(SQLRSGroupSpec::Column(2));
  specs->Append(SQLRSGroupSpec({}, -1, SQLRSGroupSpec::kCountStar, 0));
  bool accepted = true;
  EXPECT_EQ(filter.PushGroup(columns.get(), specs.get(), &accepted), &filter);
  EXPECT_EQ(accepted, c.expectAccepted);
  List<SQLRSGroupSpec> *after = specs.get();
  if (accepted) {
    columns.release();  // the child took the lists
    specs.release();
    after = source->groupSpecs.get();
  }
  EXPECT_EQ(after->NrElements(), c.specsAfter);
  EXPECT_EQ(Columns(filter.GetCondition()), std::vector<int>({c.conditionColumnAfter}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterPushGroup,
    testing::Values(GroupCase{"DeliveredColumn", true, 2, true, 2, 0},
                    GroupCase{"GroupedNotDeliveredBecomesExtraOutput", true, 1, true, 3, 2},
                    GroupCase{"ChildRefusesAndTheExtraOutputGoes", false, 1, false, 2, 1},
                    GroupCase{"NotGrouped", true, 0, false, 2, 0}),
    [](testing::TestParamInfo<GroupCase> const &info) { return std::string(info.param.name); });

TEST(FilterPushProject, AddsTheConditionsColumnsAndRenumbers) {
  Absorbing *source = Source();
  SQLRSFilter filter(source, Cmp(1, SQLRSSC_EQUAL, 5));
  SQLRSSCValueExprRefPtrList offer;
  offer.Append(RefPtr<SQLRSSCValueExpr>(Col(2)));
  EXPECT_EQ(filter.PushProject(&offer), &filter);
  EXPECT_EQ(offer.NrElements(), 2);
  EXPECT_EQ(source->projected, std::vector<int>({2, 1}));
  EXPECT_EQ(Columns(filter.GetCondition()), std::vector<int>({1}));  // column 1 is now at position 1
  SQLRSFilter filter2(Source(), Cmp(2, SQLRSSC_EQUAL, 5));
  SQLRSSCValueExprRefPtrList offer2;
  offer2.Append(RefPtr<SQLRSSCValueExpr>(Col(0)));
  offer2.Append(RefPtr<SQLRSSCValueExpr>(Col(2)));
  filter2.PushProject(&offer2);
  EXPECT_EQ(offer2.NrElements(), 2);  // already delivered: nothing added
  EXPECT_EQ(Columns(filter2.GetCondition()), std::vector<int>({1}));
}

TEST(FilterTokens, DescriptionsOfFilterAndHints) {
  SQLRSFilter filter(Source(), Cmp(1, SQLRSSC_EQUAL, 5));
  SQLTokenString got, expected;
  filter.createTokenString(&got, 0, nullptr);
  expected.AppendToken(SQLNWTRSFilter);
  std::unique_ptr<SQLRSSCSearchCond> same(Cmp(1, SQLRSSC_EQUAL, 5));
  same->createTokenString(&expected, 0, nullptr);
  expected.AppendToken(SQLNWTRSTable);
  EXPECT_EQ(Bytes(got), Bytes(expected));

  SQLHints given;
  given.SetOrdered();
  SQLRSHints hints(Source(), &given);
  SQLTokenString h, hExpected;
  hints.createTokenString(&h, 0, nullptr);
  hExpected.AppendToken(SQLNWTRSHints);
  hExpected.AppendToken(SQLNWTHintsOrdered);
  hExpected.AppendToken(SQLNWTTerminator);
  hExpected.AppendToken(SQLNWTRSTable);
  EXPECT_EQ(Bytes(h), Bytes(hExpected));
}

// ---- SQLRSNullify ----

struct NullifyRowsCase {
  char const *name;
  SQLRSSCCompOperator op;
  int value;
  std::vector<bool> nulled;  // per row, column 2 NULL
};

class NullifyRows : public testing::TestWithParam<NullifyRowsCase> {};

TEST_P(NullifyRows, NullsTheColumnsWhereTheConditionIsNotTrue) {
  NullifyRowsCase const &c = GetParam();
  auto *columns = new intList;
  columns->Append(2);
  SQLRSNullify nullify(Source(), columns, Cmp(1, c.op, c.value));
  SQLRSPrepareContext context;
  nullify.Prepare(&context);
  nullify.Exec();
  std::vector<bool> nulled;
  while (nullify.Fetch()) {
    nulled.push_back(nullify.GetValueStoreAddr(2)->IsNull());
    EXPECT_FALSE(nullify.GetValueStoreAddr(0)->IsNull());
    if (!nulled.back()) {
      EXPECT_EQ(nullify.GetValueStoreAddr(2)->GetInteger(), nullify.GetValueStoreAddr(0)->GetInteger() + 1);
    }
  }
  EXPECT_EQ(nulled, c.nulled);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, NullifyRows,
    testing::Values(NullifyRowsCase{"Greater", SQLRSSC_GREATER_THAN, 2, {false, true, true, false}},  // UNKNOWN nulls
                    NullifyRowsCase{"Never", SQLRSSC_LESS_THAN, -5, {true, true, true, true}}),
    [](testing::TestParamInfo<NullifyRowsCase> const &info) { return std::string(info.param.name); });

SQLRSNullify *RightSide(Absorbing *source) {
  auto *columns = new intList;
  columns->Append(1);
  columns->Append(2);
  return new SQLRSNullify(source, columns, Cmp(0, SQLRSSC_GREATER_THAN, -1));
}

TEST(NullifyPushFilter, ARejectingConditionTurnsTheOuterJoinInner) {
  Absorbing *source = Source();
  source->shippable = {0, 1};
  SQLRSNullify *nullify = RightSide(source);
  SQLRSSCSearchCond *rest = nullptr;
  std::unique_ptr<SQLRowSource> result(
      nullify->PushFilter(new SQLRSSCAnd(Cmp(1, SQLRSSC_EQUAL, 5), new SQLRSSCIsNull(Col(2))), &rest));
  EXPECT_EQ(rest, nullptr);
  // The join condition and the shippable conjunct went down; IS NULL stayed
  // in a new filter above the child.
  auto *filter = dynamic_cast<SQLRSFilter *>(result.get());
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->GetChild(), source);
  EXPECT_EQ(source->taken.size(), 2u);
  EXPECT_EQ(Columns(filter->GetCondition()), std::vector<int>({2}));
}

TEST(NullifyPushFilter, PassingConjunctsStayAboveAndIndependentOnesGoDown) {
  Absorbing *source = Source();
  source->shippable = {0};
  std::unique_ptr<SQLRSNullify> nullify(RightSide(source));
  SQLRSSCSearchCond *rest = nullptr;
  EXPECT_EQ(nullify->PushFilter(new SQLRSSCAnd(Cmp(0, SQLRSSC_EQUAL, 1), new SQLRSSCIsNull(Col(1))), &rest),
            nullify.get());
  std::unique_ptr<SQLRSSCSearchCond> owned(rest);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(Columns(rest), std::vector<int>({1}));
  EXPECT_EQ(source->taken.size(), 1u);
  EXPECT_EQ(nullify->GetChild(), source);
}

TEST(NullifyPushFilter, WhatTheChildReturnsJoinsThePassingPart) {
  Absorbing *source = Source();  // ships nothing
  std::unique_ptr<SQLRSNullify> nullify(RightSide(source));
  SQLRSSCSearchCond *rest = nullptr;
  nullify->PushFilter(new SQLRSSCAnd(Cmp(0, SQLRSSC_EQUAL, 1), new SQLRSSCIsNull(Col(1))), &rest);
  std::unique_ptr<SQLRSSCSearchCond> owned(rest);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(Conjuncts(rest), 2);
}

TEST(NullifyOptimize, SortOnANullifiedColumnIsRefused) {
  Absorbing *source = Source();
  source->acceptSort = true;
  std::unique_ptr<SQLRSNullify> nullify(RightSide(source));
  SQLSortSpecList onRight;
  onRight.Append(SQLSortSpec(2, 0));
  EXPECT_FALSE(nullify->PushSort(&onRight));
  auto *onLeft = new SQLSortSpecList;
  onLeft->Append(SQLSortSpec(0, 0));
  EXPECT_TRUE(nullify->PushSort(onLeft));
}

TEST(NullifyOptimize, GroupingThatReadsNoNullifiedColumnRemovesIt) {
  Absorbing *source = Source();
  source->acceptGroup = true;
  SQLRSNullify *nullify = RightSide(source);
  auto *columns = new intList;
  columns->Append(0);
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  bool ok = false;
  std::unique_ptr<SQLRowSource> result(nullify->PushGroup(columns, specs, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(result.get(), source);

  std::unique_ptr<SQLRSNullify> kept(RightSide(Source()));
  intList byRight;
  byRight.Append(2);
  List<SQLRSGroupSpec> noSpecs;
  ok = true;
  EXPECT_EQ(kept->PushGroup(&byRight, &noSpecs, &ok), kept.get());
  EXPECT_FALSE(ok);
}

TEST(NullifyOptimize, ProjectionWithoutNullifiedColumnsRemovesIt) {
  Absorbing *source = Source();
  SQLRSNullify *nullify = RightSide(source);
  SQLRSSCValueExprRefPtrList offer;
  offer.Append(RefPtr<SQLRSSCValueExpr>(Col(0)));
  std::unique_ptr<SQLRowSource> result(nullify->PushProject(&offer));
  EXPECT_EQ(result.get(), source);
}

TEST(NullifyOptimize, ProjectionKeepsOnlyTheNullifiedColumnsItReads) {
  Absorbing *source = Source();
  std::unique_ptr<SQLRSNullify> nullify(RightSide(source));
  SQLRSSCValueExprRefPtrList offer;
  offer.Append(RefPtr<SQLRSSCValueExpr>(Col(2)));
  EXPECT_EQ(nullify->PushProject(&offer), nullify.get());
  // Column 2 is read above, column 0 by the join condition.
  EXPECT_EQ(source->projected, std::vector<int>({0, 2}));
  intList columns = *nullify->GetColumns();
  ASSERT_EQ(columns.NrElements(), 1);
  columns.First();
  EXPECT_EQ(columns.GetCurrent(), 1);
  EXPECT_EQ(Columns(nullify->GetCondition()), std::vector<int>({0}));
}

TEST(NullifyOptimize, PullNullifyHandsOutColumnsAndCondition) {
  Absorbing *source = Source();
  SQLRSNullify *nullify = RightSide(source);
  intList *columns = nullptr;
  SQLRSSCSearchCond *condition = nullptr;
  std::unique_ptr<SQLRowSource> result(nullify->PullNullify(&columns, &condition));
  std::unique_ptr<intList> c(columns);
  std::unique_ptr<SQLRSSCSearchCond> k(condition);
  EXPECT_EQ(result.get(), source);
  EXPECT_EQ(columns->NrElements(), 2);
  EXPECT_NE(condition, nullptr);
}

TEST(NullifyDeath, MessagesItNeverReceivesStop) {
  std::unique_ptr<SQLRSNullify> nullify(RightSide(Source()));
  SQLRSSCSearchCond *c = nullptr;
  EXPECT_DEATH(nullify->PullFilter(&c), "Unexpected message SQLRSNullify::PullFilter");
  bool ok;
  int n;
  SQLDatabaseInstance *instance = nullptr;
  EXPECT_DEATH(nullify->CombineJoin(&instance, &n, nullptr, &ok), "Unexpected message SQLRSNullify::CombineJoin");
}

// ---- SQLRSHints ----

TEST(HintsNode, OptimizeTreeHandsOnTheHintsAndLeaves) {
  Absorbing *source = Source();
  SQLHints own;
  own.SetOrdered();
  own.SetRowMode(SQL_HINTS_FIRST_ROWS);
  auto *hints = new SQLRSHints(source, &own);
  SQLHints outer;
  outer.SetBufferSize(50);
  outer.SetRowMode(SQL_HINTS_ALL_ROWS);
  std::unique_ptr<SQLRowSource> result(hints->OptimizeTree(&outer, nullptr));
  EXPECT_EQ(result.get(), source);
  ASSERT_TRUE(source->optimizeHints);
  unsigned long size = 0;
  SQLHintsRowMode mode = SQL_HINTS_ALL_ROWS;
  EXPECT_TRUE(source->optimizeHints->GetBufferSize(&size));  // the outer buffer size stays
  EXPECT_EQ(size, 50u);
  EXPECT_TRUE(source->optimizeHints->GetRowMode(&mode));
  EXPECT_EQ(mode, SQL_HINTS_FIRST_ROWS);  // the node's own wins
  EXPECT_TRUE(source->optimizeHints->GetOrdered());
  ASSERT_TRUE(source->pushedHints);
  EXPECT_FALSE(source->pushedHints->GetBufferSize(&size));  // only the node's own are pushed
}

TEST(HintsNode, WrapperCopiesTheHintsAndPassesRowsThrough) {
  SQLHints given;
  given.SetString("abc");
  std::unique_ptr<SQLRowSource> wrapped(SQLRSHints::Wrap(Source(), &given));
  given.SetString("changed");
  char const *text = nullptr;
  ASSERT_TRUE(static_cast<SQLRSHints *>(wrapped.get())->GetHints().GetString(&text));
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(RunAll(wrapped.get()), std::vector<int>({0, 1, 2, 3}));
}

TEST(HintsNode, HintItemsOfAQueryDescription) {
  SQLHints hints;
  hints.SetArrayFetchingEnabled(false);
  hints.SetString("abc");
  hints.SetBufferSize(10);
  hints.SetNoHints();
  SQLTokenString actual;
  SQLRSAppendHintItems(&actual, hints);
  SQLTokenString expected;
  expected.AppendToken(SQLNWTHintsArrayFetchingDisabled);
  expected.AppendToken(SQLNWTHintsStringHint);
  expected.AppendMemory("abc", 4);
  expected.AppendToken(SQLNWTHintsNoHints);
  EXPECT_EQ(Bytes(actual), Bytes(expected));
}

TEST(HintsDeath, MessagesAfterOptimisationStop) {
  std::unique_ptr<SQLRSHints> hints(new SQLRSHints(Source(), nullptr));
  SQLRSSCSearchCond *rest = nullptr;
  EXPECT_DEATH(hints->PushFilter(nullptr, &rest), "Unexpected message SQLRSHints::PushFilter");
  EXPECT_DEATH(hints->OptimizeNode(), "Unexpected message SQLRSHints::OptimizeNode");
}

}  // namespace
}  // namespace molvane::test
