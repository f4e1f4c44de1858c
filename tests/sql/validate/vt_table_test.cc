// The table node at execution: the logical and physical company it reads
// (with a company mapping of logical 5 to physical 1), the role condition
// over every fetch leaf, the per-company union, index hints, name
// resolution, and the join nodes and join order graph beside it.
#include "sql/validate/vt_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "from_clause_env.h"
#include "platform/user.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/rs_net_fetch.h"
#include "sql/exec/rs_union.h"
#include "sql/exec/visitor.h"
#include "sql/roles/roles_mgr.h"
#include "sql/validate/join_graph.h"
#include "sql/validate/vt_join.h"
#include "sql/validate/vt_multi_compnr_union.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_table_scope.h"

namespace molvane::test {
namespace {

std::unique_ptr<char[]> Copy(char const *text) {
  auto copy = std::make_unique<char[]>(std::strlen(text) + 1);
  std::strcpy(copy.get(), text);
  return copy;
}

// The company number a fetch leaf's description names.
int CompanyOf(SQLRSFetch *fetch) {
  unsigned char const *bytes;
  int length;
  static_cast<SQLRSNetFetch *>(fetch)->GetDescription().GetString(bytes, length);
  // token (3 bytes), the name as memory (3 + its length), then the company.
  int at = 3 + 3 + (bytes[4] | bytes[5] << 8);
  return static_cast<std::int16_t>(bytes[at + 1] | bytes[at + 2] << 8);
}

// The row-source tree in post-order (children before their parent):
// "Union", "Join", "ConstJoin", "Filter", "Fetch <company>".
class ShapeVisitor : public SQLVisitor {
 public:
  void VisitSQLRSFetch(SQLRSFetch *fetch) override {
    shape.push_back("Fetch " + std::to_string(CompanyOf(fetch)));
  }
  void VisitSQLRSFilter(SQLRSFilter *) override { shape.push_back("Filter"); }
  void VisitSQLRSJoin(SQLRSJoin *) override { shape.push_back("Join"); }
  void VisitSQLRSConstLeftOuterJoin(SQLRSConstLeftOuterJoin *) override { shape.push_back("ConstJoin"); }
  void VisitSQLRSUnion(SQLRSUnion *) override { shape.push_back("Union"); }
  std::vector<std::string> shape;
};

std::vector<std::string> Shape(SQLRowSource *rs) {
  ShapeVisitor visitor;
  rs->AcceptVisit(visitor);
  return visitor.shape;
}

std::string RsLog(SQLRSSCSearchCond *condition) {
  SQLLogger *log = SQLLogger::Instance();
  log->SetLogFlags(SQLLogger::Tree::Rs);
  testing::internal::CaptureStderr();
  condition->Log();
  std::string text = testing::internal::GetCapturedStderr();
  log->SetLogFlags(0);
  return text;
}

class TableNode : public FromClauseTest {
 protected:
  void SetUp() override {
    FromClauseTest::SetUp();
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_unload_roles();
    user_info.user_type = 'S';  // never restricted, until a test gives roles
    user_info.db_roles[0] = '\0';
  }
  void TearDown() override {
    SQLRolesMgrExit();
    zdb_unload_roles();
    FromClauseTest::TearDown();
  }

  std::unique_ptr<SQLVTTable> NewTable(char const *name, char const *alias = nullptr) {
    auto table = std::make_unique<SQLVTTable>(Copy(name).release(), alias ? Copy(alias).release() : nullptr, false);
    table->InitializeCompnr(treeData_.get());
    return table;
  }
  void BindCompany(int company) { treeData_->GetDefaultCompnrParameter()->BindInteger(company); }

  // The user gets the one role "reader" with the given lines.
  void Roles(std::vector<std::string> const &lines) {
    std::string text = "reader\n";
    for (std::string const &line : lines) text += line + "\n";
    root_.WriteFile("lib/roles/db/r/reader", text);
    std::strcpy(user_info.db_roles, "reader");
    user_info.user_type = 'N';
    ASSERT_EQ(zdb_load_roles(), 0);
  }
  // Logical company 5 of the ex... tables is stored in physical company 1.
  // The mapping is read once per process.
  bool MapFiveToOne() {
    root_.WriteFile("lib/compnr1", "ex:001:005\n");
    return compnrLogicToPhysic(compnrGetCompnrData("exemp010"), 5) == 1;
  }
};

TEST_F(TableNode, ReadsTheExecutionCompanyUnlessRestricted) {
  auto table = NewTable("exemp010");
  BindCompany(7);
  EXPECT_EQ(table->GetLogicalCompnr(), 7);
  EXPECT_EQ(table->GetPhysicalCompnr(), 7);
  table->RestrictToCompnr(3);
  table->SimplifyCompnrSet();
  EXPECT_EQ(table->GetLogicalCompnr(), 3);
  std::unique_ptr<SQLRowSource> rs(table->CreateRS());
  EXPECT_EQ(Shape(rs.get()), (std::vector<std::string>{"Fetch 3"}));  // no role: the bare fetch
}

TEST_F(TableNode, AMappedCompanyIsFetchedPhysicallyAndAskedOfTheRolesLogically) {
  if (!MapFiveToOne()) GTEST_SKIP() << "company mapping of another root loaded in this process";
  Roles({"exemp010:*:-", "exemp010:001:R:emp > 1", "exemp010:005:R:emp > 5"});
  auto table = NewTable("exemp010");
  BindCompany(5);
  EXPECT_EQ(table->GetLogicalCompnr(), 5);
  EXPECT_EQ(table->GetPhysicalCompnr(), 1);
  std::unique_ptr<SQLRowSource> rs(table->CreateRS());
  EXPECT_EQ(Shape(rs.get()), (std::vector<std::string>{"Fetch 1", "Filter"}));
  // Asked for logical 5: the grants of both companies apply.
  std::string condition = RsLog(static_cast<SQLRSFilter *>(rs.get())->GetCondition());
  EXPECT_NE(condition.find("IntegerConst(Int:1)"), std::string::npos) << condition;
  EXPECT_NE(condition.find("IntegerConst(Int:5)"), std::string::npos) << condition;
}

TEST_F(TableNode, ACompanyListRunsOncePerPhysicalCompanyInListOrder) {
  if (!MapFiveToOne()) GTEST_SKIP() << "company mapping of another root loaded in this process";
  auto table = NewTable("exemp010");
  auto *parameter = new SQLParameter();
  parameter->SetType(SQL_INTEGER, 0, 1);
  table->RestrictToCompnrParam(parameter);
  auto *companies = new List<int>();
  for (int n : {3, 5, 3, 2, 5}) companies->Append(n);
  SQLVTMultiCompnrUnion node(table.release(), parameter, companies);
  BindCompany(9);  // the list decides, not the execution's company
  std::unique_ptr<SQLRowSource> rs(node.CreateRS());
  // (q3 UNION ALL q5) UNION ALL q2, company 5 read from physical 1.
  EXPECT_EQ(Shape(rs.get()), (std::vector<std::string>{"Fetch 3", "Fetch 1", "Union", "Fetch 2", "Union"}));
}

TEST_F(TableNode, RuntimeConflictOfRestrictionsIsAnError) {
  auto table = NewTable("exemp010", "e");
  auto other = NewTable("exdep010", "d");
  SQLParameter parameter;
  parameter.SetType(SQL_INTEGER, 0, 1);
  table->RestrictToCompnrParam(&parameter);
  other->RestrictToCompnr(6);
  // Left as the restrictions arrived (the simplification pass would refuse
  // them): only the run time sees the conflict.
  table->GetCompnrSet()->IntersectWith(other->GetCompnrSet());
  BindCompany(1);
  parameter.BindInteger(6);
  EXPECT_EQ(table->GetLogicalCompnr(), 6);
  parameter.BindInteger(5);
  try {
    std::unique_ptr<SQLRowSource> rs(table->CreateRS());
    ADD_FAILURE() << "company -2 was read";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42I89");
    EXPECT_STREQ(e.GetMessageText()->GetString(), "Conflicting company numbers in compnr restrictions on table 'e'");
  }
}

TEST_F(TableNode, RoleConditionsSitOnEveryLeafOfAJoinTree) {
  Roles({"exemp010:*:-", "exemp010:*:R:emp > 0", "exdep010:*:-", "exdep010:*:R:name <> 'x'"});
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d, exemp010 e2 WHERE e.dept REFERS TO d AND 'A' REFERS TO e2");
  BindCompany(4);
  std::unique_ptr<SQLExecTree> et(tree->CreateET());
  EXPECT_EQ(Shape(static_cast<SQLRowSource *>(et.get())),
            (std::vector<std::string>{"Fetch 4", "Filter", "Fetch 4", "Filter", "Join", "Fetch 4", "Filter",
                                      "ConstJoin", "Join"}));
}

TEST_F(TableNode, TheOptimiserHandsAJoinOfOneDriverToItsFetch) {
  Roles({"exemp010:*:-", "exemp010:*:R:emp > 0", "exdep010:*:-", "exdep010:*:R:name <> 'x'"});
  auto tree = Resolve("SELECT * FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d");
  BindCompany(4);
  std::unique_ptr<SQLExecTree> et(tree->CreateET());
  SQLExecTree *optimized = et.release()->Optimize();
  et.reset(optimized);
  // One driver serves both tables: the join, with the role filters over its
  // leaves, became one fetch leaf's query.
  auto *fetch = dynamic_cast<SQLRSNetFetch *>(et.get());
  ASSERT_NE(fetch, nullptr);
  unsigned char const *bytes;
  int length;
  fetch->GetDescription().GetString(bytes, length);
  std::string const description(reinterpret_cast<char const *>(bytes), static_cast<size_t>(length));
  EXPECT_NE(description.find("exemp010"), std::string::npos);
  EXPECT_NE(description.find("exdep010"), std::string::npos);
}

TEST_F(TableNode, IndexHints) {
  auto table = NewTable("exemp010", "e");  // three indexes
  auto hints = [](std::vector<int> numbers) {
    auto *h = new SQLIndexHints();
    h->count = static_cast<int>(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) h->indexNumbers[i] = static_cast<signed char>(numbers[i]);
    return h;
  };
  auto error = [&](SQLVTTable *t, std::vector<int> numbers) {
    try {
      t->SetIndexHints(hints(numbers));
    } catch (SQLExSyntaxError const &e) {
      EXPECT_EQ(e.GetLineNumber(), 0);
      return std::string(e.GetSQLState()) + " " + e.GetMessageText()->GetString();
    }
    return std::string("none");
  };
  EXPECT_EQ(error(table.get(), {0}), "42I44 Invalid index number 0 for table 'e'");
  EXPECT_EQ(error(table.get(), {1, -1}), "42I44 Invalid index number -1 for table 'e'");
  EXPECT_EQ(error(table.get(), {4}), "42I44 Invalid index number 4 for table 'e'");
  EXPECT_EQ(error(table.get(), {1, 3}), "none");
  EXPECT_EQ(table->GetIndexHints()->count, 2);
  EXPECT_EQ(error(table.get(), {2}), "42I45 Multiple index hints specified on table 'e'");
  // A dictionary that no longer holds the table (the ".new" dumps have no
  // exemp010): refused, the record freed.
  auto gone = NewTable("exemp010");
  init_dd_mode(3);
  EXPECT_EQ(ddtable("exemp010"), nullptr);
  EXPECT_EQ(error(gone.get(), {1}), "42I04 Unknown table 'exemp010'");
  init_dd_mode(1);
}

TEST_F(TableNode, ResolvesItselfAsOneTableLevel) {
  for (int flags : {1, 1 | 16}) {
    auto table = NewTable("exemp010", "e");
    SQLVTScope scope;
    EXPECT_EQ(table->MapColumnNamesToIds(&scope, treeData_.get(), flags, nullptr, nullptr), table.get());
    SQLVTColumnInfo info;
    EXPECT_TRUE(scope.GetColumnInfo("e", "emp", nullptr, &info, false));
    EXPECT_EQ(info.position, table->GetColumnId("emp"));
    // The pseudo-columns are hidden in the ANSI mode.
    SQLVTColumnInfo pseudo;
    std::unique_ptr<SQLVTScopeLevel> level(scope.Pop());
    EXPECT_EQ(level->GetPseudoColumnInfo("e", "ident", &pseudo), flags == 1) << flags;
  }
}

TEST_F(TableNode, NumbersRiseAndTheNodeServesAsTheRoleConditionTable) {
  auto first = NewTable("exemp010");
  auto second = NewTable("exemp010");
  EXPECT_GT(second->GetTableNumber(), first->GetTableNumber());
  SQLSCTable const &table = *first;
  EXPECT_STREQ(table.GetName(), "exemp010");
  int id = table.GetColumnId("salary");
  ASSERT_GE(id, 0);
  EXPECT_STREQ(table.GetColumnDescriptor(id)->GetName(), "salary");
  EXPECT_EQ(table.GetColumnId("_compnr"), -1);
}

// ---- join nodes and the join order ----

TEST_F(TableNode, JoinNodesConcatenateTheirChildrensColumns) {
  auto left = NewTable("exemp010");
  auto right = NewTable("exdep010");
  int leftCols = left->GetNumCols();
  SQLColumnDescriptor const *firstRight = right->GetColumnDescriptor(0);
  SQLVTJoin join(SQL_JOIN_INNER, left.release(), right.release(), nullptr);
  EXPECT_EQ(join.GetColumnDescriptor(leftCols), firstRight);
  EXPECT_EQ(join.GetNumCols(), leftCols + 5);
  join.Validate();  // no condition: its checks are skipped
  BindCompany(2);
  std::unique_ptr<SQLRowSource> rs(join.CreateRS());
  auto *rsJoin = dynamic_cast<SQLRSJoin *>(rs.get());
  ASSERT_NE(rsJoin, nullptr);
  EXPECT_EQ(rsJoin->GetCondition(), nullptr);
  EXPECT_EQ(rsJoin->GetJoinType(), SQL_JOIN_INNER);
}

TEST(JoinGraph, TopologicalOrder) {
  struct {
    std::vector<std::pair<int, int>> edges;
    std::vector<int> order;  // empty: a cycle
  } const cases[] = {
      {{}, {0, 1, 2}},
      {{{1, 0}}, {1, 0, 2}},
      {{{2, 1}, {1, 0}}, {2, 1, 0}},
      {{{0, 2}, {1, 2}}, {0, 1, 2}},
      {{{0, 2}, {2, 1}}, {0, 2, 1}},
      {{{0, 1}, {1, 0}}, {}},
      {{{2, 2}}, {}},
  };
  for (auto const &c : cases) {
    Graph graph(3);
    for (auto const &[from, to] : c.edges) graph.AddEdge(from, to);
    if (c.order.empty()) {
      EXPECT_THROW(delete graph.TopSort(), GraphExCycle);
      continue;
    }
    std::unique_ptr<intList> order(graph.TopSort());
    std::vector<int> got;
    for (bool more = order->First(); more; more = order->Next()) got.push_back(order->GetCurrent());
    EXPECT_EQ(got, c.order);
  }
}

TEST(UnrefMode, TheDictionaryModeBitsAndADamagedModeWord) {
  EXPECT_EQ(SQLVTUnrefModeOfReference(1, "c"), SQL_UNREF_SET_UNREF);
  EXPECT_EQ(SQLVTUnrefModeOfReference(0x22, "c"), SQL_UNREF_CLEAR_UNREF);
  EXPECT_EQ(SQLVTUnrefModeOfReference(3, "c"), SQL_UNREF_CLEAR);
  try {
    SQLVTUnrefModeOfReference(0x20, "exemp010.dept");
    ADD_FAILURE() << "mode 0 accepted";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetMessageText()->GetString(),
                 "Unexpected reference mode 0 of column 'exemp010.dept' in the data dictionary");
  }
}

TEST_F(TableNode, AutomaticUnrefModesComeFromTheDictionary) {
  struct {
    char const *where;
    SQLVTNullSpec nullSpec;
    bool key;
  } const cases[] = {
      {"e.dept REFERS TO d", SQL_NULLSPEC_SET_UNREF, false},          // mode "0rr": 1
      {"e.dnul REFERS TO d", SQL_NULLSPEC_CLEAR_UNREF, true},         // mode "1nn": 2
      {"e.dnul REFERS TO d._index1", SQL_NULLSPEC_CLEAR_UNREF, true},  // the primary key by name
      {"e.dnul REFERS TO d._index2", SQL_NULLSPEC_SET_UNREF, false},   // another index: no mode
      {"e.dnul REFERS TO d UNREF CLEAR", SQL_NULLSPEC_CLEAR, false},
  };
  for (auto const &c : cases) {
    // Flag 2: a CLEAR/UNREF statement, where the modes apply.
    auto tree = Resolve(std::string("SELECT * FROM exemp010 e, exdep010 d WHERE ") + c.where, 0, 1 | 2);
    SQLVTTableInfo info;
    ASSERT_TRUE(scope_->GetTableInfo("d", &info));
    EXPECT_EQ(info.nullSpec, c.nullSpec) << c.where;
    EXPECT_EQ(static_cast<bool>(info.key), c.key) << c.where;
  }
}

}  // namespace
}  // namespace molvane::test
