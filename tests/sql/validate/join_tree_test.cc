// The join tree a FROM clause becomes: the order along REFERS TO, the join
// types, the renumbered columns, the errors of the reference graph, ANSI
// joins with their company-number restrictions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "from_clause_env.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/validate/pt_reference.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/where_used.h"

namespace molvane::test {
namespace {

class JoinTree : public FromClauseTest {};

// The compact trace of a table of the tree, at an indentation of depth
// levels.
std::string Table(char const *name, char const *alias, int depth, char const *compnr = nullptr) {
  std::string pad(static_cast<size_t>(3 * depth), ' ');
  std::string out = pad + "VTTable(\n" + pad + "   TableName: " + name + "\n" + pad + "   Alias: " + alias + "\n";
  if (compnr != nullptr) out += pad + "   Compnr restrictions: Id: # Restrictions: [" + compnr + "]\n";
  return out + pad + ")\n";
}

std::string Join(char const *type, std::string const &left, std::string const &right, int depth,
                 char const *condition = nullptr) {
  std::string pad(static_cast<size_t>(3 * depth), ' ');
  std::string out = pad + "VTJoin(\n" + pad + "   JoinType: " + type + "\n" + pad + "   LeftChild:\n" + left + pad +
                    "   RightChild:\n" + right;
  if (condition != nullptr) out += pad + "   JoinCond:\n" + pad + "      " + condition + "\n";
  return out + pad + ")\n";
}

// ---- REFERS TO ----

TEST_F(JoinTree, TwoTablesFollowTheReferenceWhateverTheirFromOrder) {
  std::string const expected = Join("LEFT OUTER JOIN", Table("exemp010", "e", 2), Table("exdep010", "d", 2), 0,
                                    "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))");
  EXPECT_EQ(Compact(Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d").get()), expected);
  // d first: e's columns move from 5 to 0 and d's from 0 to 12.
  EXPECT_EQ(Compact(Resolve("SELECT * FROM exdep010 d, exemp010 e WHERE e.dept REFERS TO d").get()), expected);
}

TEST_F(JoinTree, TheWholeTraceOfATwoTableReference) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d");
  EXPECT_EQ(TraceOf(tree.get()),
            "VTJoin(\n"
            "   JoinType: LEFT OUTER JOIN\n"
            "   LeftChild:\n"
            "      VTTable(\n"
            "         Id: #\n"
            "         TableName: exemp010\n"
            "         Alias: e\n"
            "         ForUpdate: False\n"
            "         Compnr restrictions: Id: # Restrictions: []\n"
            "         Schema: ...\n"
            "      )\n"
            "   RightChild:\n"
            "      VTTable(\n"
            "         Id: #\n"
            "         TableName: exdep010\n"
            "         Alias: d\n"
            "         ForUpdate: False\n"
            "         Compnr restrictions: Id: # Restrictions: []\n"
            "         Schema: ...\n"
            "      )\n"
            "   JoinCond:\n"
            "      Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))\n"
            ")\n");
  // The FROM clause's level shows the tables at their new positions.
  EXPECT_EQ(scope_->GetNumLevels(), 1);
  EXPECT_EQ(scope_->GetNumCols(), 17);
}

TEST_F(JoinTree, ThreeTablesWithOneReferenceJoinTheOtherInner) {
  // Edge 1 -> 0: the order is 1, 0, 2.
  auto tree = Resolve("SELECT * FROM exdep010 d, exemp010 e, exemp010 e2 WHERE e.dept REFERS TO d");
  EXPECT_EQ(Compact(tree.get()),
            Join("INNER JOIN",
                 Join("LEFT OUTER JOIN", Table("exemp010", "e", 4), Table("exdep010", "d", 4), 2,
                      "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))"),
                 Table("exemp010", "e2", 2), 0));
}

TEST_F(JoinTree, FourTablesAlongAReferenceChain) {
  // e -> d -> e2, and t without edges: e, d, e2, t; e2 moves from 0 to 17.
  auto tree = Resolve(
      "SELECT * FROM exemp010 e2, exdep010 d, exemp010 e, ttaud110 t WHERE e.dept REFERS TO d AND d.name REFERS TO e2");
  EXPECT_EQ(Compact(tree.get()),
            Join("INNER JOIN",
                 Join("LEFT OUTER JOIN",
                      Join("LEFT OUTER JOIN", Table("exemp010", "e", 6), Table("exdep010", "d", 6), 4,
                           "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))"),
                      Table("exemp010", "e2", 4), 2, "Comparison(( ColumnRef(0,14) ) = ( ColumnRef(0,21) ))"),
                 Table("ttaud110", "t", 2), 0));
}

TEST_F(JoinTree, FourTablesWithTwoReferencesKeepTheirOrder) {
  auto tree = Resolve(
      "SELECT * FROM exemp010 e1, exemp010 e2, exdep010 d1, exdep010 d2 WHERE e1.dept REFERS TO d1 AND "
      "e2.dcas REFERS TO d2");
  EXPECT_EQ(Compact(tree.get()),
            Join("LEFT OUTER JOIN",
                 Join("LEFT OUTER JOIN",
                      Join("INNER JOIN", Table("exemp010", "e1", 6), Table("exemp010", "e2", 6), 4),
                      Table("exdep010", "d1", 4), 2, "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,25) ))"),
                 Table("exdep010", "d2", 2), 0, "Comparison(( ColumnRef(0,12) ) = ( ColumnRef(0,30) ))"));
}

TEST_F(JoinTree, AConstantReferenceIsAConstantOuterJoinOfItsOwn) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE 'A1' REFERS TO d");
  // d's key moves to position 1 of the constant join's own row.
  EXPECT_EQ(Compact(tree.get()), Join("INNER JOIN", Table("exemp010", "e", 2),
                                      "      VTConstLeftOuterJoin(\n"
                                      "         Child:\n" +
                                          Table("exdep010", "d", 4) +
                                          "         JoinCond:\n"
                                          "            Comparison(( StringConst(A1) ) = ( ColumnRef(0,1) ))\n"
                                          "      )\n",
                                      0));
}

TEST_F(JoinTree, TwoReferencesBetweenTheSameTablesMakeOneJoinOnBoth) {
  auto tree = Resolve("SELECT * FROM exdep010 d, exemp010 e WHERE e.dept REFERS TO d AND e.dcas REFERS TO d");
  EXPECT_EQ(Compact(tree.get()),
            Join("LEFT OUTER JOIN", Table("exemp010", "e", 2), Table("exdep010", "d", 2), 0,
                 "And(Comparison(( ColumnRef(0,0) ) = ( ColumnRef(0,13) )), Comparison(( ColumnRef(0,1) ) = ( "
                 "ColumnRef(0,13) )))"));
}

TEST_F(JoinTree, ASkippedReferenceOnlyFilters) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d UNREF SKIP");
  EXPECT_EQ(Compact(tree.get()),
            "VTFilter(\n"
            "   SearchCond: Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))\n"
            "   Child: \n" +
                Join("INNER JOIN", Table("exemp010", "e", 4), Table("exdep010", "d", 4), 2) + ")\n");
}

TEST_F(JoinTree, APathAddsAHiddenTableBetweenTheTwo) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d PATH exemp010.dnul");
  EXPECT_EQ(Compact(tree.get()),
            Join("LEFT OUTER JOIN",
                 Join("LEFT OUTER JOIN", Table("exemp010", "e", 4), Table("exemp010", "NULL", 4), 2,
                      "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,16) ))"),
                 Table("exdep010", "d", 2), 0, "Comparison(( ColumnRef(0,14) ) = ( ColumnRef(0,25) ))"));
  // The hidden table is not exposed: the clause's level holds e and d only.
  EXPECT_EQ(scope_->GetNumTables(), 2);
  EXPECT_EQ(treeData_->GetTables().NrElements(), 3);
}

TEST_F(JoinTree, WithoutReferencesTheTablesJoinInnerInFromOrder) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d, ttaud110 t");
  EXPECT_EQ(Compact(tree.get()),
            Join("INNER JOIN", Join("INNER JOIN", Table("exemp010", "e", 4), Table("exdep010", "d", 4), 2),
                 Table("ttaud110", "t", 2), 0));
}

TEST_F(JoinTree, ErrorsOfTheReferences) {
  struct {
    char const *text;
    std::string error;
  } const cases[] = {
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d AND d.name REFERS TO e",
       "42I17 Cycle in REFERS TO predicates"},
      {"SELECT * FROM exemp010 e, exemp010 e2, exdep010 d WHERE e.dept REFERS TO d AND e2.dcas REFERS TO d",
       "42I18 Table 'd' is referred to by different tables"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO x", "42I04 Unknown table 'x'"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d._index9", "42I03 Unknown column 'd._index9'"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE {e.dept, 'x'} REFERS TO d",
       "42I12 Combined reference operand must contain only constants or only columns"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE {e.dept, d.name} REFERS TO d",
       "42I13 Columns in combined reference operand cannot be of different tables."},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e.dept FROM exemp010.dept REFERS TO d",
       "42I70 Reference FROM clause 'exemp010.dept' used with non-constant reference"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE 'x' FROM dept REFERS TO d",
       "42I70 Invalid reference FROM clause element 'dept'"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE 'x' FROM exemp010.nothing REFERS TO d",
       "42I03 Unknown column 'nothing' in reference FROM clause"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d PATH exemp010.nothing",
       "42I03 Unknown column 'exemp010.nothing'"},
      // A joined or derived table beside REFERS TO is refused, not taken apart.
      {"SELECT * FROM exemp010 e JOIN exdep010 d ON e.dept = d.code, exemp010 x WHERE x.dept REFERS TO d",
       "42I91 REFERS TO predicates cannot be combined with a joined table or a derived table in the FROM clause"},
      {"SELECT * FROM (SELECT emp FROM exemp010) x, exdep010 d WHERE d.name REFERS TO x",
       "42I91 REFERS TO predicates cannot be combined with a joined table or a derived table in the FROM clause"},
  };
  for (auto const &c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

TEST(PTReference, ConstantOuterJoinsAreThoseFromConstantsThatDoNotSkip) {
  struct {
    int referring;
    SQLUnrefMode mode;
    bool constant;
  } const cases[] = {
      {-1, SQL_UNREF_CLEAR, true},  {-1, SQL_UNREF_SET_UNREF, true}, {-1, SQL_UNREF_SKIP, false},
      {0, SQL_UNREF_CLEAR, false},  {2, SQL_UNREF_SKIP, false},
  };
  for (auto const &c : cases) {
    SQLPTReference reference(c.referring, 1, nullptr, c.mode);
    EXPECT_EQ(reference.IsConstantOuterJoin(), c.constant) << c.referring << " " << c.mode;
  }
}

// ---- company-number restrictions ----

TEST_F(JoinTree, CompnrRestrictionsOfOtherModesGoToTheirTables) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e._compnr = 5 AND d._compnr = :p");
  EXPECT_EQ(Compact(tree.get()),
            Join("INNER JOIN", Table("exemp010", "e", 2, "Integer: 5"),
                 Table("exdep010", "d", 2, "Parameter: Parameter(id=#,<Undefined>,SQL_INTEGER)"), 0));
  struct {
    char const *text;
    std::string error;
  } const cases[] = {
      {"SELECT * FROM exemp010 e, exdep010 d WHERE e._compnr = 5 AND e._compnr = 6",
       "42I31 Multiple compnr specifications on table 'e'"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE x._compnr = 5", "42I07 Table 'x' does not appear in the FROM clause"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE _compnr = 5", "42I02 Ambiguous column reference '_compnr'"},
  };
  for (auto const &c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

constexpr int kAnsiParse = 0x10;
constexpr int kAnsiFlags = 1 | 16;

TEST_F(JoinTree, AnsiCompnrJoinsRestrictBothTables) {
  std::string const expected = Join("INNER JOIN", Table("exemp010", "e", 2, "Ref: #"),
                                    Table("exdep010", "d", 2, "Ref: #"), 0, "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))");
  // In the ON clause the restriction leaves the join condition.
  EXPECT_EQ(Compact(Resolve("SELECT * FROM exemp010 e JOIN exdep010 d ON e.company_nr = d.company_nr AND e.dept = d.code",
                            kAnsiParse, kAnsiFlags)
                        .get()),
            expected);
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.company_nr = d.company_nr", kAnsiParse, kAnsiFlags);
  EXPECT_EQ(Compact(tree.get()), Join("INNER JOIN", Table("exemp010", "e", 2, "Ref: #"),
                                      Table("exdep010", "d", 2, "Ref: #"), 0));
}

TEST_F(JoinTree, AnsiJoinsOfThreeAndFourTables) {
  auto three = Resolve(
      "SELECT * FROM exemp010 e JOIN exdep010 d ON e.dept = d.code JOIN exemp010 e2 ON e2.dcas = d.code AND "
      "e2.company_nr = d.company_nr",
      kAnsiParse, kAnsiFlags);
  std::string const joined = Join("INNER JOIN",
                                  Join("INNER JOIN", Table("exemp010", "e", 4), Table("exdep010", "d", 4, "Ref: #"), 2,
                                       "Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))"),
                                  Table("exemp010", "e2", 2, "Ref: #"), 0,
                                  "Comparison(( ColumnRef(0,17) ) = ( ColumnRef(0,13) ))");
  EXPECT_EQ(Compact(three.get()), joined);
  // A fourth table beside the join: INNER in FROM order, after 29 columns.
  auto four = Resolve(
      "SELECT * FROM exemp010 e JOIN exdep010 d ON e.dept = d.code JOIN exemp010 e2 ON e2.dcas = d.code AND "
      "e2.company_nr = d.company_nr, ttaud110 t WHERE t.company_nr = e.company_nr",
      kAnsiParse, kAnsiFlags);
  std::string const four1 = Compact(four.get());
  EXPECT_EQ(four1.substr(0, four1.find("LeftChild:")), "VTJoin(\n   JoinType: INNER JOIN\n   ");
  EXPECT_NE(four1.find("TableName: ttaud110\n         Alias: t\n         Compnr restrictions: Id: # Restrictions: [Ref: #]"),
            std::string::npos)
      << four1;
  EXPECT_EQ(scope_->GetNumCols(), 29 + SQLSchemaMgr::GetSchema("ttaud110")->GetNumCols());
}

TEST_F(JoinTree, AnsiRestrictionsSimplifyToOneCompanyPerTable) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.company_nr = d.company_nr AND e.company_nr = 5",
                      kAnsiParse, kAnsiFlags);
  treeData_->SimplifyTableCompnrSets();
  treeData_->ValidateTableCompnrSets();
  EXPECT_EQ(Compact(tree.get()), Join("INNER JOIN", Table("exemp010", "e", 2, "Integer: 5"),
                                      Table("exdep010", "d", 2, "Integer: 5"), 0));
  struct {
    char const *where;
    std::string error;
  } const cases[] = {
      {"e.company_nr = d.company_nr AND e.company_nr = 5 AND d.company_nr = 6",
       "42I89 Conflict or unsupported combination in compnr restrictions on table 'e'"},
      {"e.company_nr = 5",
       "42I89 The _compnr column of 'e' is restricted, while the _compnr column of 'd' is not restricted, which is "
       "not allowed in ANSI parse mode"},
  };
  for (auto const &c : cases) {
    std::string error = "none";
    try {
      treeData_ = std::make_unique<SQLVTreeData>();
      auto other = Resolve(std::string("SELECT * FROM exemp010 e, exdep010 d WHERE ") + c.where, kAnsiParse, kAnsiFlags);
      treeData_->SimplifyTableCompnrSets();
      treeData_->ValidateTableCompnrSets();
    } catch (SQLException const &e) {
      error = std::string(e.GetSQLState()) + " " + e.GetMessageText()->GetString();
    }
    EXPECT_EQ(error, c.error) << c.where;
  }
}

TEST_F(JoinTree, AnsiCompanyListBecomesAParameterRestriction) {
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.company_nr IN (1, 2, 1)", kAnsiParse, kAnsiFlags);
  EXPECT_EQ(Compact(tree.get()),
            Join("INNER JOIN", Table("exemp010", "e", 2, "Parameter: Parameter(id=#,<Undefined>,SQL_INTEGER)"),
                 Table("exdep010", "d", 2), 0));
}

TEST_F(JoinTree, AnsiCompnrErrors) {
  struct {
    char const *text;
    std::string error;
  } const cases[] = {
      {"SELECT * FROM exemp010 e JOIN exdep010 d ON e.company_nr = x.company_nr", "42I03 Unknown column 'x.company_nr'"},
      {"SELECT * FROM exemp010 e, exdep010 d WHERE x.company_nr = 5", "42I03 Unknown column 'x.company_nr'"},
  };
  for (auto const &c : cases) EXPECT_EQ(ErrorOf(c.text, kAnsiParse, kAnsiFlags), c.error) << c.text;
}

// The grammar writes only _compnr joins into an ON clause; a restriction to
// one company arriving there would leave the other side open.
TEST_F(JoinTree, AnOpenCompnrRestrictionInAnOnClauseIsRefused) {
  auto side = [this](char const *name, char const *alias) {
    auto copy = [](char const *s) {
      auto p = new char[std::strlen(s) + 1];
      std::strcpy(p, s);
      return p;
    };
    auto *table = new SQLVTTable(copy(name), copy(alias), false);
    table->InitializeCompnr(treeData_.get());
    treeData_->AddTable(table);
    return new SQLPTTable(table, false);
  };
  auto *column = new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("e.company_nr"));
  auto *restriction = new SQLVTSCCompnrSpec(column, 5);
  SQLPTJoin join(SQL_JOIN_INNER, side("exemp010", "e"), side("exdep010", "d"), restriction);
  SQLVTScope scope;
  try {
    join.MapColumnNamesToIds(&scope, treeData_.get(), kAnsiFlags, nullptr, nullptr);
    ADD_FAILURE() << "no error";
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42I89");
    EXPECT_STREQ(e.GetMessageText()->GetString(),
                 "_compnr restriction on column 'e.company_nr' in an ON clause does not join two _compnr columns");
  }
}

// ---- where-used ----

std::vector<std::string> g_used;

TEST_F(JoinTree, WhereUsedReportsTablesRestrictionsAndReferenceColumns) {
  g_used.clear();
  SQLVTWhereUsedMgr manager([](char const *name, int kind) { g_used.push_back(std::to_string(kind) + " " + name); });
  Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e._compnr = 5 AND e.dept REFERS TO d._index1 PATH exemp010.dnul",
          0, 1, &manager);
  EXPECT_EQ(g_used, (std::vector<std::string>{"3 exemp010.dept", "2 exemp010", "3 exemp010._compnr", "2 exdep010", "2 exemp010",
                                               "3 exdep010._index1", "3 exdep010.code", "3 exemp010.dnul"}));
}

}  // namespace
}  // namespace molvane::test
