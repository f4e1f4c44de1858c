// The statement nodes of a SELECT: projection (select list, "*" and "t.*",
// select targets), filter, sort and RETRY, union, prepare, grouping and
// CLEAR/UNREF, from the parsed statement through name resolution and
// validation to their row sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/front/parse_mode.h"
#include "sql/statement/statement_tree_passes.h"
#include "sql/validate/vt_clear_unref.h"
#include "sql/validate/vt_group.h"
#include "sql/validate/vt_multi_compnr_union.h"
#include "sql/validate/vt_prepare.h"
#include "sql/validate/vt_project.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_retry_filter.h"
#include "sql/validate/vt_sort.h"
#include "sql/validate/vt_union.h"
#include "stmt_test_env.h"

namespace molvane::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Target {
  std::string name;  // "<none>" for a target without a name
  bool derived;
  bool operator==(Target const &) const = default;
};

std::vector<Target> Targets(SQLVTreeData const *data) {
  std::vector<Target> out;
  auto targets = data->GetSelectTargetArray();
  for (int i = 0; targets && i < targets->NrElements(); ++i) {
    char const *name = nullptr;
    bool derived = false;
    targets->Get(i, &name, &derived);
    out.push_back({name ? name : "<none>", derived});
  }
  return out;
}

std::vector<std::string> ColumnNames(SQLVTNode const *root) {
  std::vector<std::string> out;
  for (int i = 0; i < root->GetNumCols(); ++i) out.push_back(root->GetColumnDescriptor(i)->GetName());
  return out;
}

class SelectNodes : public StmtTest {};

// ---- projection ----

TEST_F(SelectNodes, StarProjectsEveryTableFollowedByItsCompanyNumber) {
  auto root = Prepare("SELECT * FROM exemp010 e, exdep010 d");
  ASSERT_EQ(root->GetNumCols(), 12 + 1 + 5 + 1);
  std::vector<Target> targets = Targets(treeData_.get());
  ASSERT_EQ(targets.size(), 19u);
  EXPECT_EQ(targets[12], (Target{"exemp010._compnr", true}));  // table names, not aliases
  EXPECT_EQ(targets[18], (Target{"exdep010._compnr", true}));
  for (Target const &t : targets) EXPECT_TRUE(t.derived) << t.name;
  EXPECT_EQ(targets[0].name.rfind("exemp010.", 0), 0u);
  EXPECT_EQ(targets[13].name.rfind("exdep010.", 0), 0u);
  EXPECT_STREQ(root->GetColumnDescriptor(12)->GetName(), "_compnr");
  EXPECT_EQ(root->GetColumnDescriptor(12)->GetType(), SQL_INTEGER);
  auto stars = treeData_->GetSelectStarTableList();
  ASSERT_TRUE(stars);
  EXPECT_EQ(stars->NrElements(), 2);
}

TEST_F(SelectNodes, AnsiModeNamesTheCompanyNumberColumnsCompanyNr) {
  auto root = Prepare("SELECT d.* FROM exdep010 d", parsemode::kAnsi);
  ASSERT_EQ(root->GetNumCols(), 6);
  EXPECT_STREQ(root->GetColumnDescriptor(5)->GetName(), "company_nr");
  EXPECT_EQ(Targets(treeData_.get())[5], (Target{"exdep010.company_nr", true}));
}

TEST_F(SelectNodes, ColumnsAndExpressionsAreNamedByAliasOrNotAtAll) {
  auto root = Prepare("SELECT name, emp AS number, emp + 1 AS total, emp * 2, e._compnr, _compnr AS firm "
                      "FROM exemp010 e");
  EXPECT_EQ(ColumnNames(root.get()), (std::vector<std::string>{"name", "number", "total", "", "_compnr", "firm"}));
  EXPECT_EQ(Targets(treeData_.get()),
            (std::vector<Target>{{"exemp010.name", true},
                                 {"number", false},
                                 {"total", false},
                                 {"<none>", true},
                                 {"exemp010._compnr", true},
                                 {"firm", false}}));
  EXPECT_EQ(root->GetColumnDescriptor(3)->GetType(), SQL_INTEGER);
}

TEST_F(SelectNodes, ResultParameterNamesTheTargetOfTheOutermostQueryOnly) {
  auto root = Prepare("SELECT emp :n FROM exemp010");
  EXPECT_EQ(Targets(treeData_.get()), (std::vector<Target>{{":n", false}}));
  // Below the outermost query (flag 1 not set) a result parameter is refused.
  auto inner = Parse("SELECT emp\n :x FROM exemp010");
  SQLVTScope scope;
  ExpectError([&] { inner->MapColumnNamesToIds(&scope, treeData_.get(), 0, nullptr, nullptr); }, "42I73",
              "Unexpected select target ':x'", 2);
}

TEST_F(SelectNodes, ArithmeticOverIntegerAndRealTakesTheWiderType) {
  auto root = Prepare("SELECT emp + salary FROM exemp010");
  EXPECT_EQ(root->GetColumnDescriptor(0)->GetType(), SQL_REAL);
}

TEST_F(SelectNodes, ForUpdateTablesAreReturnedWholeAfterTheSelectedColumns) {
  auto root = Prepare("SELECT FOR UPDATE name FROM exemp010");
  ASSERT_EQ(root->GetNumCols(), 1 + 12 + 1);
  EXPECT_STREQ(root->GetColumnDescriptor(0)->GetName(), "name");
  auto stars = treeData_->GetSelectStarTableList();
  ASSERT_TRUE(stars);
  ASSERT_EQ(stars->NrElements(), 1);
  stars->First();
  EXPECT_TRUE(stars->GetCurrent().IsForUpdate());
}

TEST_F(SelectNodes, NamedArrayElementsAndQuotedIndexNames) {
  auto root = Prepare("SELECT scores(2) FROM exemp010", 0, 4);
  EXPECT_EQ(Targets(treeData_.get()), (std::vector<Target>{{"exemp010.scores(2)", false}}));
}

class SelectErrors : public StmtTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(SelectErrors, NameResolutionAndValidationRefuse) {
  ErrorCase const &c = GetParam();
  ExpectError([&] { Prepare(c.text, c.mode); }, c.state, c.message, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectErrors,
    testing::Values(
        ErrorCase{"UnknownColumn", "SELECT nosuch FROM exemp010", 0, "42I03", "Unknown column 'nosuch'", 1},
        ErrorCase{"UnknownTableStar", "SELECT x.* FROM exemp010", 0, "42I04", "Unknown table 'x'", 1},
        ErrorCase{"UnknownTableCompnr", "SELECT\n x._compnr FROM exemp010", 0, "42I04", "Unknown table 'x'", 2},
        ErrorCase{"AmbiguousCompnr", "SELECT _compnr FROM exemp010, exdep010", 0, "42I02",
                  "Ambiguous column reference '_compnr'", 1},
        ErrorCase{"StarInGroupedQuery", "SELECT *, COUNT(*) FROM exemp010", 0, "42I19",
                  "Column 'exemp010._compnr' is not a grouping column", 1},
        ErrorCase{"CompnrInGroupedQuery", "SELECT _compnr, COUNT(*) FROM exemp010", 0, "42I19",
                  "Column '_compnr' is not a grouping column", 1},
        ErrorCase{"QualifiedCompnrInGroupedQuery", "SELECT e._compnr, COUNT(*) FROM exemp010 e", 0, "42I19",
                  "Column 'e._compnr' is not a grouping column", 1},
        ErrorCase{"AliasOnCombinedColumn", "SELECT ident AS x FROM exemp010", 0, "42I52",
                  "Result parameter defined on multi part combined column 'ident'", 1},
        ErrorCase{"AmbiguousExpressionType", "SELECT :p FROM exemp010", 0, "42T26",
                  "Value expression in SELECT clause has ambiguous type", 1},
        ErrorCase{"OrderByNumberZero", "SELECT emp, name FROM exemp010 ORDER BY 0", 0, "42I22",
                  "The ORDER BY number 0 is an invalid number. It must be between 1 and 2", 1},
        ErrorCase{"OrderByNumberTooLarge", "SELECT emp, name FROM exemp010 ORDER BY 3", 0, "42I22",
                  "The ORDER BY number 3 is an invalid number. It must be between 1 and 2", 1},
        ErrorCase{"OrderByNotSelected", "SELECT emp FROM exemp010 ORDER BY\n salary", 0, "42I23",
                  "ORDER BY column 'salary' is not in SELECT clause", 2},
        ErrorCase{"OrderByTheColumnAnAliasRenamed", "SELECT emp AS e FROM exemp010 ORDER BY emp", 0, "42I23",
                  "ORDER BY column 'emp' is not in SELECT clause", 1},
        ErrorCase{"OrderByCombinedWithAPartNotSelected", "SELECT emp FROM exemp010 ORDER BY ident", 0, "42I23",
                  "ORDER BY column 'ident' is not in SELECT clause", 1},
        ErrorCase{"OrderByCompnrNotSelected", "SELECT emp FROM exemp010 ORDER BY _compnr", 0, "42I23",
                  "ORDER BY column '_compnr' is not in SELECT clause", 1},
        ErrorCase{"OrderByArray", "SELECT scores FROM exemp010 ORDER BY 1", 0, "42I47",
                  "Order by on array column not allowed", -1},
        ErrorCase{"RetryOnGroupedQuery", "SELECT dept FROM exemp010 GROUP BY dept ORDER BY 1 WITH RETRY", 0, "42I75",
                  "RETRY clause not allowed in grouped query", -1},
        ErrorCase{"RetryOnExpression", "SELECT emp + 1 FROM exemp010 ORDER BY 1 WITH RETRY", 0, "42I75",
                  "RETRY clause cannot be used in an ORDER BY clause that references a generic value expression",
                  0},
        ErrorCase{"RetryOnCompnr", "SELECT _compnr FROM exemp010 ORDER BY 1 WITH RETRY", 0, "42I75",
                  "RETRY clause cannot be used in an ORDER BY clause that references a _compnr", 0},
        ErrorCase{"GroupByUnknown", "SELECT COUNT(*) FROM exemp010 GROUP BY\n nosuch", 0, "42I03",
                  "Unknown column 'nosuch'", 2},
        ErrorCase{"SumOfDate", "SELECT SUM(hired) FROM exemp010", 0, "42T20", "Invalid argument type for SUM function",
                  -1},
        ErrorCase{"AvgOfString", "SELECT AVG(name) FROM exemp010", 0, "42T20", "Invalid argument type for AVG function",
                  -1},
        ErrorCase{"AggregateWithoutType", "SELECT MIN(:p) FROM exemp010", 0, "42T31",
                  "No appropriate type could be derived for aggregate function", -1},
        ErrorCase{"AggregateOfArray", "SELECT MAX(scores) FROM exemp010", 0, "42I51",
                  "Aggregate function applied to array column", -1},
        // A REFERS TO joins the tables of its own query: a column of the
        // query around it is refused, with one inner table or two.
        ErrorCase{"OuterColumnRefersTo",
                  "SELECT e.emp FROM exemp010 e WHERE e.emp IN\n (SELECT d.budget FROM exdep010 d WHERE e.dept REFERS TO d)",
                  0, "42I92", "Outer column reference 'dept' used in REFERS TO predicate", 2},
        ErrorCase{"OuterColumnRefersToOfTwoTables",
                  "SELECT e.emp FROM exemp010 e WHERE e.emp IN (SELECT d.budget FROM exemp010 x, exdep010 d "
                  "WHERE x.emp = 1 AND e.dept REFERS TO d)",
                  0, "42I92", "Outer column reference 'dept' used in REFERS TO predicate", 1}),
    CaseName);

TEST_F(SelectNodes, IndexHintOnAUnionIsRefused) {
  ExpectError([&] { Parse("SELECT emp FROM exemp010 UNION ALL SELECT emp FROM exemp010 HINT USE INDEX 1 ON exemp010"); },
              "42I76", "Index hint specified on UNION query");
}

TEST_F(SelectNodes, RetryOverTheMultiCompanyUnionIsRefusedNotFatal) {
  auto root = Parse("SELECT emp FROM exemp010 WHERE company_nr IN (1, 2)", parsemode::kAnsi);
  SQLVTNode *node = root.get();
  while (dynamic_cast<SQLVTMultiCompnrUnion *>(node) == nullptr) {
    auto *unary = dynamic_cast<SQLVTUnaryNode *>(node);
    ASSERT_NE(unary, nullptr);
    node = unary->GetChild();
  }
  EXPECT_FALSE(node->IsGroupByQuery());
  SQLRetrySpecList specs;
  ExpectError([&] { node->BuildRetryFilter(SQL_RETRY_STRICT, &specs); }, "42I74",
              "A RETRY clause cannot be used with a _compnr IN predicate");
}

TEST_F(SelectNodes, WhereUsedReportsTheColumnsTheSelectListAndOrderByUse) {
  static std::vector<std::string> seen;
  seen.clear();
  whereUsed_ = std::make_unique<SQLVTWhereUsedMgr>(
      [](char const *name, int kind) { seen.push_back(std::to_string(kind) + " " + name); });
  Prepare("SELECT d.*, e.name FROM exdep010 d, exemp010 e ORDER BY 2");
  auto has = [](std::string const &s) { return std::find(seen.begin(), seen.end(), s) != seen.end(); };
  EXPECT_TRUE(has("3 exdep010.code"));
  EXPECT_TRUE(has("3 exdep010._compnr"));
  EXPECT_TRUE(has("3 exemp010.name"));
  EXPECT_FALSE(has("3 exemp010.salary"));
}

// ---- sort and RETRY ----

TEST_F(SelectNodes, OrderByResolvesNamesNumbersAndCombinedColumns) {
  auto root = Prepare("SELECT name, emp, salary FROM exemp010 ORDER BY 3 DESC, ident");
  auto *sort = dynamic_cast<SQLVTSort *>(root.get());
  ASSERT_NE(sort, nullptr);
  auto const &keys = sort->GetSortColumns();
  ASSERT_EQ(keys.NrElements(), 3);
  EXPECT_EQ(keys.Get(0).GetColumnId(), 2);
  EXPECT_TRUE(keys.Get(0).IsDescending());
  EXPECT_EQ(keys.Get(1).GetColumnId(), 1);  // ident = emp, name
  EXPECT_EQ(keys.Get(2).GetColumnId(), 0);
  EXPECT_FALSE(keys.Get(2).IsDescending());
}

TEST_F(SelectNodes, RetryFilterSkipsRowsUpToTheSavedKeyOnlyWhenActive) {
  FakeFrom::Rows() = {};
  auto root = Prepare("SELECT e.emp, e.name FROM exdep010 d, exemp010 e ORDER BY 2, 1 WITH RETRY");
  SQLVTRetryFilter *filter = treeData_->GetRetryFilter();
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(treeData_->GetRetryClauseType(), SQL_RETRY_STRICT);
  SQLRetrySpecList *specs = treeData_->GetRetrySpecs();
  ASSERT_NE(specs, nullptr);
  ASSERT_EQ(specs->NrElements(), 2);
  specs->First();
  EXPECT_EQ(specs->GetCurrent().position, 1);
  EXPECT_EQ(specs->GetCurrent().columnId, 5 + 7);  // name of exemp010 in the FROM row
  EXPECT_NE(specs->GetCurrent().parameter, nullptr);
  EXPECT_NE(specs->GetCurrent().saved, nullptr);
  std::string trace = Trace(filter);
  EXPECT_NE(trace.find("Filter is deactivated"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Or("), std::string::npos) << trace;
  SQLStatementActivateRetryFilter(filter, true);
  EXPECT_TRUE(filter->IsActive());
  SQLStatementActivateRetryFilter(filter, false);
  EXPECT_FALSE(filter->IsActive());
  SQLStatementActivateRetryFilter(nullptr, true);  // a statement without RETRY
}

// The rows of exemp010 as the stand-in FROM delivers them: only emp (id 4)
// and name (id 7) are filled.
void EmployeeRows(std::vector<std::pair<int, std::string>> const &rows) {
  FakeFrom::Rows().clear();
  for (auto const &[emp, name] : rows) {
    Row row(12, Cell::Int(0));
    row[4] = Cell::Int(emp);
    row[7] = Cell::Text(name);
    FakeFrom::Rows().push_back(row);
  }
}

TEST_F(SelectNodes, RetryFromASavedPointWithAndWithoutTheInclusiveClause) {
  for (auto [type, expected] :
       {std::pair{"WITH RETRY", Rows{{"3", "c"}, {"4", "d"}}},
        std::pair{"WITH RETRY REPEAT LAST ROW", Rows{{"2", "b"}, {"3", "c"}, {"4", "d"}}}}) {
    treeData_ = std::make_unique<SQLVTreeData>();
    EmployeeRows({{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}});
    auto root = Prepare(std::string("SELECT emp, name FROM exemp010 ORDER BY 1 ") + type);
    SQLRetrySpecList *specs = treeData_->GetRetrySpecs();
    specs->First();
    SQLValueStore key;
    key.SetInteger(2);
    specs->GetCurrent().parameter->BindVS(&key);
    // A first execution reads every row; a retry starts after (or at) the key.
    SQLStatementActivateRetryFilter(treeData_->GetRetryFilter(), false);
    EXPECT_EQ(Run(root.get()).size(), 4u);
    SQLStatementActivateRetryFilter(treeData_->GetRetryFilter(), true);
    EXPECT_EQ(Run(root.get()), expected) << type;
  }
}

TEST_F(SelectNodes, SelectListAndFilterRunOverTheFromRows) {
  EmployeeRows({{1, "a"}, {2, "b"}, {3, "c"}});
  auto root = Prepare("SELECT name, emp * 10 AS ten FROM exemp010 WHERE emp >= 2 ORDER BY 2 DESC");
  EXPECT_EQ(Run(root.get()), (Rows{{"c", "30"}, {"b", "20"}}));
}

TEST_F(SelectNodes, UnionAndPrepareRunBothQueries) {
  EmployeeRows({{1, "a"}, {2, "b"}});
  auto root = Resolve(std::make_unique<SQLVTPrepare>(
      Union("SELECT emp FROM exemp010 WHERE emp = 1", "SELECT emp FROM exemp010", true).release()));
  root->Validate();
  EXPECT_EQ(Run(root.get()), (Rows{{"1"}, {"1"}, {"2"}}));
}

TEST_F(SelectNodes, GroupedQueryRunsTheSetFunctions) {
  EmployeeRows({{1, "a"}, {2, "b"}, {3, "a"}});
  auto root = Prepare("SELECT name, COUNT(*), SUM(emp) FROM exemp010 GROUP BY name ORDER BY 1");
  EXPECT_EQ(Run(root.get()), (Rows{{"a", "2", "4"}, {"b", "1", "2"}}));
}

// ---- union ----

TEST_F(SelectNodes, UnionDescriptorsWidenTypesAndLengthsAndDropDifferingNames) {
  auto root = Resolve(Union("SELECT emp, name, name FROM exemp010", "SELECT budget, name, code FROM exdep010", false));
  root->Validate();
  ASSERT_EQ(root->GetNumCols(), 3);
  EXPECT_EQ(root->GetColumnDescriptor(0)->GetType(), SQL_REAL);
  EXPECT_STREQ(root->GetColumnDescriptor(0)->GetName(), "");
  EXPECT_STREQ(root->GetColumnDescriptor(1)->GetName(), "name");
  EXPECT_EQ(root->GetColumnDescriptor(2)->GetType(), SQL_STRING);
  EXPECT_STREQ(root->GetColumnDescriptor(2)->GetName(), "");
  EXPECT_FALSE(root->IsForUpdate());
  EXPECT_FALSE(root->IsGroupByQuery());
}

TEST_F(SelectNodes, UnionRefusals) {
  ExpectError([&] { Resolve(Union("SELECT emp, name FROM exemp010", "SELECT code FROM exdep010", false)); }, "42I71",
              "Queries in UNION have different number of result columns");
  ExpectError([&] { Resolve(Union("SELECT name FROM exemp010", "SELECT budget FROM exdep010", false)); }, "42T21",
              "Incompatible types for UNION column 1");
  ExpectError([&] { Resolve(Union("SELECT emp, scores FROM exemp010", "SELECT status, status FROM exdep010", false)); },
              "42T22", "Incompatible array depth for UNION column 2");
  // ORDER BY ... WITH RETRY over a union.
  auto *keys = new SQLVTSortSpecList();
  keys->Append(new SQLVTSortSpec(nullptr, 1, SQL_SORT_ASC));
  keys->SetRetryClauseType(SQL_RETRY_STRICT);
  std::unique_ptr<SQLVTNode> sort(
      new SQLVTSort(Union("SELECT emp FROM exemp010", "SELECT status FROM exdep010", true).release(), keys));
  ExpectError([&] { Resolve(std::move(sort)); }, "42I74", "A RETRY clause cannot be used in a UNION query");
}

// ---- grouping ----

TEST_F(SelectNodes, IdenticalSetFunctionsShareOneGroupColumn) {
  auto root = Prepare("SELECT dept, COUNT(emp), MAX(salary) FROM exemp010 GROUP BY dept "
                      "HAVING COUNT(emp) > 1 AND MAX(salary) < 10");
  auto *project = dynamic_cast<SQLVTProject *>(root.get());
  ASSERT_NE(project, nullptr);
  SQLVTNode *node = project->GetChild();
  while (dynamic_cast<SQLVTGroup *>(node) == nullptr) node = dynamic_cast<SQLVTUnaryNode *>(node)->GetChild();
  auto *group = static_cast<SQLVTGroup *>(node);
  EXPECT_EQ(group->GetNumCols(), 3);  // COUNT(emp), MAX(salary) (HAVING first), dept: each once
  EXPECT_EQ(group->GetGroupColumnIds().NrElements(), 1);
  EXPECT_EQ(group->GetColumnDescriptor(1)->GetType(), SQL_REAL);
}

TEST_F(SelectNodes, SetFunctionResultTypes) {
  auto root = Prepare("SELECT MIN(name), MIN(emp + 1), SUM(emp), AVG(emp), COUNT(name) FROM exemp010");
  SQLVTNode *node = root.get();
  while (dynamic_cast<SQLVTGroup *>(node) == nullptr) node = dynamic_cast<SQLVTUnaryNode *>(node)->GetChild();
  auto *group = static_cast<SQLVTGroup *>(node);
  EXPECT_TRUE(group->IsDefinitive());
  EXPECT_EQ(group->GetGroupColumnIds().NrElements(), 0);
  // The group's columns: COUNT(*) of the implicit HAVING, then the select list.
  ASSERT_EQ(group->GetNumCols(), 6);
  SQLColumnDescriptor const *min = group->GetColumnDescriptor(1);
  EXPECT_EQ(min->GetType(), SQL_STRING);
  EXPECT_EQ(min->GetLength(), 20u);  // the column's length
  EXPECT_EQ(group->GetColumnDescriptor(2)->GetLength(), 0u);
  EXPECT_EQ(root->GetColumnDescriptor(0)->GetType(), SQL_STRING);
  EXPECT_EQ(root->GetColumnDescriptor(2)->GetType(), SQL_INTEGER);
  EXPECT_EQ(root->GetColumnDescriptor(3)->GetType(), SQL_REAL);
  EXPECT_EQ(root->GetColumnDescriptor(4)->GetType(), SQL_INTEGER);
}

TEST_F(SelectNodes, QueryWithoutGroupingLosesItsGroupNode) {
  auto root = Prepare("SELECT emp FROM exemp010");
  auto *project = dynamic_cast<SQLVTProject *>(root.get());
  ASSERT_NE(project, nullptr);
  EXPECT_NE(dynamic_cast<FakeFrom *>(project->GetChild()), nullptr);
  EXPECT_FALSE(root->IsGroupByQuery());
}

TEST_F(SelectNodes, GroupByCombinedColumnGroupsByItsMembers) {
  auto root = Prepare("SELECT ident, COUNT(*) FROM exemp010 GROUP BY ident");
  auto *group = dynamic_cast<SQLVTGroup *>(dynamic_cast<SQLVTUnaryNode *>(root.get())->GetChild());
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->GetGroupColumnIds().NrElements(), 2);
  EXPECT_EQ(root->GetNumCols(), 3);
}

// ---- CLEAR/UNREF ----

TEST_F(SelectNodes, ClearUnrefWithoutSpecificationsPassesRowsUnchanged) {
  EmployeeRows({{7, "x"}});
  auto root = Prepare("SELECT emp, name FROM exemp010", parsemode::kClearUnref);
  auto *node = dynamic_cast<SQLVTClearUnref *>(root.get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->GetNumCols(), 2);
  EXPECT_EQ(node->GetClearSpec(), nullptr);
  EXPECT_TRUE(node->GetClearUnrefSpecs().empty());
  EXPECT_EQ(Run(root.get()), (Rows{{"7", "x"}}));
}

// ---- traces ----

TEST_F(SelectNodes, TraceOfAResolvedSelectWithEveryClause) {
  auto root = Prepare("SELECT dept, COUNT(*) AS n FROM exemp010 WHERE emp > 1 GROUP BY dept HAVING COUNT(*) > 1 "
                      "ORDER BY n DESC, 1",
                      parsemode::kClearUnref);
  EXPECT_EQ(Trace(root.get()), R"(VTClearUnref(
   Child:
      VTSort(
         SortSpecs:
            SortSpec(1,DESCENDING)
            SortSpec(0,ASCENDING)
         Child:
            VTProject(
               Projection:
                  ColumnRef(0,1)
                  ColumnRef(0,0)
               Child:
                  VTFilter(
                     SearchCond: Comparison(( ColumnRef(0,0) ) > ( IntegerConst(1) ))
                     Child: 
                        VTGroup(
                           Definitive: True
                           GroupColumns:
                           GroupColIds: 1
                           GroupSpec:
                              GroupSpec(COUNT(*))
                              GroupSpec(1)
                           Child:
                              VTFilter(
                                 SearchCond: Comparison(( ColumnRef(0,4) ) > ( IntegerConst(1) ))
                                 Child: 
                                    From(exemp010)
                              )
                        )
                  )
            )
      )
)
)");
}

TEST_F(SelectNodes, TraceOfAResolvedUnion) {
  auto root = Resolve(Union("SELECT emp FROM exemp010", "SELECT status AS emp FROM exdep010", false));
  root->Validate();
  EXPECT_EQ(Trace(root.get()), R"(VTUnion(
   All: False
   LeftChild:
      VTProject(
         Projection:
            ColumnRef(0,4)
         Child:
            From(exemp010)
      )
   RightChild:
      VTProject(
         Projection:
            ColumnRef(0,4)
         Child:
            From(exdep010)
      )
)
)");
}

TEST_F(SelectNodes, TraceOfARetryFilterOverTwoKeys) {
  auto root = Prepare("SELECT e.emp, e.name FROM exemp010 e ORDER BY 2 DESC, 1 WITH RETRY REPEAT LAST ROW");
  EXPECT_EQ(Trace(root.get()), R"(VTSort(
   SortSpecs:
      SortSpec(1,DESCENDING)
      SortSpec(0,ASCENDING)
   Child:
      VTProject(
         Projection:
            ColumnRef(0,4)
            ColumnRef(0,7)
         Child:
            VTRetryFilter(
               Filter is deactivated
               SearchCond: Or(Comparison(( ColumnRef(0,7) ) < ( ParameterRef(Parameter(id=#,<Undefined>,SQL_STRING,strLength=0)) )), And(Comparison(( ColumnRef(0,7) ) = ( ParameterRef(Parameter(id=#,<Undefined>,SQL_STRING,strLength=0)) )), Comparison(( ColumnRef(0,4) ) >= ( ParameterRef(Parameter(id=#,<Undefined>,SQL_REAL)) ))))
               Child: 
                  From(e)
            )
      )
)
)");
}

}  // namespace
}  // namespace molvane::test
