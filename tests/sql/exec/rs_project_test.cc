// Projection row source: evaluation of the select list, and how it
// rewrites itself over what its child delivers after optimisation.
#include "sql/exec/rs_project.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "absorbing_source.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/sc_arith.h"

namespace molvane::test {
namespace {

// Rows: id, a, b.
std::vector<Row> Rows() {
  return {{Cell::Int(0), Cell::Int(10), Cell::Int(1)},
          {Cell::Int(1), Cell::Int(20), Cell::Int(0)},
          {Cell::Int(2), Cell::Int(30), Cell::Int(3)}};
}

Absorbing *Source() { return new Absorbing({SQL_INTEGER, SQL_INTEGER, SQL_INTEGER}, Rows()); }

pSQLRSSCValueExprList *List_(std::vector<SQLRSSCValueExpr *> items) {
  auto *list = new pSQLRSSCValueExprList;
  for (auto *e : items) list->Append(e);
  return list;
}

// All rows, every column, as integers (-1 for NULL).
std::vector<std::vector<int>> Table(SQLRowSource *rs) {
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  rs->Exec();
  std::vector<std::vector<int>> out;
  while (rs->Fetch()) {
    std::vector<int> row;
    for (int i = 0; i < rs->GetNumCols(); ++i) {
      SQLValueStore const *v = rs->GetValueStoreAddr(i);
      row.push_back(v->IsNull() ? -1 : v->GetInteger());
    }
    out.push_back(row);
  }
  return out;
}

TEST(ProjectNode, EvaluatesTheListPerRow) {
  SQLRSProject project(Source(), List_({Col(0), new SQLRSSCAdd(Col(1), Col(2))}));
  EXPECT_EQ(project.GetNumCols(), 2);
  EXPECT_EQ(Table(&project), (std::vector<std::vector<int>>{{0, 11}, {1, 20}, {2, 33}}));
}

TEST(ProjectNode, SkippedRowsAreNotEvaluated) {
  // Row 1 would divide by zero.
  SQLRSProject project(Source(), List_({Col(0), new SQLRSSCDivide(Col(1), Col(2))}));
  SQLRSPrepareContext context;
  project.Prepare(&context);
  project.Exec();
  ASSERT_EQ(project.Fetch(), 1);
  EXPECT_EQ(project.SkipRows(1), 1);
  ASSERT_EQ(project.Fetch(), 1);
  EXPECT_EQ(project.GetValueStoreAddr(0)->GetInteger(), 2);
}

TEST(ProjectOptimize, VanishesWhenTheChildDeliversTheSameList) {
  Absorbing *source = Source();
  source->leafProject = true;
  source->shipComputed = true;
  auto *project = new SQLRSProject(source, List_({Col(2), new SQLRSSCAdd(Col(1), Col(2))}));
  std::unique_ptr<SQLRowSource> result(project->OptimizeRS());
  EXPECT_EQ(result.get(), source);
}

TEST(ProjectOptimize, RenumbersOverANarrowerChild) {
  Absorbing *source = Source();
  source->leafProject = true;  // ships plain columns only
  auto *project = new SQLRSProject(source, List_({Col(2), new SQLRSSCAdd(Col(1), Col(2))}));
  std::unique_ptr<SQLRowSource> result(project->OptimizeRS());
  ASSERT_EQ(result.get(), project);
  EXPECT_EQ(source->layout, std::vector<int>({2, 1}));
  EXPECT_EQ(Table(project), (std::vector<std::vector<int>>{{1, 11}, {0, 20}, {3, 33}}));
}

TEST(ProjectOptimize, AnExpressionStaysAboveAFilterThatDropsRows) {
  Absorbing *source = Source();
  source->leafProject = true;
  source->shipComputed = true;
  // The child would compute the sum for the rows the filter drops too (one
  // that fails there would fail the statement): it delivers the columns.
  auto *filter = new SQLRSFilter(source, Cmp(2, SQLRSSC_GREATER_THAN, 0));
  auto *project = new SQLRSProject(filter, List_({new SQLRSSCAdd(Col(0), Col(1)), Col(0)}));
  std::unique_ptr<SQLRowSource> result(project->OptimizeTree(nullptr, nullptr));
  ASSERT_EQ(result.get(), project);
  EXPECT_EQ(source->layout, std::vector<int>({0, 1, 2}));
  EXPECT_FALSE(project->GetExpression(0)->IsColumnRef());
  EXPECT_EQ(static_cast<SQLRSSCColumnRef *>(project->GetExpression(1))->GetColumnId(), 0);
  EXPECT_EQ(Columns(filter->GetCondition()), std::vector<int>({2}));
}

TEST(ProjectOptimize, AProjectionAboveAProjectionRemains) {
  Absorbing *source = Source();
  source->leafProject = true;  // the sum stays in the lower projection
  auto *lower = new SQLRSProject(source, List_({Col(1), new SQLRSSCAdd(Col(0), Col(2))}));
  auto *upper = new SQLRSProject(lower, List_({new SQLRSSCAdd(Col(0), Col(1))}));
  std::unique_ptr<SQLRowSource> result(upper->OptimizeRS());
  ASSERT_EQ(result.get(), upper);
  EXPECT_EQ(upper->GetChild(), lower);
  EXPECT_EQ(Table(upper), (std::vector<std::vector<int>>{{11}, {21}, {35}}));
}

TEST(ProjectOptimize, AFilterComesBackWhole) {
  SQLRSProject project(Source(), List_({Col(0)}));
  SQLRSSCSearchCond *condition = Cmp(0, SQLRSSC_EQUAL, 1);
  SQLRSSCSearchCond *rest = nullptr;
  EXPECT_EQ(project.PushFilter(condition, &rest), &project);
  std::unique_ptr<SQLRSSCSearchCond> owned(rest);
  EXPECT_EQ(rest, condition);
}

struct SortCase {
  char const *name;
  std::vector<std::pair<int, int>> specs;  // on the projection's output
  bool expected;
  std::vector<std::pair<int, int>> childSees;
};

class ProjectPushSort : public testing::TestWithParam<SortCase> {};

// Output: column 1, column 1 again, the constant 7, a sum.
TEST_P(ProjectPushSort, TranslatesOrderingsOnPlainColumns) {
  SortCase const &c = GetParam();
  Absorbing *source = Source();
  source->acceptSort = true;
  SQLRSProject project(source, List_({Col(1), Col(1), new SQLRSSCIntegerConst(7), new SQLRSSCAdd(Col(0), Col(2))}));
  auto *specs = new SQLSortSpecList;
  for (auto [column, direction] : c.specs) specs->Append(SQLSortSpec(column, direction));
  bool taken = project.PushSort(specs);
  EXPECT_EQ(taken, c.expected);
  if (!taken) delete specs;  // the caller keeps a refused list
  if (c.expected) {
    EXPECT_EQ(source->sortSeen, c.childSees);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectPushSort,
    testing::Values(SortCase{"SameColumnTwicePassesOnce", {{0, 0}, {1, 1}}, true, {{1, 0}}},
                    SortCase{"ConstantIsDropped", {{2, 1}, {1, 1}}, true, {{1, 1}}},
                    SortCase{"ComputedIsRefused", {{0, 0}, {3, 0}}, false, {}}),
    [](testing::TestParamInfo<SortCase> const &info) { return std::string(info.param.name); });

TEST(ProjectPushSort, ARefusingChildLeavesTheListWithTheCaller) {
  Absorbing *source = Source();  // refuses
  SQLRSProject project(source, List_({Col(1)}));
  SQLSortSpecList specs;
  specs.Append(SQLSortSpec(0, 0));
  EXPECT_FALSE(project.PushSort(&specs));
  EXPECT_EQ(specs.NrElements(), 1);
}

TEST(ProjectPushProject, AnswersWithItsOwnColumns) {
  SQLRSProject project(Source(), List_({new SQLRSSCAdd(Col(0), Col(1)), Col(2)}));
  SQLRSSCValueExprRefPtrList offer;
  offer.Append(RefPtr<SQLRSSCValueExpr>(Col(1)));
  EXPECT_EQ(project.PushProject(&offer), &project);
  ASSERT_EQ(offer.NrElements(), 2);
  int i = 0;
  for (bool more = offer.First(); more; more = offer.Next(), ++i)
    EXPECT_EQ(static_cast<SQLRSSCColumnRef *>(offer.GetCurrent().Get())->GetColumnId(), i);
}

TEST(ProjectNode, ColumnReferencesBecomeParameters) {
  SQLParameter parameter;
  SQLRSProject project(Source(), List_({Col(1), new SQLRSSCAdd(Col(1), Col(2))}));
  intList columns;
  columns.Append(1);
  pSQLParameterList parameters;
  parameters.Append(&parameter);
  project.CRefs2ParameterRefs(0, &columns, &parameters);
  EXPECT_TRUE(project.GetExpression(0)->IsParameterRef());
  pSQLRSSCColumnRefList refs;
  project.GetExpression(1)->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  EXPECT_EQ(refs.NrElements(), 1);  // only column 2 is left
}

TEST(ProjectDeath, PullMessagesStop) {
  SQLRSProject project(Source(), List_({Col(0)}));
  SQLRSSCSearchCond *c = nullptr;
  EXPECT_DEATH(project.PullFilter(&c), "Unexpected message SQLRSProject::PullFilter");
  intList *l = nullptr;
  EXPECT_DEATH(project.PullNullify(&l, &c), "Unexpected message SQLRSProject::PullNullify");
}

}  // namespace
}  // namespace molvane::test
