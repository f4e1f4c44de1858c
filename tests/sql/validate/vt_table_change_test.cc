// DELETE and UPDATE: name resolution against the one table, company-number
// restrictions, SET clauses, the dictionary's reference and key checks,
// and the permission check of the execution tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/front/parse_mode.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vt_table_change.h"
#include "stmt_test_env.h"

namespace molvane::test {
namespace {

class TableChange : public StmtTest {};

class TableChangeErrors : public StmtTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(TableChangeErrors, PrepareRefuses) {
  ErrorCase const &c = GetParam();
  ExpectError([&] { Prepare(c.text, c.mode); }, c.state, c.message, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TableChangeErrors,
    testing::Values(
        ErrorCase{"UnknownSetColumn", "UPDATE exemp010 SET\n nosuch = 1", 0, "42I03", "Unknown column 'nosuch'", 2},
        ErrorCase{"CombinedSetColumn", "UPDATE exemp010 SET ident = 1", 0, "42I63",
                  "Combined column 'ident' used in SET clause", 1},
        ErrorCase{"ArraySetColumn", "UPDATE exemp010 SET scores = 1", 0, "42I64",
                  "Array column 'scores' used in SET clause", 1},
        ErrorCase{"PrimaryKeyColumn", "UPDATE exemp010 SET emp = 1", 0, "42I67",
                  "Update on primary key column 'emp'", 1},
        ErrorCase{"ForeignKeyColumn", "UPDATE exemp010 SET dept = 'd1'", 0, "42I68",
                  "Update on foreign key column 'dept'", 1},
        ErrorCase{"ChildTables", "DELETE FROM exdep010", 0, "42I65", "Table 'exdep010' has child tables", 1},
        ErrorCase{"ParentToUpdate", "DELETE FROM exemp010 WHERE emp = 1", 0, "42I66",
                  "Table 'exemp010' has a parent table that needs to be updated on delete", 1},
        ErrorCase{"TwoRestrictions", "DELETE FROM exemp010 WHERE _compnr = 1 AND\n _compnr = 2", 0, "42I31",
                  "Multiple compnr specifications on table 'exemp010'", 2},
        ErrorCase{"OtherTablesRestriction", "DELETE FROM exemp010 WHERE\n x._compnr = 1", 0, "42I04",
                  "Unknown table 'x'", 2},
        ErrorCase{"CompanyListInDelete", "DELETE FROM exemp010 WHERE company_nr IN (1, 2)", parsemode::kAnsi,
                  "42I89", "Company-number restriction on table 'exemp010' must be one company number or host variable",
                  1},
        ErrorCase{"CompanyListInUpdate", "UPDATE exemp010 SET name = 'a' WHERE company_nr IN (1, 2)",
                  parsemode::kAnsi, "42I89",
                  "Company-number restriction on table 'exemp010' must be one company number or host variable", 1},
        ErrorCase{"CompanyJoinInUpdate", "UPDATE exemp010 e SET name = 'a' WHERE e.company_nr = e.company_nr",
                  parsemode::kAnsi, "42I89",
                  "Company-number restriction on table 'e' must be one company number or host variable", 1},
        ErrorCase{"UnknownWhereColumn", "DELETE FROM exemp010 WHERE nosuch = 1", 0, "42I03",
                  "Unknown column 'nosuch'", 1},
        ErrorCase{"SetTypeConflict", "UPDATE exemp010 SET name = 1", 0, "42T14",
                  "Type conflict on integer constant. Type STRING expected", -1}),
    CaseName);

TEST_F(TableChange, SetValuesMustBeConstantsOrHostVariables) {
  // The grammar admits only constants and host variables; a tree built
  // otherwise is refused rather than sent with an unresolved value.
  auto *table = new SQLVTTable(SQLColumnDescriptor::CopyName("exemp010"), nullptr, false);
  auto *clauses = new SQLVTSetClauseList();
  clauses->AppendClause(new SQLVTSetClause(
      new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("name")),
      new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("status"))));
  std::unique_ptr<SQLVTNode> update(new SQLVTUpdate(table, nullptr, clauses));
  ExpectError([&] { Resolve(std::move(update)); }, "42I69",
              "Only constants and host variables may be assigned to column 'name'");
}

TEST_F(TableChange, HostVariablesAndDatesAreAccepted) {
  auto root = Prepare("UPDATE exemp010 SET name = :n, hired = CURRENT_DATE, status = 2 WHERE emp = :e");
  auto *update = dynamic_cast<SQLVTUpdate *>(root.get());
  ASSERT_NE(update, nullptr);
  std::vector<int> ids;
  SQLVTSetClauseList *clauses = update->GetSetClauses();
  for (bool more = clauses->First(); more; more = clauses->Next()) ids.push_back(clauses->GetCurrent()->GetColumnId());
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_STREQ(update->GetTable()->GetColumnDescriptor(ids[0])->GetName(), "name");
  EXPECT_STREQ(update->GetTable()->GetColumnDescriptor(ids[1])->GetName(), "hired");
}

TEST_F(TableChange, OneCompanyNumberRestrictsTheTable) {
  for (char const *text : {"DELETE FROM tttxt010 WHERE _compnr = 7 AND seqe = 1", "DELETE FROM tttxt010 WHERE _compnr = :c",
                           "UPDATE exemp010 e SET name = 'a' WHERE e._compnr = 7"}) {
    treeData_ = std::make_unique<SQLVTreeData>();
    auto root = Prepare(text);
    auto *change = dynamic_cast<SQLVTTableChange *>(root.get());
    ASSERT_NE(change, nullptr);
    EXPECT_TRUE(change->GetTable()->CompnrSetIsRestricted()) << text;
  }
  treeData_ = std::make_unique<SQLVTreeData>();
  auto root = Prepare("DELETE FROM tttxt010");
  EXPECT_FALSE(static_cast<SQLVTTableChange *>(root.get())->GetTable()->CompnrSetIsRestricted());
}

TEST_F(TableChange, WhereUsedReportsTableCompanyNumberAndSetColumns) {
  static std::vector<std::string> seen;
  seen.clear();
  whereUsed_ = std::make_unique<SQLVTWhereUsedMgr>([](char const *name, int kind) {
    seen.push_back(std::to_string(kind) + " " + name);
  });
  Prepare("UPDATE exemp010 SET name = 'a' WHERE _compnr = 3 AND salary > 1");
  auto has = [](std::string const &s) { return std::find(seen.begin(), seen.end(), s) != seen.end(); };
  EXPECT_TRUE(has("2 exemp010"));
  EXPECT_TRUE(has("3 exemp010._compnr"));
  EXPECT_TRUE(has("3 exemp010.name"));
  EXPECT_TRUE(has("3 exemp010.salary"));
}

TEST_F(TableChange, TraceOfResolvedDeleteAndUpdate) {
  auto del = Prepare("DELETE FROM tttxt010 WHERE _compnr = 3 AND seqe = 1");
  EXPECT_EQ(Trace(del.get()), R"(VTDelete(
   Table: 
      VTTable(
         Id: #
         TableName: tttxt010
         Alias: NULL
         ForUpdate: False
         Compnr restrictions: Id: # Restrictions: [Integer: 3]
         Schema: ...
      )
   SearchCond: Comparison(( ColumnRef(0,2) ) = ( IntegerConst(1) ))
   CompnrSpecs:
      CompnrSpec(CompnrName: _compnr, Compnr: 3)
)
)");
  auto update = Prepare("UPDATE exemp010 SET name = 'x', salary = 2 WHERE emp > :e");
  EXPECT_EQ(Trace(update.get()), R"(VTUpdate(
   Table: 
      VTTable(
         Id: #
         TableName: exemp010
         Alias: NULL
         ForUpdate: False
         Compnr restrictions: Id: # Restrictions: []
         Schema: ...
      )
   SetClauseList:
      SetClauseList(SetClause(7, StringConst(x)), SetClause(9, IntegerConst(2)))
   SearchCond: Comparison(( ColumnRef(0,4) ) > ( ParameterRef(Parameter(id=#,<Undefined>,SQL_REAL)) ))
)
)");
}

}  // namespace
}  // namespace molvane::test
