// The execution layer against the reference driver: each join
// type over employees and departments, shipped to the driver's SQL agent as
// one query where it can be and run here as a nested loop over a
// parameterised inner table where it cannot, compared with the same join
// computed by SQLite directly on the driver's database; DELETE and UPDATE
// trees and the text reader through the same agent.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "sql/agent/net_agent_client.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/et_net_dml.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/rs_net_fetch.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/text_reader.h"
#include "platform/user.h"
#include "sql/front/sql_parse.h"
#include "sql/statement/statement.h"
#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtree_data.h"
#include "sqlite/sqlite_functions.h"
#include "support/test_env.h"
#include "support/vt_from.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using Pair = std::pair<std::optional<int>, std::optional<double>>;

void IgnoreDeath(STREAM *) {}

constexpr int kCompany = 1;

class SqlExecE2E : public testing::TestWithParam<char const *> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv"), root_.path(), std::filesystem::copy_options::recursive);
    std::string form = GetParam();
    std::string target = std::string(MOLVANE_BINARY_DIR) +
                         (form == "child" ? "/driver/molvane-driver" : "/driver/libmolvane_driver.so");
    root_.WriteFile("lib/ipc_info", "msqlite " + form + " " + target + " ${ZUV}/main.db\n");
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    ASSERT_EQ(zdb_init_api("test_driver", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("rows");
    ASSERT_GT(trans_, 0);
    for (char const *table : {"exdep010", "exemp010"}) {
      ZDB_CURSOR *cursor = nullptr;
      ASSERT_EQ(zdb_open(&cursor, table, kCompany, row_, 0, trans_), 0);
      cursors_.push_back(cursor);
      std::uint32_t argument = 0;
      ASSERT_EQ(zdb_do_exec_table(Cursor(cursor), table_action_word(create_table), &argument), 0) << zdb_errno;
    }
    // Departments A 10, B 20, C 30; employees 1 in A, 2 and 3 in B, 4 in none.
    for (auto [code, budget] : {std::pair<char const *, double>{"A", 10}, {"B", 20}, {"C", 30}})
      Insert(cursors_[0], "exdep010", {{"code", Text(code)}, {"budget", Real(budget)}});
    for (auto [emp, dept] : {std::pair<int, char const *>{1, "A"}, {2, "B"}, {3, "B"}, {4, ""}})
      Insert(cursors_[1], "exemp010", {{"emp", Int(emp)}, {"dept", Text(dept)}});
    // Committed, so that SQLite sees the rows too.
    ZDB_SESSION *session = Cursor(cursors_[1])->tsession->session;
    ASSERT_EQ(flush_updates(session), 0) << zdb_errno;
    ASSERT_EQ(zdb_do_exec_db(session, db_action_word(commit_trans)), 0) << zdb_errno;
  }
  void TearDown() override {
    SQLTextReader::DeleteInstance();
    SQLNetAgentClient::DeleteInstance();
    zdb_logoff();
  }

  static SQLValueStore Text(char const *s) {
    SQLValueStore v;
    v.SetString(s);
    return v;
  }
  static SQLValueStore Real(double d) {
    SQLValueStore v;
    v.SetReal(d);
    return v;
  }
  static SQLValueStore Int(int i) {
    SQLValueStore v;
    v.SetInteger(i);
    return v;
  }
  ZDB_INTERNAL_CURSOR *Cursor(ZDB_CURSOR *cursor) {
    ZDB_INTERNAL_CURSOR *ic = nullptr;
    EXPECT_EQ(zdb_get_internal_cursor(&ic, cursor, 1), 0) << zdb_errno;
    return ic;
  }
  // Buffers the insert of a row of default values with the given columns.
  void Insert(ZDB_CURSOR *cursor, char const *table, std::vector<std::pair<char const *, SQLValueStore>> values) {
    DD_TABLE *dd = ddtable(table);
    ASSERT_NE(dd, nullptr);
    std::vector<unsigned char> image(dd->dlock_offset, 0);
    fill_default_row(dd, image.data());
    for (auto const &[name, value] : values) {
      DD_COLUMN *c = ddcolumn((std::string(table) + "." + name).c_str());
      ASSERT_NE(c, nullptr) << name;
      unsigned char const *field = nullptr;
      int length = 0;
      copyValueStoreToRowBuffer(c->type, c->length, 1, &value, 0, ' ', &field, &length);
      std::memcpy(image.data() + c->offset, field, static_cast<size_t>(length));
    }
    std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
    record[3] = RDS_ACT_INSERT;
    record.insert(record.end(), image.begin(), image.end());
    ASSERT_EQ(zdb_do_exec_row(Cursor(cursor), record.data(), 0, 0), 0) << zdb_errno;
  }

  // (emp, budget) of every row of the tree, sorted.
  std::vector<Pair> Run(SQLRowSource *tree, int empColumn, int budgetColumn) {
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    tree->Attach(static_cast<unsigned long>(trans_));
    tree->Exec();
    std::vector<Pair> rows;
    while (tree->Fetch()) {
      SQLValueStore const *e = tree->GetValueStoreAddr(empColumn);
      SQLValueStore const *b = tree->GetValueStoreAddr(budgetColumn);
      rows.emplace_back(e->IsNull() ? std::nullopt : std::optional<int>(e->GetInteger()),
                        b->IsNull() ? std::nullopt : std::optional<double>(b->GetReal()));
    }
    tree->Break();
    tree->Close();
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // The same join by SQLite on the driver's database, over the employees
  // and departments or the given queries of them.
  std::vector<Pair> Sqlite(char const *joinType, char const *budget = "d.budget",
                           std::string const &employees = "exemp010001",
                           std::string const &departments = "exdep010001") {
    std::string sql = std::string("SELECT e.emp, ") + budget + " FROM " + employees + " e " + joinType + " JOIN " +
                      departments + " d ON e.dept = d.code";
    std::vector<Pair> rows;
    for (std::vector<std::optional<double>> const &row : SqliteRows(sql))
      rows.emplace_back(row[0] ? std::optional<int>(static_cast<int>(*row[0])) : std::nullopt, row[1]);
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // The numeric rows SQLite gives for a query on the driver's database, sorted.
  std::vector<std::vector<std::optional<double>>> SqliteRows(std::string const &sql) {
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open_v2((root_.path() + "/main.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    EXPECT_TRUE(molvane::driver::InstallTssCollation(db));  // the collation of the driver's text indexes
    sqlite3_stmt *stmt = nullptr;
    std::vector<std::vector<std::optional<double>>> rows;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
      rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        rows.back().push_back(sqlite3_column_type(stmt, i) == SQLITE_NULL
                                  ? std::nullopt
                                  : std::optional<double>(sqlite3_column_double(stmt, i)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // Every column of the employees' leaf, emp as emp * 1: a projection that
  // computes a value cannot join at the driver, so the join runs here.
  static SQLRowSource *ComputingProjection(SQLRowSource *leaf) {
    int const empId = SQLSchemaMgr::GetSchema("exemp010")->GetColumnId("emp");
    auto *all = new pSQLRSSCValueExprList;
    for (int i = 0; i < leaf->GetNumCols(); ++i) {
      auto *column = new SQLRSSCColumnRef(0, i, leaf->GetColumnDescriptor(i));
      all->Append(i == empId ? static_cast<SQLRSSCValueExpr *>(new SQLRSSCMultiply(column, new SQLRSSCIntegerConst(1)))
                             : column);
    }
    return new SQLRSProject(leaf, all);
  }

  ScratchDir root_;
  int trans_ = 0;
  std::vector<ZDB_CURSOR *> cursors_;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
};

TEST_P(SqlExecE2E, EveryJoinTypeShippedAndLocalAgreesWithSqlite) {
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  int const nl = emp->GetNumCols();
  int const empId = emp->GetColumnId("emp"), deptId = emp->GetColumnId("dept");
  int const codeId = dep->GetColumnId("code"), budgetId = dep->GetColumnId("budget");
  struct Case {
    SQLJoinType type;
    char const *sql;
  } const cases[] = {{SQL_JOIN_INNER, "INNER"}, {SQL_JOIN_LEFT, "LEFT"}, {SQL_JOIN_RIGHT, "RIGHT"},
                     {SQL_JOIN_FULL, "FULL"}};
  // Each side filtered or not: a filter of a side that an outer join keeps
  // whole keeps its rows out; one of the side it sets NULL acts before the
  // NULL row is made.
  struct Filter {
    bool employees;  // else the departments
    char const *sql;
  } const filters[] = {{true, "(SELECT * FROM exemp010001 WHERE emp > 1)"},
                       {false, "(SELECT * FROM exdep010001 WHERE budget > 15)"}};
  for (Case const &c : cases) {
    for (Filter const *f : {static_cast<Filter const *>(nullptr), &filters[0], &filters[1]}) {
      std::vector<Pair> expected = f == nullptr ? Sqlite(c.sql)
                                   : f->employees ? Sqlite(c.sql, "d.budget", f->sql)
                                                  : Sqlite(c.sql, "d.budget", "exemp010001", f->sql);
      ASSERT_FALSE(expected.empty()) << c.sql;
      for (bool local : {false, true}) {
        SCOPED_TRACE(std::string(c.sql) + (local ? " local" : " shipped") + (f ? std::string(" over ") + f->sql : ""));
        SQLRowSource *left = SQLRSFetch::CreateRSFetch("exemp010", kCompany, nullptr);
        SQLRowSource *right = SQLRSFetch::CreateRSFetch("exdep010", kCompany, nullptr);
        if (local) {
          left = ComputingProjection(left);
        }
        if (f != nullptr && f->employees) {
          auto *l = new pSQLRSSCValueExprList;
          l->Append(new SQLRSSCColumnRef(0, empId, emp->GetColumnDescriptor(empId)));
          auto *r = new pSQLRSSCValueExprList;
          r->Append(new SQLRSSCIntegerConst(1));
          left = new SQLRSFilter(left, new SQLRSSCComparison(l, SQLRSSC_GREATER_THAN, r));
        } else if (f != nullptr) {
          auto *l = new pSQLRSSCValueExprList;
          l->Append(new SQLRSSCColumnRef(0, budgetId, dep->GetColumnDescriptor(budgetId)));
          auto *r = new pSQLRSSCValueExprList;
          r->Append(new SQLRSSCRealConst(15));
          right = new SQLRSFilter(right, new SQLRSSCComparison(l, SQLRSSC_GREATER_THAN, r));
        }
        auto *l = new pSQLRSSCValueExprList;
        l->Append(new SQLRSSCColumnRef(0, deptId, emp->GetColumnDescriptor(deptId)));
        auto *r = new pSQLRSSCValueExprList;
        r->Append(new SQLRSSCColumnRef(0, nl + codeId, dep->GetColumnDescriptor(codeId)));
        auto *join = new SQLRSJoin(c.type, left, right, new SQLRSSCComparison(l, SQLRSSC_EQUAL, r));
        std::unique_ptr<SQLRowSource> tree(join->OptimizeRS());
        bool shipped = dynamic_cast<SQLRSNetFetch *>(tree.get()) != nullptr;
        EXPECT_EQ(shipped, !local && c.type != SQL_JOIN_FULL);
        EXPECT_EQ(Run(tree.get(), empId, nl + budgetId), expected);
      }
    }
  }
}

// Two RIGHT joins in a row over the tables of one driver are one query of
// that driver: (employees RIGHT JOIN departments) RIGHT JOIN employees, its
// inner side a join of its own, gives SQLite's rows.
TEST_P(SqlExecE2E, RightJoinsInARowAreOneQueryOfTheDriver) {
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  int const ne = emp->GetNumCols(), nd = dep->GetNumCols();
  int const empId = emp->GetColumnId("emp"), deptId = emp->GetColumnId("dept");
  int const codeId = dep->GetColumnId("code"), budgetId = dep->GetColumnId("budget");
  auto equal = [](SQLRSSCValueExpr *a, SQLRSSCValueExpr *b) {
    auto *l = new pSQLRSSCValueExprList;
    l->Append(a);
    auto *r = new pSQLRSSCValueExprList;
    r->Append(b);
    return new SQLRSSCComparison(l, SQLRSSC_EQUAL, r);
  };
  auto *first = new SQLRSJoin(SQL_JOIN_RIGHT, SQLRSFetch::CreateRSFetch("exemp010", kCompany, nullptr),
                              SQLRSFetch::CreateRSFetch("exdep010", kCompany, nullptr),
                              equal(new SQLRSSCColumnRef(0, deptId, emp->GetColumnDescriptor(deptId)),
                                    new SQLRSSCColumnRef(0, ne + codeId, dep->GetColumnDescriptor(codeId))));
  auto *second = new SQLRSJoin(SQL_JOIN_RIGHT, first, SQLRSFetch::CreateRSFetch("exemp010", kCompany, nullptr),
                               equal(new SQLRSSCColumnRef(0, ne + codeId, dep->GetColumnDescriptor(codeId)),
                                     new SQLRSSCColumnRef(0, ne + nd + deptId, emp->GetColumnDescriptor(deptId))));
  std::unique_ptr<SQLRowSource> tree(second->OptimizeRS());
  ASSERT_NE(dynamic_cast<SQLRSNetFetch *>(tree.get()), nullptr);
  std::vector<std::vector<std::optional<double>>> expected =
      SqliteRows("SELECT e.emp, d.budget, e3.emp FROM exemp010001 e RIGHT JOIN exdep010001 d ON e.dept = d.code "
                 "RIGHT JOIN exemp010001 e3 ON d.code = e3.dept");
  ASSERT_EQ(expected.size(), 6u);
  SQLRSPrepareContext context;
  tree->Prepare(&context);
  tree->Attach(static_cast<unsigned long>(trans_));
  for (int run = 0; run < 2; ++run) {  // executed again, the one query gives the same rows
    tree->Exec();
    std::vector<std::vector<std::optional<double>>> rows;
    while (tree->Fetch()) {
      rows.emplace_back();
      for (int c : {empId, ne + budgetId, ne + nd + empId}) {
        SQLValueStore const *v = tree->GetValueStoreAddr(c);
        rows.back().push_back(v->IsNull()                      ? std::nullopt
                              : v->GetType() == SQL_REAL ? std::optional<double>(v->GetReal())
                                                         : std::optional<double>(v->GetInteger()));
      }
    }
    tree->Break();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, expected) << "run " << run;
  }
  tree->Close();
}

// The join trees that FROM clauses resolve into, run against the driver:
// a REFERS TO from employees to departments is the LEFT join, an ANSI JOIN
// the INNER one, and a REFERS TO from a constant one department row or one
// all-NULL row beside every employee.
TEST_P(SqlExecE2E, FromClauseJoinTreesAgreeWithSqlite) {
  user_info.user_type = 'S';  // no role conditions
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  int const nl = emp->GetNumCols();
  int const empId = emp->GetColumnId("emp"), budgetId = dep->GetColumnId("budget");
  auto run = [&](char const *text, int mode, int flags) {
    SQLVTreeData treeData;
    std::unique_ptr<SQLVTNode> statement(SQLParse(text, mode, &treeData));
    SQLVTScope scope;
    std::unique_ptr<SQLVTNode> tree = molvane::test::ResolveFromClause(statement.get(), &treeData, &scope, flags);
    treeData.SimplifyTableCompnrSets();
    treeData.GetDefaultCompnrParameter()->BindInteger(kCompany);
    std::unique_ptr<SQLRowSource> rs(static_cast<SQLRowSource *>(tree->CreateET()));
    std::unique_ptr<SQLRowSource> optimised(rs.release()->OptimizeRS());
    return Run(optimised.get(), empId, nl + budgetId);
  };
  EXPECT_EQ(run("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d", 0, 1), Sqlite("LEFT"));
  EXPECT_EQ(run("SELECT * FROM exdep010 d, exemp010 e WHERE e.dept REFERS TO d", 0, 1), Sqlite("LEFT"));
  EXPECT_EQ(run("SELECT * FROM exemp010 e JOIN exdep010 d ON e.dept = d.code", 0x10, 1 | 16), Sqlite("INNER"));
  // Department B (budget 20) beside each of the four employees; none for Z.
  EXPECT_EQ(run("SELECT * FROM exemp010 e, exdep010 d WHERE 'B' REFERS TO d", 0, 1),
            (std::vector<Pair>{{1, 20.0}, {2, 20.0}, {3, 20.0}, {4, 20.0}}));
  EXPECT_EQ(run("SELECT * FROM exemp010 e, exdep010 d WHERE 'Z' REFERS TO d", 0, 1),
            (std::vector<Pair>{{1, std::nullopt}, {2, std::nullopt}, {3, std::nullopt}, {4, std::nullopt}}));
}

// A join tree is planned alike in both parse modes: two RIGHT joins in a
// row, and the INNER joins a condition on the first table makes of them,
// are one query of the driver, also in the ANSI mode, whose tables on a
// side a join could fill with NULLs carry their company number in a
// projection. Both give SQLite's rows.
TEST_P(SqlExecE2E, AnsiAndClassicJoinTreesOfAStatementAreAlike) {
  user_info.user_type = 'S';  // no role conditions
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  int const flagsId = emp->GetColumnId("flags"), empId = emp->GetColumnId("emp");
  char const *const text =
      "SELECT * FROM ((exemp010 e1 RIGHT JOIN exemp010 e2 ON e1.emp = e2.emp) RIGHT JOIN exemp010 e3 "
      "ON e1.dept = e3.dept)";
  for (bool where : {true, false}) {
    std::vector<std::vector<std::optional<double>>> results[2];
    for (int ansi = 0; ansi < 2; ++ansi) {
      SCOPED_TRACE(std::string(ansi ? "ANSI" : "classic") + (where ? ", WHERE e1.flags < 1000" : ""));
      SQLVTreeData treeData;
      std::unique_ptr<SQLVTNode> statement(SQLParse(text, ansi ? 0x10 : 0, &treeData));
      SQLVTScope scope;
      std::unique_ptr<SQLVTNode> from =
          molvane::test::ResolveFromClause(statement.get(), &treeData, &scope, ansi ? 1 | 16 : 1);
      treeData.SimplifyTableCompnrSets();
      treeData.GetDefaultCompnrParameter()->BindInteger(kCompany);
      auto *rs = static_cast<SQLRowSource *>(from->CreateET());
      int const n1 = rs->GetNumCols() / 3;  // e1's columns, the company number among them in the ANSI mode
      if (where)
        rs = new SQLRSFilter(rs, new SQLRSSCComparison(
                                     [&] {
                                       auto *l = new pSQLRSSCValueExprList;
                                       l->Append(new SQLRSSCColumnRef(0, flagsId, emp->GetColumnDescriptor(flagsId)));
                                       return l;
                                     }(),
                                     SQLRSSC_LESS_THAN,
                                     [] {
                                       auto *l = new pSQLRSSCValueExprList;
                                       l->Append(new SQLRSSCIntegerConst(1000));
                                       return l;
                                     }()));
      std::unique_ptr<SQLRowSource> tree(rs->OptimizeRS());
      EXPECT_NE(dynamic_cast<SQLRSNetFetch *>(tree.get()), nullptr);
      SQLRSPrepareContext context;
      tree->Prepare(&context);
      tree->Attach(static_cast<unsigned long>(trans_));
      tree->Exec();
      while (tree->Fetch()) {
        results[ansi].emplace_back();
        for (int c : {empId, tree->GetNumCols() - n1 + empId}) {
          SQLValueStore const *v = tree->GetValueStoreAddr(c);
          results[ansi].back().push_back(v->IsNull() ? std::nullopt : std::optional<double>(v->GetInteger()));
        }
      }
      tree->Break();
      tree->Close();
      std::sort(results[ansi].begin(), results[ansi].end());
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0],
              SqliteRows(std::string("SELECT e1.emp, e3.emp FROM (exemp010001 e1 RIGHT JOIN exemp010001 e2 ON e1.emp = "
                                     "e2.emp) RIGHT JOIN exemp010001 e3 ON e1.dept = e3.dept") +
                         (where ? " WHERE e1.flags < 1000" : "")));
  }
}

// Whole SELECT statements prepared and executed by SQLStatement: the FROM
// clause's join tree under the statement nodes, in both parse modes.
TEST_P(SqlExecE2E, SelectStatementsOverJoinsAgreeWithSqlite) {
  user_info.user_type = 'S';  // no role conditions
  auto select = [&](char const *text, int mode) {
    SQLStatement statement;
    std::vector<Pair> rows;
    EXPECT_EQ(statement.Prepare(text, static_cast<unsigned long>(trans_), mode), 0) << text;
    int count = 0;
    EXPECT_EQ(statement.Exec(kCompany, &count), 0) << text;
    while (statement.Fetch() == 0) {
      SQLValueStore const *e = nullptr;
      SQLValueStore const *b = nullptr;
      statement.GetValueStoreAddr(0, &e);
      statement.GetValueStoreAddr(1, &b);
      if (e == nullptr || b == nullptr) break;
      rows.emplace_back(e->IsNull() ? std::nullopt : std::optional<int>(e->GetInteger()),
                        b->IsNull() ? std::nullopt : std::optional<double>(b->GetReal()));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  EXPECT_EQ(select("SELECT e.emp, d.budget FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d", 0), Sqlite("LEFT"));
  for (char const *type : {"INNER", "LEFT", "RIGHT"}) {
    std::string text = std::string("SELECT e.emp, d.budget FROM exemp010 e ") + type +
                       " JOIN exdep010 d ON e.dept = d.code AND e.company_nr = d.company_nr";
    EXPECT_EQ(select(text.c_str(), 0x10), Sqlite(type)) << text;
  }
  EXPECT_EQ(select("SELECT e.emp, d.budget FROM exemp010 e FULL JOIN exdep010 d ON e.dept = d.code", 0x10),
            Sqlite("FULL"));
  // A condition of an ON clause on one side, or on none: an INNER join
  // applies it as a WHERE does (with its table), an outer join only to the
  // side it sets NULL, whose rows a constant FALSE empties, never to the
  // rows it keeps. Employee 4's department is empty, no department's code.
  auto sqlite = [&](std::string const &text) {
    std::string sql = text;
    for (char const *table : {"exemp010", "exdep010"})
      for (size_t at = sql.find(table); at != std::string::npos; at = sql.find(table, at + 1))
        sql.insert(at + 8, "001");
    std::vector<Pair> rows;
    for (std::vector<std::optional<double>> const &row : SqliteRows(sql))
      rows.emplace_back(row[0] ? std::optional<int>(static_cast<int>(*row[0])) : std::nullopt, row[1]);
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  for (char const *type : {"INNER", "LEFT", "RIGHT"}) {
    for (char const *on : {"d.budget > 15", "e.emp > 2", "e.emp > 1 AND d.budget < 25", "d.budget BETWEEN 30 AND 20",
                           "1 = 0", "d.code IS NULL", "e.emp IN (SELECT x.emp FROM exemp010 x WHERE x.emp < 3)",
                           "EXISTS (SELECT x.emp FROM exemp010 x WHERE x.emp > e.emp AND x.dept = d.code)",
                           "2000 IN (SELECT x.emp FROM exemp010 x)"}) {
      std::string const text = std::string("SELECT e.emp, d.budget FROM exemp010 e ") + type +
                               " JOIN exdep010 d ON e.dept = d.code AND " + on;
      EXPECT_EQ(select(text.c_str(), 0x10), sqlite(text)) << text;
    }
    // An ON of one side alone: the join's own condition then compares nothing.
    for (char const *on : {"1 = 0", "d.budget > 15", "e.emp > 2"}) {
      std::string const text =
          std::string("SELECT e.emp, d.budget FROM exemp010 e ") + type + " JOIN exdep010 d ON " + on;
      EXPECT_EQ(select(text.c_str(), 0x10), sqlite(text)) << text;
    }
  }
  // Under an INNER join, whose condition drops the NULL rows of the LEFT
  // join below it.
  for (char const *text : {"SELECT e.emp, d.budget FROM (exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND "
                           "d.budget > 15) INNER JOIN exemp010 e2 ON e2.emp = e.emp AND d.budget < 25",
                           "SELECT e.emp, d.budget FROM (exemp010 e LEFT JOIN exdep010 d ON 1 = 0) INNER JOIN "
                           "exemp010 e2 ON e2.dept = d.code ORDER BY 1",
                           "SELECT e.emp, d.budget FROM (exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND "
                           "e.emp > 2) INNER JOIN exdep010 d2 ON d2.code = e.dept AND d2.budget > 15"})
    EXPECT_EQ(select(text, 0x10), sqlite(text)) << text;
  // A company list runs the query once per listed company: 1 listed twice is
  // read once.
  EXPECT_EQ(select("SELECT e.emp, d.budget FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND "
                   "e.company_nr = d.company_nr AND e.company_nr IN (1, 1)",
                   0x10),
            Sqlite("INNER"));
  // A _compnr join cannot restrict either side of a FULL join.
  SQLStatement full;
  EXPECT_NE(full.Prepare("SELECT e.emp FROM exemp010 e FULL JOIN exdep010 d ON e.company_nr = d.company_nr",
                         static_cast<unsigned long>(trans_), 0x10),
            0);
  char state[6] = {};
  char message[256] = {};
  full.GetDiagRec(1, state, nullptr, message, sizeof message, nullptr, nullptr);
  EXPECT_STREQ(state, "42I89");
  EXPECT_STREQ(message, "_compnr join predicate used in a FULL OUTER join");
}

// A projection over a join that runs here: an expression over a side that
// the join keeps whole goes down to that side's table leaf, so the driver
// computes it; over a side whose rows the join may drop it is computed
// here. The rows are those SQLite gives.
TEST_P(SqlExecE2E, ProjectionExpressionOverAKeptSideOfALocalJoinIsComputedByTheDriver) {
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  int const nl = emp->GetNumCols();
  int const empId = emp->GetColumnId("emp"), deptId = emp->GetColumnId("dept");
  int const codeId = dep->GetColumnId("code"), budgetId = dep->GetColumnId("budget");
  for (auto [type, sql] : {std::pair<SQLJoinType, char const *>{SQL_JOIN_INNER, "INNER"}, {SQL_JOIN_LEFT, "LEFT"},
                           {SQL_JOIN_RIGHT, "RIGHT"}, {SQL_JOIN_FULL, "FULL"}}) {
    SCOPED_TRACE(sql);
    SQLRowSource *left = SQLRSFetch::CreateRSFetch("exemp010", kCompany, nullptr);
    SQLRowSource *right = SQLRSFetch::CreateRSFetch("exdep010", kCompany, nullptr);
    left = ComputingProjection(left);
    auto *l = new pSQLRSSCValueExprList;
    l->Append(new SQLRSSCColumnRef(0, deptId, emp->GetColumnDescriptor(deptId)));
    auto *r = new pSQLRSSCValueExprList;
    r->Append(new SQLRSSCColumnRef(0, nl + codeId, dep->GetColumnDescriptor(codeId)));
    auto *join = new SQLRSJoin(type, left, right, new SQLRSSCComparison(l, SQLRSSC_EQUAL, r));
    // SELECT e.emp, d.budget * 2.5
    auto *select = new pSQLRSSCValueExprList;
    select->Append(new SQLRSSCColumnRef(0, empId, emp->GetColumnDescriptor(empId)));
    select->Append(new SQLRSSCMultiply(new SQLRSSCColumnRef(0, nl + budgetId, dep->GetColumnDescriptor(budgetId)),
                                       new SQLRSSCRealConst(2.5)));
    std::unique_ptr<SQLRowSource> tree((new SQLRSProject(join, select))->OptimizeRS());
    auto *top = dynamic_cast<SQLRSProject *>(tree.get());
    ASSERT_NE(top, nullptr);
    ASSERT_NE(dynamic_cast<SQLRSJoin *>(top->GetChild()), nullptr);
    // The product arrives from the departments' leaf as a column.
    EXPECT_EQ(top->GetExpression(1)->IsColumnRef(), type == SQL_JOIN_RIGHT || type == SQL_JOIN_FULL);
    EXPECT_EQ(Run(tree.get(), 0, 1), Sqlite(sql, "d.budget * 2.5"));
  }
}

// UPDATE and DELETE trees run by the agent: their counts, and what a query
// sees afterwards.
TEST_P(SqlExecE2E, UpdateAndDeleteByTheAgent) {
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  int const codeId = dep->GetColumnId("code"), budgetId = dep->GetColumnId("budget");
  auto codeIs = [&](char const *code) {
    auto *l = new pSQLRSSCValueExprList;
    l->Append(new SQLRSSCColumnRef(0, codeId, dep->GetColumnDescriptor(codeId)));
    auto *r = new pSQLRSSCValueExprList;
    r->Append(new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>(code), std::strlen(code)));
    return new SQLRSSCComparison(l, SQLRSSC_EQUAL, r);
  };
  auto run = [&](SQLETNetRequest *tree) {
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    tree->Attach(static_cast<unsigned long>(trans_));
    return tree->Exec();
  };
  auto *columns = new intList;
  columns->Append(budgetId);
  auto *values = new pSQLRSSCValueExprList;
  values->Append(new SQLRSSCIntegerConst(99));
  SQLETNetUpdate update("exdep010", kCompany, std::unique_ptr<intList>(columns), SQLETNetUpdate::ValueListPtr(values),
                        std::unique_ptr<SQLRSSCSearchCond>(codeIs("B")));
  EXPECT_EQ(run(&update), 1);
  // A text column set from raw bytes holds those bytes.
  int const nameId = dep->GetColumnId("name");
  auto *nameColumn = new intList;
  nameColumn->Append(nameId);
  auto *raw = new pSQLRSSCValueExprList;
  raw->Append(new SQLRSSCRawConst(reinterpret_cast<unsigned char const *>("Zeta"), 4));
  SQLETNetUpdate rename("exdep010", kCompany, std::unique_ptr<intList>(nameColumn), SQLETNetUpdate::ValueListPtr(raw),
                        std::unique_ptr<SQLRSSCSearchCond>(codeIs("C")));
  EXPECT_EQ(run(&rename), 1);
  SQLETNetDelete del("exdep010", kCompany, std::unique_ptr<SQLRSSCSearchCond>(codeIs("A")));
  EXPECT_EQ(run(&del), 1);
  EXPECT_EQ(run(&del), 0);

  std::unique_ptr<SQLRowSource> leaf(SQLRSFetch::CreateRSFetch("exdep010", kCompany, nullptr));
  SQLRSPrepareContext context;
  leaf->Prepare(&context);
  leaf->Attach(static_cast<unsigned long>(trans_));
  leaf->Exec();
  std::vector<double> budgets;
  std::vector<std::string> names;
  while (leaf->Fetch()) {
    budgets.push_back(leaf->GetValueStoreAddr(budgetId)->GetReal());
    SQLValueStore const *name = leaf->GetValueStoreAddr(nameId);
    std::string text(name->GetString(), name->GetLength());
    names.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
  }
  leaf->Break();
  leaf->Close();
  std::sort(budgets.begin(), budgets.end());
  EXPECT_EQ(budgets, (std::vector<double>{30.0, 99.0}));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "unnamed"}));
}

// text_content() through the text reader: the lines of the text in the
// language in sequence order, joined as stored, the end stripped; a text
// without lines is NULL.
TEST_P(SqlExecE2E, TextsAreReadThroughTheAgent) {
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "tttxt010", kCompany, row_, 0, trans_), 0);
  std::uint32_t argument = 0;
  ASSERT_EQ(zdb_do_exec_table(Cursor(cursor), table_action_word(create_table), &argument), 0) << zdb_errno;
  for (auto [seqe, line] : {std::pair<int, char const *>{2, "cd"}, {3, "ef  "}, {1, "ab  "}})
    Insert(cursor, "tttxt010", {{"ctxt", Int(7)}, {"clan", Text("2")}, {"seqe", Int(seqe)}, {"text", Text(line)}});
  Insert(cursor, "tttxt010", {{"ctxt", Int(7)}, {"clan", Text("3")}, {"seqe", Int(1)}, {"text", Text("other")}});
  SQLValueStore out;
  SQLTextReader::Instance()->ReadText(7, '2', kCompany, static_cast<unsigned long>(trans_), &out);
  ASSERT_FALSE(out.IsNull());
  // Stored lines fill the column's width: joined as stored, each line keeps
  // its blanks, and only the last line's are stripped.
  SQLSchemaPtr texts = SQLSchemaMgr::GetSchema("tttxt010");
  size_t width = texts->GetColumnDescriptor(texts->GetColumnId("text"))->GetLength();
  std::string ab = "ab", cd = "cd";
  ab.resize(width, ' ');
  cd.resize(width, ' ');
  EXPECT_EQ(std::string(out.GetString(), out.GetLength()), ab + cd + "ef");
  SQLTextReader::Instance()->ReadText(8, '2', kCompany, static_cast<unsigned long>(trans_), &out);
  EXPECT_TRUE(out.IsNull());
  SQLTextReader::Instance()->DetachFromSession(0);
}

INSTANTIATE_TEST_SUITE_P(Forms, SqlExecE2E, testing::Values("child", "library"),
                         [](testing::TestParamInfo<char const *> const &info) { return std::string(info.param); });

}  // namespace
