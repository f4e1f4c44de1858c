// The parse entry: what a parse leaves in the statement's tree data, the
// nodes the builders choose, nesting limits and the parser's stack limit,
// and that a failed parse leaves nothing behind (the suite runs under
// LeakSanitizer).
#include <string>

#include "parse_test_env.h"
#include "sql/common/sql_parameter.h"
#include "sql/front/parse_mode.h"
#include "sql/front/parse_object_stack.h"
#include "sql/front/parse_state.h"
#include "sql/front/sql_parse.h"
#include "sql/front/sql_parse_build.h"
#include "sql/front/sql_parse_value.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_project.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vt_table_change.h"
#include "sql/validate/vt_unary_node.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_subquery.h"

namespace molvane::test {
namespace {

class ParseEntry : public ParseTest {};

std::string Repeat(std::string const &piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// A query with `depth` subqueries nested in its WHERE clause.
std::string NestedSubqueries(int depth) {
  std::string text = "SELECT emp FROM exemp010";
  for (int i = 0; i < depth; ++i) text += " WHERE emp IN (SELECT emp FROM exemp010";
  return text + Repeat(")", depth);
}

TEST_F(ParseEntry, ValueIsOnePointerWide) { EXPECT_EQ(sizeof(SQLParseValue), sizeof(void *)); }

TEST_F(ParseEntry, StatementTypesAndRowLimits) {
  Parse("SELECT emp FROM exemp010 AS SET WITH 10 ROWS");
  EXPECT_EQ(treeData_->GetStmtType(), SQL_STMT_SELECT);
  ASSERT_NE(treeData_->GetMaxRows(), nullptr);
  EXPECT_EQ(treeData_->GetMaxRows()->kind, SQLSetSize::Constant);
  EXPECT_EQ(treeData_->GetMaxRows()->constant, 10);

  treeData_ = std::make_unique<SQLVTreeData>();
  Parse("SELECT emp FROM exemp010 AS PREPARED SET WITH :n ROWS");
  ASSERT_NE(treeData_->GetMaxRows(), nullptr);
  EXPECT_EQ(treeData_->GetMaxRows()->kind, SQLSetSize::Parameter);
  EXPECT_EQ(treeData_->GetMaxRows()->parameter->GetType(), SQL_INTEGER);

  treeData_ = std::make_unique<SQLVTreeData>();
  Parse("SELECT emp FROM exemp010 AS PREPARED SET");
  EXPECT_EQ(treeData_->GetMaxRows(), nullptr);

  treeData_ = std::make_unique<SQLVTreeData>();
  auto del = Parse("DELETE FROM exemp010 WHERE _compnr = :c");
  EXPECT_EQ(treeData_->GetStmtType(), SQL_STMT_DELETE);
  ASSERT_EQ(treeData_->GetCompnrParameters().NrElements(), 1);
  EXPECT_EQ(treeData_->GetCompnrParameters().Get(0)->GetType(), SQL_INTEGER);
  ASSERT_NE(dynamic_cast<SQLVTDelete *>(del.get()), nullptr);
  EXPECT_EQ(dynamic_cast<SQLVTDelete *>(del.get())->GetCondition(), nullptr);  // lifted entirely

  treeData_ = std::make_unique<SQLVTreeData>();
  Parse("UPDATE exemp010 SET emp = 1, hired = CURRENT_DATE");
  EXPECT_EQ(treeData_->GetStmtType(), SQL_STMT_UPDATE);
  EXPECT_NE(treeData_->GetCurrentDateParameter(), nullptr);
  EXPECT_EQ(treeData_->GetCurrentTimestampParameter(), nullptr);
}

// The set reads' OR form names :1 and :2 twice: each name is one parameter,
// so that one bind of the name reaches every place it is used.
TEST_F(ParseEntry, AParameterNamedTwiceIsOneParameter) {
  Parse("SELECT exemp010.* FROM exemp010 WHERE exemp010._index2 > { :1, :2 } OR "
        "( exemp010._index2 = { :1, :2 } AND exemp010._index1 > {:3 } )");
  pSQLNamedParameterList *named = treeData_->GetNamedParameters();
  ASSERT_NE(named, nullptr);
  ASSERT_EQ(named->NrElements(), 3);
  std::string names;
  for (bool more = named->First(); more; more = named->Next())
    names += std::string(named->GetCurrent()->GetName()) + " ";
  EXPECT_EQ(names, ":1 :2 :3 ");
}

TEST_F(ParseEntry, TablesAreRegisteredAndRepeatsDropped) {
  auto tree = Parse("SELECT emp FROM exemp010 a, exdep010 b", 0);
  EXPECT_EQ(treeData_->GetTables().NrElements(), 2);
  EXPECT_NE(treeData_->GetDefaultCompnrParameter(), nullptr);

  // An identical repeat is dropped with mode bit 0x01 and leaves the tree
  // data as it was before it.
  treeData_ = std::make_unique<SQLVTreeData>();
  tree = Parse("SELECT emp FROM exemp010, exemp010, exdep010", parsemode::kTableReferenceFlag);
  EXPECT_EQ(treeData_->GetTables().NrElements(), 2);

  // A failed parse takes its tables out of the tree data again.
  treeData_ = std::make_unique<SQLVTreeData>();
  EXPECT_THROW(Parse("SELECT emp FROM exemp010, exdep010 WHERE"), SQLExSyntaxError);
  EXPECT_EQ(treeData_->GetTables().NrElements(), 0);
}

TEST_F(ParseEntry, SelectItemKinds) {
  auto tree = Parse("SELECT \"scores(2)\", scores FROM exemp010", parsemode::kAnsi | parsemode::kQuotedIndexIsValue);
  auto *project = dynamic_cast<SQLVTProject *>(tree.get());
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(project->GetSelectList()->GetItem(0)->GetType(), SQL_SELECT_VALUE_EXPR);
  EXPECT_EQ(project->GetSelectList()->GetItem(1)->GetType(), SQL_SELECT_COLUMN);

  treeData_ = std::make_unique<SQLVTreeData>();
  tree = Parse("SELECT \"scores(2)\" FROM exemp010", parsemode::kAnsi);
  project = dynamic_cast<SQLVTProject *>(tree.get());
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(project->GetSelectList()->GetItem(0)->GetType(), SQL_SELECT_COLUMN);
}

TEST_F(ParseEntry, ImplicitFromAddsNamedTablesOnce) {
  auto tree = Parse("SELECT exemp010.emp, exemp010.name, MAX(exdep010.code) FROM exemp010 e WHERE emp REFERS TO exdep010",
                    parsemode::kFromOptional);
  EXPECT_EQ(treeData_->GetTables().NrElements(), 3);  // e, then exemp010 and exdep010 added
}

TEST_F(ParseEntry, MixedFromListWithRefersToStaysWellFormed) {
  auto tree = Parse(
      "SELECT * FROM exemp010 e JOIN exdep010 d ON e.dept = d.code, (SELECT emp FROM exemp010) x "
      "WHERE e.dept REFERS TO exdep010");
  auto *project = dynamic_cast<SQLVTProject *>(tree.get());
  ASSERT_NE(project, nullptr);
  auto *join = dynamic_cast<SQLVTMultiJoin *>(project->GetChild());
  ASSERT_NE(join, nullptr);
  EXPECT_TRUE(join->HasRefersTo());
  EXPECT_FALSE(join->HasOnlyBaseTables());  // the join-tree builder refuses this clause
  EXPECT_EQ(join->GetNumReferences(), 2);
  EXPECT_EQ(join->GetNumTables(), 3);  // e, d and the derived table x
  EXPECT_FALSE(join->ExposedTableExists("exdep010"));
  EXPECT_TRUE(join->ExposedTableExists("x"));
}

TEST_F(ParseEntry, NodesCarryTheLinesOfTheirConstructs) {
  auto tree = Parse("SELECT emp,\n  name\nFROM exemp010 e,\n  exdep010 d\nWHERE emp = 1\nORDER BY emp");
  auto *sort = dynamic_cast<SQLVTUnaryNode *>(tree.get());
  ASSERT_NE(sort, nullptr);
  auto *project = dynamic_cast<SQLVTProject *>(sort->GetChild());
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(project->GetLineNumber(), 1);  // the SELECT
  EXPECT_EQ(project->GetSelectList()->GetItem(1)->GetLineNumber(), 2);
  auto *filter = dynamic_cast<SQLVTUnaryNode *>(project->GetChild());
  ASSERT_NE(filter, nullptr);
  auto *join = dynamic_cast<SQLVTMultiJoin *>(filter->GetChild());
  ASSERT_NE(join, nullptr);
  EXPECT_EQ(join->GetLineNumber(), 3);
  EXPECT_EQ(join->GetReference(1)->GetLineNumber(), 4);
  EXPECT_EQ(join->GetReference(1)->AsTable()->GetTable()->GetLineNumber(), 4);
}

TEST_F(ParseEntry, LongExpressionsAndDeepNesting) {
  // A chain of two-operand operators, of mixed kinds, is one level deep
  // however long (the left-associative operators also keep the parser's
  // stack flat): a million terms of "+" or "&" are read, and deleted.
  int const depth = SQLParseState::kMaxTreeDepth;
  std::string terms = "1";
  for (int i = 1; i < 3 * depth; ++i) terms += (i % 3 == 0) ? " * 2 - emp / 3" : " + emp";
  EXPECT_NO_THROW(Parse("SELECT " + terms + " FROM exemp010"));
  EXPECT_NO_THROW(Parse("SELECT name" + Repeat(" & 'a'", 999999) + " FROM exemp010"));
  std::string const tooDeep = "Statement exceeds maximum expression depth: " + std::to_string(depth);
  ExpectError("SELECT 1" + Repeat(" + 1", 999999) + " FROM FROM exemp010", 0, "42I00", "Unexpected token 'FROM'", 1);
  // Operands nested on the right count a level each, also inside a chain:
  // line 2 reaches the limit exactly, line 3 goes past it and is refused.
  ExpectError("SELECT 1 + emp" + Repeat(" - (2 + emp", depth - 3) + "\n" + Repeat(")", depth - 3) + " + emp\n" +
                  Repeat(" * (3", depth) + Repeat(")", depth) + " FROM exemp010",
              0, "42I59", tooDeep, 3);
  // Chains of AND and OR, however long, are one level each.
  EXPECT_NO_THROW(Parse("SELECT emp FROM exemp010 WHERE emp = 1" + Repeat(" OR emp = 2 AND emp <> 3", 2 * depth)));
  EXPECT_NO_THROW(Parse("SELECT emp FROM exemp010 WHERE emp = 1" + Repeat(" AND (emp = 2 OR emp <> 3)", 2 * depth)));

  // Nine nested subqueries are allowed, a tenth is not.
  EXPECT_NO_THROW(Parse(NestedSubqueries(9)));
  ExpectError(NestedSubqueries(10), 0, "42I58", "Statement exceeds maximum number of subqueries: 9", 1);

  // The parser's stacks grow beyond their first 200 entries...
  EXPECT_NO_THROW(Parse("SELECT " + Repeat("(", 2000) + "emp" + Repeat(")", 2000) + " FROM exemp010"));
  EXPECT_NO_THROW(Parse("SELECT " + Repeat("(1 + ", 900) + "emp" + Repeat(")", 900) + " FROM exemp010"));
  ExpectError("SELECT " + Repeat("(1 + ", 1500) + "emp" + Repeat(")", 1500) + " FROM exemp010", 0, "42I59",
              tooDeep, 1);
  // ... but a pathological nesting fails cleanly instead of exhausting memory.
  ExpectError("SELECT " + Repeat("(", 100000) + "emp" + Repeat(")", 100000) + " FROM exemp010", 0, "42I00",
              "Unexpected token '('", 1);
  ExpectError("SELECT emp FROM exemp010 WHERE " + Repeat("NOT (", 50000) + "emp = 1" + Repeat(")", 50000), 0,
              "42I00", "Unexpected token '('", 1);
}

TEST_F(ParseEntry, FailuresLeaveNoObjectBehind) {
  // Failures with many objects awaiting their parents: in a deep
  // expression, after the stacks grew, in a constructor, and at the end.
  std::string deep = Repeat("(1 + ", 900);
  EXPECT_THROW(Parse("SELECT " + deep + "emp" + Repeat(")", 899) + " FROM exemp010"), SQLExSyntaxError);
  EXPECT_THROW(Parse("SELECT " + deep + "DATE '2001-13-01'" + Repeat(")", 900) + " FROM exemp010"),
               SQLExSyntaxError);
  EXPECT_THROW(Parse("SELECT emp, name, " + deep + "1" + Repeat(")", 900) + " FROM exemp010 a, nosuch01 b"),
               SQLExSyntaxError);
  EXPECT_THROW(Parse("SELECT 1" + Repeat(" + emp", SQLParseState::kMaxTreeDepth - 20) + " FROM FROM exemp010"),
               SQLExSyntaxError);
  EXPECT_THROW(Parse("SELECT emp FROM exemp010 WHERE emp IN (SELECT emp FROM exemp010 WHERE name LIKE 'x' AND "
                     "{emp, name} IN (1, 2)) HINT ORDERED"),
               SQLExSyntaxError);
  EXPECT_THROW(Parse("UPDATE exemp010 SET name = 'a', emp = 2 WHERE emp = 1 AND dept REFERS TO exdep010"),
               SQLExSyntaxError);
  // A later parse starts clean.
  EXPECT_NO_THROW(Parse("SELECT emp FROM exemp010"));
}

TEST_F(ParseEntry, SubqueryComparisonBuilder) {
  // No rule calls it: row = (subquery) is a comparison whose right row holds
  // the scalar subquery.
  auto query = Parse("SELECT emp FROM exemp010");
  auto *row = new SQLVTSCImplicitRowValueConstr(new SQLVTSCIntegerConst(1));
  std::unique_ptr<SQLVTSCSearchCond> comparison(
      SQLParseBuildSubqueryComparison(row, SQLVTSC_LESS_EQUAL, query.release()));
  auto *c = dynamic_cast<SQLVTSCComparison *>(comparison.get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetOperator(), SQLVTSC_LESS_EQUAL);
  ASSERT_TRUE(c->GetRight()->First());
  EXPECT_NE(dynamic_cast<SQLVTSCScalarSubquery *>(c->GetRight()->GetCurrent()), nullptr);
}

TEST(ParseObjectStack, PopsByAddressAndDeletesTheRest) {
  struct Counted {
    explicit Counted(int *alive) : alive_(alive) { ++*alive_; }
    ~Counted() { --*alive_; }
    int *alive_;
  };
  int alive = 0;
  {
    SQLParseObjectStack stack;
    Counted *a = stack.Push(new Counted(&alive));
    Counted *b = stack.Push(new Counted(&alive));
    stack.Push(new Counted(&alive));
    EXPECT_EQ(stack.Push(static_cast<Counted *>(nullptr)), nullptr);
    EXPECT_EQ(stack.NrElements(), 3);
    auto owned = stack.Pop(a);  // not the top
    EXPECT_EQ(owned.get(), a);
    EXPECT_EQ(stack.Pop(static_cast<Counted *>(nullptr)), nullptr);
    EXPECT_EQ(stack.NrElements(), 2);
    EXPECT_EQ(alive, 3);
    static_cast<void>(b);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace molvane::test
