// Whole statements over the real FROM clause: parsed, resolved, validated
// and turned into their execution trees, with the company bound as an
// execution binds it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/perm/perm_roles.h"
#include "platform/user.h"
#include "sql/exec/et_net_dml.h"
#include "sql/exec/rs_clear_unref.h"
#include "sql/exec/rs_sort.h"
#include "sql/front/parse_mode.h"
#include "sql/front/sql_parse.h"
#include "sql/roles/roles_mgr.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_tree_passes.h"
#include "sql/validate/vt_clear_unref.h"
#include "from_clause_env.h"

namespace molvane::test {
namespace {

class StatementTree : public FromClauseTest {
 protected:
  void SetUp() override {
    FromClauseTest::SetUp();
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_unload_roles();
    user_info.user_type = 'S';
    user_info.db_roles[0] = '\0';
  }
  void TearDown() override {
    SQLRolesMgrExit();
    zdb_unload_roles();
    FromClauseTest::TearDown();
  }

  // The statement's passes up to its execution tree's creation: name
  // resolution, the company-number passes, validation; then the company.
  std::unique_ptr<SQLVTNode> Prepare(std::string const &text, int mode = 0) {
    std::unique_ptr<SQLVTNode> root(SQLParse(text.c_str(), mode, treeData_.get()));
    SQLVTScope scope;
    int flags = 1 | ((mode & parsemode::kAnsi) ? 16 : 0);
    SQLVTNode *resolved = root->MapColumnNamesToIds(&scope, treeData_.get(), flags, nullptr, nullptr);
    if (resolved != root.get()) {
      static_cast<void>(root.release());
      root.reset(resolved);
    }
    SQLStatementCompnrPasses(treeData_.get(), (mode & parsemode::kAnsi) != 0);
    root->Validate();
    if (SQLParameter *company = treeData_->GetDefaultCompnrParameter()) company->BindInteger(7);
    return root;
  }

  void Roles(std::vector<std::string> const &lines) {
    std::string text = "reader\n";
    for (std::string const &line : lines) text += line + "\n";
    root_.WriteFile("lib/roles/db/r/reader", text);
    std::strcpy(user_info.db_roles, "reader");
    user_info.user_type = 'N';
    ASSERT_EQ(zdb_load_roles(), 0);
  }

  static std::string ErrorOf(std::function<void()> const &f) {
    try {
      f();
    } catch (SQLException const &e) {
      return std::string(e.GetSQLState()) + " " + e.GetMessageText()->GetString();
    }
    return "none";
  }
};

TEST_F(StatementTree, SelectWithEveryClauseBecomesItsRowSources) {
  auto root = Prepare(
      "SELECT e.dept, COUNT(*) AS n, MAX(e.salary) FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d "
      "AND e.emp > 1 GROUP BY e.dept HAVING MAX(e.salary) > 10 ORDER BY n DESC");
  EXPECT_EQ(root->GetNumCols(), 3);
  EXPECT_EQ(Compact(root.get()), R"(VTSort(
   SortSpecs:
      SortSpec(1,DESCENDING)
   Child:
      VTProject(
         Projection:
            ColumnRef(0,1)
            ColumnRef(0,2)
            ColumnRef(0,0)
         Child:
            VTFilter(
               SearchCond: Comparison(( ColumnRef(0,0) ) > ( IntegerConst(10) ))
               Child: 
                  VTGroup(
                     Definitive: True
                     GroupColumns:
                     GroupColIds: 1
                     GroupSpec:
                        GroupSpec(MAX(ColumnRef(0,9)))
                        GroupSpec(1)
                        GroupSpec(COUNT(*))
                     Child:
                        VTFilter(
                           SearchCond: Comparison(( ColumnRef(0,4) ) > ( IntegerConst(1) ))
                           Child: 
                              VTJoin(
                                 JoinType: LEFT OUTER JOIN
                                 LeftChild:
                                    VTTable(
                                       TableName: exemp010
                                       Alias: e
                                    )
                                 RightChild:
                                    VTTable(
                                       TableName: exdep010
                                       Alias: d
                                    )
                                 JoinCond:
                                    Comparison(( ColumnRef(0,1) ) = ( ColumnRef(0,13) ))
                              )
                        )
                  )
            )
      )
)
)");
  std::unique_ptr<SQLExecTree> et(root->CreateET());
  EXPECT_NE(dynamic_cast<SQLRSSort *>(et.get()), nullptr);
}

TEST_F(StatementTree, StarOverARealJoinKeepsTheTablesInOrder) {
  auto root = Prepare("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d");
  ASSERT_EQ(root->GetNumCols(), 12 + 1 + 5 + 1);
  char const *name = nullptr;
  bool derived = false;
  treeData_->GetSelectTarget(12, &name, &derived);
  EXPECT_STREQ(name, "exemp010._compnr");
  treeData_->GetSelectTarget(18, &name, &derived);
  EXPECT_STREQ(name, "exdep010._compnr");
  std::unique_ptr<SQLExecTree> et(root->CreateET());
  EXPECT_NE(et, nullptr);
}

TEST_F(StatementTree, ClearUnrefCollectsTheColumnsOfMissingReferredRows) {
  auto root = Prepare("SELECT e.emp, d.name, d.budget FROM exemp010 e, exdep010 d "
                      "WHERE e.dept REFERS TO d UNREF CLEARUNREF",
                      parsemode::kClearUnref);
  auto *node = dynamic_cast<SQLVTClearUnref *>(root.get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->GetNumCols(), 3);
  EXPECT_EQ(node->GetChild()->GetNumCols(), 4);  // e.dept, the foreign key, travels in a hidden column
  ASSERT_EQ(node->GetClearUnrefSpecs().size(), 1u);
  EXPECT_EQ(node->GetClearUnrefSpecs()[0]->GetColumns(), (std::vector<int>{1, 2}));
  std::unique_ptr<SQLExecTree> et(root->CreateET());
  EXPECT_NE(dynamic_cast<SQLRSClearUnref *>(et.get()), nullptr);
}

TEST_F(StatementTree, ClearAndUnrefModesGiveOneSpecificationEach) {
  auto root = Prepare("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d UNREF SETUNREF",
                      parsemode::kClearUnref);
  auto *node = dynamic_cast<SQLVTClearUnref *>(root.get());
  ASSERT_NE(node, nullptr);
  ASSERT_NE(node->GetUnrefSpec(), nullptr);
  EXPECT_EQ(node->GetUnrefSpec()->GetColumns(), (std::vector<int>{1}));
  EXPECT_EQ(node->GetClearSpec(), nullptr);
}

TEST_F(StatementTree, DeleteAndUpdateBecomeAgentRequests) {
  auto del = Prepare("DELETE FROM tttxt010 WHERE _compnr = 3 AND seqe = 1");
  std::unique_ptr<SQLExecTree> et(del->CreateET());
  EXPECT_NE(dynamic_cast<SQLETNetDelete *>(et.get()), nullptr);
  treeData_ = std::make_unique<SQLVTreeData>();
  auto update = Prepare("UPDATE exemp010 SET name = 'x', salary = 2.5 WHERE emp = 4");
  et.reset(update->CreateET());
  EXPECT_NE(dynamic_cast<SQLETNetUpdate *>(et.get()), nullptr);
}

TEST_F(StatementTree, ChangesBeyondWhatTheUserMayChangeAreRefusedWithQP060) {
  Roles({"exemp010:*:R", "tttxt010:*:R"});
  auto del = Prepare("DELETE FROM tttxt010 WHERE seqe = 1");
  EXPECT_EQ(ErrorOf([&] { delete del->CreateET(); }),
            "QP060 Insufficient privileges or data permissions defined on table 'tttxt010'");
  treeData_ = std::make_unique<SQLVTreeData>();
  auto update = Prepare("UPDATE exemp010 SET name = 'x' WHERE emp = 4");
  EXPECT_EQ(ErrorOf([&] { delete update->CreateET(); }),
            "QP060 Insufficient privileges or data permissions defined on table 'exemp010'");
}

TEST_F(StatementTree, RetryOverACompanyListNamesTheCompanyList) {
  // No UNION was written: the message names what the statement holds.
  EXPECT_EQ(ErrorOf([&] {
              Prepare("SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) ORDER BY 1 WITH RETRY", parsemode::kAnsi);
            }),
            "42I74 A RETRY clause cannot be used with a _compnr IN predicate");
  treeData_ = std::make_unique<SQLVTreeData>();
  auto root = Prepare("SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) ORDER BY 1", parsemode::kAnsi);
  EXPECT_EQ(root->GetNumCols(), 1);
}

TEST_F(StatementTree, StatementPrepareDescribesTheResolvedQuery) {
  SQLStatement statement;
  ASSERT_EQ(statement.Prepare("SELECT e.emp, e.name AS who, e.salary * 2 FROM exemp010 e ORDER BY 2, 1 WITH RETRY", 0,
                              0),
            0);
  int columns = 0;
  ASSERT_EQ(statement.NumResultCols(&columns), 0);
  EXPECT_EQ(columns, 3);
  SQLColumnDescriptor const *descriptor = nullptr;
  ASSERT_EQ(statement.GetColumnDescriptor(2, &descriptor), 0);
  EXPECT_EQ(descriptor->GetType(), SQL_REAL);
  char const *name = nullptr;
  bool derived = true;
  ASSERT_EQ(statement.GetSelectTarget(1, &name, &derived), 0);
  EXPECT_STREQ(name, "who");
  EXPECT_FALSE(derived);
  EXPECT_EQ(statement.RetryClauseType(), SQL_RETRY_STRICT);

  SQLStatement refused;
  EXPECT_EQ(refused.Prepare("UPDATE exemp010 SET emp = 1", 0, 0), -1);  // a primary-key column
}

}  // namespace
}  // namespace molvane::test
