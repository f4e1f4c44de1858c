// Memory that runs out at each allocation while the optimiser rewrites a
// local tree (OptimizeRS): joins of every kind, a constant outer join, a
// computed column, a group with a filter over it, sorted unions, a
// nullified join, subqueries, hints and a materialisation. The Nth
// allocation of the rewrite fails; the tree must then be freed without a
// leak, a double free or a use after free, and a rewrite that gets through
// must give the rows of the tree as built.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "absorbing_source.h"
#include "alloc_failure.h"
#include "sql/common/sql_hints.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_hints.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/rs_materialize.h"
#include "sql/exec/rs_nullify.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/rs_union.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_subquery_cond.h"

namespace {

using namespace molvane::test;

constexpr int N = INT_MIN;  // a NULL cell

// A local table of INTEGER columns that does nothing of what it is
// offered, the way a row source of another engine would: it keeps to the
// optimiser's ownership rule (it frees itself when a message throws).
class LocalTable : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;

  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    *residual = condition;
    return this;
  }
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override {
    *condition = nullptr;
    return this;
  }
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override {
    *columns = nullptr;
    *condition = nullptr;
    return this;
  }
  SQLRowSource *PushGroup(intList *, List<SQLRSGroupSpec> *, bool *accepted) override {
    *accepted = false;
    return this;
  }
  // Delivers every column of its own.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override {
    std::unique_ptr<LocalTable> self(this);
    *expressions = SQLRSSCValueExprRefPtrList();
    for (int c = 0; c < GetNumCols(); ++c)
      expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, GetColumnDescriptor(c))));
    return self.release();
  }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tables, List<SQLRSSCSearchCond const *> *,
                            bool *combinable) override {
    *instance = nullptr;
    *tables = 0;
    *combinable = false;
    return this;
  }
};

// A local table that takes a grouping the way a table leaf does (here by a
// group over itself).
class GroupingTable : public LocalTable {
 public:
  using LocalTable::LocalTable;

  SQLRowSource *PushGroup(intList *columns, List<SQLRSGroupSpec> *specs, bool *accepted) override {
    std::unique_ptr<GroupingTable> self(this);
    *accepted = false;
    SQLRowSource *grouped = new SQLRSGroup(self.release(), columns, specs);
    *accepted = true;
    return grouped;
  }
};

// A table of `columns` INTEGER columns; N in a row is NULL.
SQLRowSource *Table(int columns, std::vector<std::vector<int>> const &rows) {
  std::vector<Row> cells;
  for (auto const &r : rows) {
    Row row;
    for (int v : r) row.push_back(v == N ? Cell::Null() : Cell::Int(v));
    cells.push_back(row);
  }
  return new LocalTable(std::vector<SQLType>(static_cast<size_t>(columns), SQL_INTEGER), cells);
}

// Departments (code, budget) and employees (emp, dept, salary).
SQLRowSource *Departments() { return Table(2, {{1, 10}, {2, 20}, {3, 30}, {N, 40}}); }
SQLRowSource *Employees() {
  return Table(3, {{1, 1, 100}, {2, 2, 200}, {3, 2, 300}, {4, 1, 400}, {5, N, 500}, {6, 4, 50}});
}
// The same employees in a table that takes groupings.
SQLRowSource *GroupingEmployees() {
  std::vector<Row> cells;
  for (auto const &r : std::vector<std::vector<int>>{{1, 1, 100}, {2, 2, 200}, {5, N, 500}, {6, 4, N}}) {
    Row row;
    for (int v : r) row.push_back(v == N ? Cell::Null() : Cell::Int(v));
    cells.push_back(row);
  }
  return new GroupingTable(std::vector<SQLType>(3, SQL_INTEGER), cells);
}

SQLRSSCSearchCond *ColumnsEqual(int a, int b) {
  return new SQLRSSCComparison(Items(Col(a)), SQLRSSC_EQUAL, Items(Col(b)));
}
SQLRSSCSearchCond *And(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b) { return new SQLRSSCAnd(a, b); }
SQLRSSCSearchCond *Or(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b) { return new SQLRSSCOr(a, b); }
SQLRowSource *Filter(SQLRowSource *child, SQLRSSCSearchCond *condition) { return new SQLRSFilter(child, condition); }
SQLRowSource *Join(SQLJoinType type, SQLRowSource *left, SQLRowSource *right, SQLRSSCSearchCond *condition) {
  return new SQLRSJoin(type, left, right, condition);
}
SQLRowSource *Project(SQLRowSource *child, std::vector<SQLRSSCValueExpr *> const &expressions) {
  auto *list = new pSQLRSSCValueExprList;
  for (SQLRSSCValueExpr *e : expressions) list->Append(e);
  return new SQLRSProject(child, list);
}
SQLRowSource *Sort(SQLRowSource *child, std::vector<std::pair<int, int>> const &keys) {
  auto *list = new SQLSortSpecList;
  for (auto const &[column, direction] : keys) list->Append(SQLSortSpec(column, direction));
  return new SQLRSSort(child, list);
}
// The employees' departments with SUM(salary) and COUNT(*) per department.
SQLRowSource *SalaryPerDepartment() {
  auto *columns = new intList;
  columns->Append(1);
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(1));
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, RefPtr<SQLRSSCValueExpr>(Col(2))));
  specs->Append(SQLRSGroupSpec::CountStar());
  return new SQLRSGroup(Employees(), columns, specs);
}
// Employees whose department (column 1) is the enclosing row's column.
SQLRowSource *EmployeesOfOuter(int outerColumn) {
  return Filter(Employees(), new SQLRSSCComparison(Items(Col(1)), SQLRSSC_EQUAL,
                                                   Items(new SQLRSSCColumnRef(-1, outerColumn, &kIntColumn))));
}

struct TreeCase {
  char const *name;
  std::function<SQLRowSource *()> build;
};

// Departments are columns 0-1 of a join, employees 2-4.
std::vector<TreeCase> const kTrees = {
    {"InnerJoinUnderAFilter",
     [] {
       return Filter(Join(SQL_JOIN_INNER, Departments(), Employees(), ColumnsEqual(0, 3)),
                     And(Cmp(4, SQLRSSC_GREATER_THAN, 150), Cmp(1, SQLRSSC_LESS_THAN, 35)));
     }},
    {"InnerJoinCarryingAConstant",  // the departments get code = 2
     [] { return Filter(Join(SQL_JOIN_INNER, Departments(), Employees(), ColumnsEqual(0, 3)), Cmp(3, SQLRSSC_EQUAL, 2)); }},
    {"LeftJoinWithFiltersOnBothSides",
     [] {
       return Filter(Join(SQL_JOIN_LEFT, Departments(), Employees(),
                          And(ColumnsEqual(0, 3), Cmp(4, SQLRSSC_GREATER_THAN, 150))),
                     And(Cmp(1, SQLRSSC_GREATER_THAN, 5), Cmp(2, SQLRSSC_GREATER_THAN, 1)));
     }},
    {"RightJoin",
     [] {
       return Join(SQL_JOIN_RIGHT, Departments(), Employees(),
                   And(ColumnsEqual(0, 3), Cmp(1, SQLRSSC_GREATER_THAN, 15)));
     }},
    {"FullJoinUnderAFilter",
     [] {
       return Filter(Join(SQL_JOIN_FULL, Departments(), Employees(), ColumnsEqual(0, 3)),
                     Or(Cmp(0, SQLRSSC_GREATER_THAN, 1), Cmp(4, SQLRSSC_LESS_THAN, 150)));
     }},
    {"ConstantOuterJoinWithAMatch",
     [] { return new SQLRSConstLeftOuterJoin(Employees(), Cmp(2, SQLRSSC_GREATER_THAN, 250)); }},
    {"ConstantOuterJoinWithoutAMatch",
     [] {
       return Filter(new SQLRSConstLeftOuterJoin(Employees(), Cmp(2, SQLRSSC_GREATER_THAN, 9999)),
                     new SQLRSSCIsNull(Col(0)));
     }},
    {"ComputedColumnsOverAJoin",
     [] {
       return Project(Join(SQL_JOIN_LEFT, Departments(), Employees(), ColumnsEqual(0, 3)),
                      {Col(2), new SQLRSSCAdd(Col(4), Col(1)), new SQLRSSCAdd(Col(1), new SQLRSSCIntegerConst(1)),
                       new SQLRSSCAdd(Col(4), new SQLRSSCIntegerConst(5)), Col(0)});
     }},
    {"GroupWithTwoConditionsAndAProjection",
     [] {
       return Project(Filter(SalaryPerDepartment(),
                             And(Cmp(0, SQLRSSC_GREATER_THAN, 1), Cmp(1, SQLRSSC_GREATER_THAN, 100))),
                      {Col(1), Col(0)});
     }},
    {"SortedUnionAll",
     [] {
       return Sort(new SQLRSUnion(Project(Employees(), {Col(1)}), Project(Departments(), {Col(0)}), true),
                   {{0, SQLSortSpec::kDescending}});
     }},
    {"SortedUnionWithoutDuplicates",
     [] {
       return Sort(new SQLRSUnion(Filter(Project(Employees(), {Col(1), Col(0)}), Cmp(1, SQLRSSC_GREATER_THAN, 2)),
                                  Departments(), false),
                   {{0, SQLSortSpec::kAscending}});
     }},
    // The union stays (its inputs take no filter here): the comparison goes
    // into each input, the OR stays above it, and HAVING on the grouping
    // column goes through the group and the filter into the union too.
    {"GroupedAndFilteredUnionAll",
     [] {
       auto *u = new SQLRSUnion(Project(Employees(), {Col(1), Col(2)}), Project(Departments(), {Col(0), Col(1)}), true);
       SQLRowSource *where = Filter(u, And(Cmp(1, SQLRSSC_GREATER_THAN, 15),
                                           Or(Cmp(0, SQLRSSC_LESS_THAN, 3), new SQLRSSCIsNull(Col(0)))));
       auto *columns = new intList;
       columns->Append(0);
       auto *specs = new List<SQLRSGroupSpec>;
       specs->Append(SQLRSGroupSpec::Column(0));
       specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, RefPtr<SQLRSSCValueExpr>(Col(1))));
       specs->Append(SQLRSGroupSpec::CountStar());
       return Filter(new SQLRSGroup(where, columns, specs), Cmp(0, SQLRSSC_GREATER_THAN, 1));
     }},
    // Each input groups its own rows and a group above adds the parts up.
    {"GroupedUnionAllInParts",
     [] {
       auto *columns = new intList;
       columns->Append(1);
       auto *specs = new List<SQLRSGroupSpec>;
       specs->Append(SQLRSGroupSpec::Column(1));
       specs->Append(SQLRSGroupSpec::CountStar());
       specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, RefPtr<SQLRSSCValueExpr>(Col(2))));
       specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, RefPtr<SQLRSSCValueExpr>(Col(0))));
       specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, RefPtr<SQLRSSCValueExpr>(Col(2))));
       return new SQLRSGroup(new SQLRSUnion(GroupingEmployees(), GroupingEmployees(), true), columns, specs);
     }},
    // AVG's parts (a REAL sum and a count) are divided by a projection
    // over the group above; a filter reads the averages.
    {"AveragedUnionAllInParts",
     [] {
       auto *columns = new intList;
       columns->Append(1);
       auto *specs = new List<SQLRSGroupSpec>;
       specs->Append(SQLRSGroupSpec::Column(1));
       specs->Append(SQLRSGroupSpec::CountStar());
       specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, RefPtr<SQLRSSCValueExpr>(Col(2))));
       auto *group = new SQLRSGroup(new SQLRSUnion(GroupingEmployees(), GroupingEmployees(), true), columns, specs);
       return Project(Filter(group, Cmp(2, SQLRSSC_GREATER_THAN, 150)), {Col(0), Col(1)});
     }},
    {"NullifiedJoinThatAFilterMakesInner",
     [] {
       auto *columns = new intList;
       columns->Append(2);
       columns->Append(3);
       columns->Append(4);
       return Filter(new SQLRSNullify(Join(SQL_JOIN_INNER, Departments(), Employees(), ColumnsEqual(0, 3)), columns,
                                      Cmp(4, SQLRSSC_GREATER_THAN, 150)),
                     And(Cmp(4, SQLRSSC_LESS_THAN, 350), Cmp(1, SQLRSSC_GREATER_THAN, 5)));
     }},
    {"NullifiedJoinThatStays",
     [] {
       auto *columns = new intList;
       columns->Append(2);
       columns->Append(4);
       return Filter(new SQLRSNullify(Join(SQL_JOIN_INNER, Departments(), Employees(), ColumnsEqual(0, 3)), columns,
                                      Cmp(4, SQLRSSC_GREATER_THAN, 150)),
                     And(new SQLRSSCIsNull(Col(4)), Cmp(1, SQLRSSC_GREATER_THAN, 5)));
     }},
    {"CorrelatedExistsAndNotIn",
     [] {
       return Filter(Departments(),
                     And(new SQLRSSCExists(EmployeesOfOuter(0)),
                         new SQLRSSCNot(new SQLRSSCInSubquery(Col(1), Project(Employees(), {Col(2)})))));
     }},
    {"ExistsOverAJoin",
     [] {
       return Filter(Employees(), And(Cmp(2, SQLRSSC_GREATER_THAN, 100),
                                      new SQLRSSCExists(Filter(Join(SQL_JOIN_INNER, Departments(), Employees(),
                                                                    ColumnsEqual(0, 3)),
                                                               Cmp(1, SQLRSSC_GREATER_THAN, 15)))));
     }},
    {"HintsOverAMaterialisedFilter",
     [] {
       SQLHints hints;
       hints.SetOrdered();
       return new SQLRSHints(new SQLRSPrepare(Filter(Employees(), Cmp(2, SQLRSSC_GREATER_THAN, 150))), &hints);
     }},
};

using Rows = std::vector<std::vector<std::optional<int>>>;

// Every row of the tree, prepared and executed once.
Rows RowsOf(SQLRowSource *tree) {
  SQLRSPrepareContext context;
  tree->Prepare(&context);
  tree->Exec();
  Rows rows;
  while (tree->Fetch() != 0) {
    std::vector<std::optional<int>> row;
    for (int c = 0; c < tree->GetNumCols(); ++c) {
      SQLValueStore const *v = tree->GetValueStoreAddr(c);
      row.push_back(v->IsNull() ? std::nullopt : std::optional<int>(v->GetInteger()));
    }
    rows.push_back(row);
  }
  tree->Break();
  return rows;
}

TEST(OptimizerAllocationFailure, EachAllocationWhileATreeIsOptimisedFreesTheTree) {
  ASSERT_EQ(LeakCheck(), 0) << "a leak before the first try";
  for (TreeCase const &c : kTrees) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<SQLRowSource> built(c.build());
    Rows const expected = RowsOf(built.get());
    built.reset();
    int failed = 0;
    for (int skip = 0;; ++skip) {
      SQLRowSource *tree = c.build();
      int const before = FailedAllocations();
      std::unique_ptr<SQLRowSource> optimized;
      bool threw = false;
      {
        ScopedAllocationFailure fail(skip, 1);
        try {
          optimized.reset(tree->OptimizeRS());  // takes the tree over, also when it throws
        } catch (...) {
          threw = true;
        }
      }
      bool const reached = FailedAllocations() != before;
      failed += reached;
      if (!threw) {
        EXPECT_EQ(RowsOf(optimized.get()), expected) << "allocation " << skip;
      }
      if (!reached) break;  // the whole rewrite went through
      ASSERT_LT(skip, 100000);
    }
    EXPECT_GT(failed, 0);
    EXPECT_EQ(LeakCheck(), 0);
  }
}

// The trees give the rows that the statements they stand for give.
TEST(OptimizerAllocationFailure, TheTreesGiveTheirRows) {
  auto rowsOf = [](char const *name) {
    for (TreeCase const &c : kTrees)
      if (std::string(c.name) == name) {
        std::unique_ptr<SQLRowSource> tree(c.build());
        return RowsOf(tree.get());
      }
    ADD_FAILURE() << name;
    return Rows();
  };
  using R = Rows;
  auto const n = std::nullopt;
  EXPECT_EQ(rowsOf("InnerJoinUnderAFilter"), (R{{1, 10, 4, 1, 400}, {2, 20, 2, 2, 200}, {2, 20, 3, 2, 300}}));
  EXPECT_EQ(rowsOf("InnerJoinCarryingAConstant"), (R{{2, 20, 2, 2, 200}, {2, 20, 3, 2, 300}}));
  EXPECT_EQ(rowsOf("ConstantOuterJoinWithoutAMatch"), (R{{n, n, n}}));
  EXPECT_EQ(rowsOf("GroupWithTwoConditionsAndAProjection"), (R{{500, 2}}));
  EXPECT_EQ(rowsOf("SortedUnionWithoutDuplicates"), (R{{1, 4}, {1, 10}, {2, 3}, {2, 20}, {3, 30}, {4, 6}, {n, 5}, {n, 40}}));
  EXPECT_EQ(rowsOf("CorrelatedExistsAndNotIn"), (R{{1, 10}, {2, 20}}));
  EXPECT_EQ(rowsOf("GroupedAndFilteredUnionAll"), (R{{2, 520, 3}}));
  EXPECT_EQ(rowsOf("AveragedUnionAllInParts"), (R{{2, 2}, {n, 2}}));
  EXPECT_EQ(rowsOf("GroupedUnionAllInParts"),
            (R{{1, 2, 200, 1, 2}, {2, 2, 400, 2, 2}, {4, 2, n, 6, 0}, {n, 2, 1000, 5, 2}}));
}

}  // namespace
