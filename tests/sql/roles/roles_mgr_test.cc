// The roles manager over DB roles loaded from role files: the condition of
// each role combination (as its trace), the cache (a second lookup reads no
// role again, failures are remembered), company mapping, the read-set
// comparisons for UPDATE and DELETE, and what happens when the roles cannot
// be read.
#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/compnr/compnr.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/roles_test_env.h"
#include "support/log_capture.h"
#include "role_test_support.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/roles/roles_cache.h"
#include "sql/roles/roles_mgr.h"
#include "sql/statement/alloc_failure.h"

// Reaches the manager's private steps.
class SQLRolesMgrTest {
 public:
  static SQLSCCondPtr RolesCondition(char const *table, int compnr) {
    return SQLRolesMgr::GetRolesCondition(table, compnr);
  }
  static int BucketCount() { return SQLRolesMgr::Cache().BucketCount(); }
};

namespace molvane::test {
namespace {

using RS = std::unique_ptr<SQLRSSCSearchCond>;

// The trace of the validated condition of the user's roles; "(null)" for no
// restriction, the SQLSTATE and message for an error.
std::string Trace(char const *table, int compnr) {
  std::string text;
  Raised r = RaisedBy([&] {
    SQLSCCondPtr c = SQLRolesMgrTest::RolesCondition(table, compnr);
    text = c ? LogText(c.get()) : "(null)";
  });
  return r.state == "none" ? text : r.state + " " + r.message;
}

std::string RSLog(SQLRSSCSearchCond const *c) {
  SQLLogger *log = SQLLogger::Instance();
  log->SetLogFlags(SQLLogger::Tree::Rs);
  testing::internal::CaptureStderr();
  c->Log();
  std::string text = testing::internal::GetCapturedStderr();
  log->SetLogFlags(0);
  return text;
}

// The truth of an executable condition without columns (1 = 0).
SQLTruthValue EvaluateConstant(SQLRSSCSearchCond *c) {
  SQLRSPrepareContext context;
  c->Prepare(&context);
  return c->Evaluate();
}

constexpr char kNeverTrue[] = "Comparison(( IntegerConst(1) ) = ( IntegerConst(0) ))";
// Column ids of tcemp001 (by row offset) and tcdep001.
constexpr char kSala[] = "ColumnRef(0,4)";
constexpr char kName[] = "ColumnRef(0,2)";
constexpr char kCode[] = "ColumnRef(0,0)";

std::string Cmp(std::string const &left, char const *op, std::string const &right) {
  return "Comparison(( " + left + " ) " + op + " ( " + right + " ))";
}

// Every test starts with an empty cache, also when the tests share a process.
class RolesMgr : public testing::Test {
 protected:
  void SetUp() override { SQLRolesMgrExit(); }
  void TearDown() override { SQLRolesMgrExit(); }
};

// ---- Conditions of the fixture roles ----

TEST_F(RolesMgr, ConditionsOfTheFixtureRoles) {
  std::string salaBelow = Cmp(kSala, "<", "IntegerConst(5000)");
  struct {
    char const *roles;
    char userType;
    char const *table;
    int compnr;
    std::string trace;
  } const cases[] = {
      // A conditional grant under a table-level "-", with a denial of company 100.
      {"sales", 'N', "tcemp001", 100, "And(" + salaBelow + ", Not(" + Cmp(kName, "=", "StringConst(boss)") + "))"},
      {"sales", 'N', "tcemp001", 200, salaBelow},
      // A denial under a table-level R: every row but the denied ones.
      {"sales", 'N', "tcdep001", 5,
       "Not(Or(" + Cmp(kCode, "=", "StringConst(secret)") + ", " + Cmp(kCode, "=", "StringConst(hidden)") + "))"},
      // A role that grants the whole table lifts every restriction.
      {"sales:manager", 'N', "tcemp001", 100, "(null)"},
      {"manager:sales", 'N', "tcemp001", 100, "(null)"},
      {"clerk", 'N', "tcemp001", 300, "(null)"},
      // Roles that grant nothing on the table: no rows.
      {"manager", 'N', "tcdep001", 100, kNeverTrue},
      {"sales", 'N', "ttaud110", 100, kNeverTrue},
      // A super user is never restricted.
      {"sales", 'S', "tcemp001", 100, "(null)"},
  };
  for (auto const &c : cases) {
    UseRolesRoot(FixturePath("roles"), c.roles, c.userType);
    ASSERT_EQ(zdb_load_roles(), 0) << c.roles;
    EXPECT_EQ(Trace(c.table, c.compnr), c.trace) << c.roles << " " << c.table << c.compnr;
  }
}

TEST_F(RolesMgr, SecondLookupOfATableAndCompanyReadsNoRoleAgain) {
  UseRolesRoot(FixturePath("roles"), "sales");
  ASSERT_EQ(zdb_load_roles(), 0);
  int parsed = SQLRolesMgr::GetNoConditionsParsed();
  RS first(SQLRolesMgr::GetCondition("tcemp001", 100));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SQLRolesMgr::GetNoConditionsParsed(), parsed + 2);  // the grant and the denial
  int cached = SQLRolesMgr::GetNoCachedElements();

  RS second(SQLRolesMgr::GetCondition("tcemp001", 100));
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second.get(), first.get());  // a new executable condition each time
  EXPECT_EQ(RSLog(second.get()), RSLog(first.get()));
  EXPECT_EQ(SQLRolesMgr::GetNoConditionsParsed(), parsed + 2);
  EXPECT_EQ(SQLRolesMgr::GetNoCachedElements(), cached);

  // Roles loaded later are not seen for a pair already cached.
  UseRolesRoot(FixturePath("roles"), "manager");
  ASSERT_EQ(zdb_load_roles(), 0);
  RS third(SQLRolesMgr::GetCondition("tcemp001", 100));
  EXPECT_NE(third, nullptr);
  // Another company, or another table, reads the roles again.
  EXPECT_EQ(RS(SQLRolesMgr::GetCondition("tcemp001", 200)), nullptr);
  EXPECT_EQ(SQLRolesMgr::GetNoCachedElements(), cached + 1);
  // No restriction is remembered too.
  EXPECT_EQ(RS(SQLRolesMgr::GetCondition("tcemp001", 200)), nullptr);
  EXPECT_EQ(SQLRolesMgr::GetNoCachedElements(), cached + 1);
}

TEST_F(RolesMgr, CacheKeyIsTheNamesFirstEightBytesAndTheCompany) {
  EXPECT_EQ(SQLRolesCacheKey("ab", 1).Hash(), 1u * 'a' + 2u * 'b' + 9u);
  // Bytes count with their sign: 0xE9 is -23.
  EXPECT_EQ(SQLRolesCacheKey("\xE9", 0).Hash(), static_cast<unsigned long>(static_cast<std::uint32_t>(-23)));
  EXPECT_EQ(SQLRolesCacheKey("tcemp001", 7).Hash(), SQLRolesCacheKey("tcemp001xyz", 7).Hash());
  EXPECT_TRUE(SQLRolesCacheKey("tcemp001", 7) == SQLRolesCacheKey("tcemp001xyz", 7));
  EXPECT_FALSE(SQLRolesCacheKey("tcemp001", 7) == SQLRolesCacheKey("tcemp001", 8));
  EXPECT_FALSE(SQLRolesCacheKey("tcemp", 7) == SQLRolesCacheKey("tcemp001", 7));
  EXPECT_EQ(SQLRolesMgrTest::BucketCount(), 3067);  // made for 1000 entries
}

// ---- Role combinations of the scratch root ----

struct Combination {
  char const *name;
  std::vector<std::vector<std::string>> roles;  // per role: its lines without the first
  char const *table;
  int compnr;
  std::string trace;
};

std::string RoleList(Combination const &c) {
  std::string list;
  for (size_t i = 0; i < c.roles.size(); ++i) list += (i ? ":r" : "r") + std::to_string(i);
  return list;
}

TEST_F(RolesMgr, EachRoleGrantsItsRowsAndTakesItsDenials) {
  std::string x = Cmp(kSala, ">", "IntegerConst(10)");
  std::string y = Cmp(kName, "=", "StringConst(y)");
  Combination const cases[] = {
      {"table R, nothing conditional: all rows", {{"tcemp001:*:R"}}, "tcemp001", 100, "(null)"},
      {"a second role with a conditional grant restricts no further",
       {{"tcemp001:*:R"}, {"tcemp001:*:-", "tcemp001:*:R:sala > 10"}}, "tcemp001", 100, "(null)"},
      {"table -, conditional grant R", {{"tcemp001:*:-", "tcemp001:*:R:sala > 10"}}, "tcemp001", 100, x},
      {"table R, conditional denial at level 5", {{"tcemp001:*:R", "tcemp001:100:-:name = 'y'"}}, "tcemp001",
       100, "Not(" + y + ")"},
      {"the level 5 denial is for company 100 only", {{"tcemp001:*:R", "tcemp001:100:-:name = 'y'"}}, "tcemp001",
       200, "(null)"},
      {"grants of two roles are ORed", {{"tcemp001:*:R:sala > 10"}, {"tcemp001:*:R:name = 'y'"}}, "tcemp001", 1,
       "Or(" + x + ", " + y + ")"},
      {"grants of one level are ORed, newest first", {{"tcemp001:*:R:sala > 10", "tcemp001:*:D:name = 'y'"}},
       "tcemp001", 1, "Or(" + y + ", " + x + ")"},
      {"a level 5 grant is added to the rest", {{"tcemp001:*:R:sala > 10", "tcemp001:007:-:name = 'y'",
                                                 "tcemp001:007:M:name = 'z'"}},
       "tcemp001", 7,
       "Or(And(" + x + ", Not(" + y + ")), " + Cmp(kName, "=", "StringConst(z)") + ")"},
      {"no table access and only denials: no access", {{"tcemp001:*:-", "tcemp001:100:-:sala > 10",
                                                        "tcemp001:*:-:name = 'y'"}},
       "tcemp001", 100, kNeverTrue},
      {"only another table granted", {{"tcdep001:*:D"}}, "tcemp001", 100, kNeverTrue},
      {"a wider key grants the table", {{"tc:*:R"}}, "tcemp001", 100, "(null)"},
      {"a table-level entry for another company does not count", {{"tcemp001:300:R"}}, "tcemp001", 100,
       kNeverTrue},
  };
  for (Combination const &c : cases) {
    RolesRoot root(RoleList(c).c_str());
    for (size_t i = 0; i < c.roles.size(); ++i) {
      std::vector<std::string> lines{"r" + std::to_string(i)};
      lines.insert(lines.end(), c.roles[i].begin(), c.roles[i].end());
      root.Role("r" + std::to_string(i), lines);
    }
    ASSERT_EQ(zdb_load_roles(), 0) << c.name;
    EXPECT_EQ(Trace(c.table, c.compnr), c.trace) << c.name;
  }
}

TEST_F(RolesMgr, UserWithoutRolesSeesNoRows) {
  RolesRoot root("");
  EXPECT_EQ(zdb_load_roles(), -1);
  EXPECT_EQ(Trace("tcemp001", 100), kNeverTrue);
  RS c(SQLRolesMgr::GetCondition("tcemp001", 100));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(EvaluateConstant(c.get()), TV_FALSE);
}

TEST_F(RolesMgr, SuperUserIsNeverRestricted) {
  UseRolesRoot(FixturePath("roles"), "sales", 'S');
  EXPECT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(RS(SQLRolesMgr::GetCondition("tcemp001", 100)), nullptr);
  EXPECT_TRUE(SQLRolesMgr::ReadSetEqualsUpdateSet("tcemp001", 100, 100));
  EXPECT_TRUE(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 100, 100));
}

// ---- Company mapping ----

class MappedRoles : public RolesMgr {
 protected:
  // Company 200 of tcemp tables lives in physical company 100.
  void SetUp() override {
    RolesMgr::SetUp();
    root_ = std::make_unique<RolesRoot>("mapped");
    std::filesystem::create_directories(root_->path() + "/lib");
    std::string path = root_->path() + "/lib/compnr1";
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("tcemp:100:200\n", f);
    std::fclose(f);
    set_zuv(root_->path().c_str());
    // The mapping is read once per process: when another test of this
    // process read it first, this one cannot run here.
    if (std::string(compnrGetEnv()).find(root_->path()) == std::string::npos) {
      GTEST_SKIP() << "company mapping of another root loaded in this process";
    }
    ASSERT_EQ(compnrLogicToPhysic(compnrGetCompnrData("tcemp001"), 200), 100);
  }
  // The one role "mapped" with the given lines.
  void Use(std::vector<std::string> const &lines) {
    std::vector<std::string> all{"mapped"};
    all.insert(all.end(), lines.begin(), lines.end());
    root_->Role("mapped", all);
    ASSERT_EQ(zdb_load_roles(), 0);
  }
  std::unique_ptr<RolesRoot> root_;
};

TEST_F(MappedRoles, ARoleMustGrantBothTheLogicalAndThePhysicalCompany) {
  Use({"tcemp001:100:R"});
  EXPECT_EQ(Trace("tcemp001", 200), kNeverTrue);  // physical 100 granted, logical 200 not
  EXPECT_EQ(Trace("tcemp001", 100), "(null)");
}

TEST_F(MappedRoles, ConditionsOfBothCompaniesAreAnded) {
  Use({"tcemp001:*:-", "tcemp001:100:R:sala > 10", "tcemp001:200:R:name = 'y'"});
  EXPECT_EQ(Trace("tcemp001", 200),
            "And(" + Cmp(kSala, ">", "IntegerConst(10)") + ", " + Cmp(kName, "=", "StringConst(y)") + ")");
}

TEST_F(MappedRoles, AConditionalPhysicalGrantWithoutTheLogicalCompanyIsDropped) {
  // The physical company's condition is built, then dropped: no leak.
  Use({"tcemp001:*:-", "tcemp001:100:R:sala > 10"});
  EXPECT_EQ(Trace("tcemp001", 200), kNeverTrue);
}

TEST_F(MappedRoles, ReadSetsAreComparedInBothCompanies) {
  Use({"tcemp001:100:D", "tcemp001:200:R"});
  EXPECT_FALSE(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 200, 100));
  EXPECT_TRUE(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 100, 100));
}

// ---- Read set against update and delete set ----

TEST_F(RolesMgr, ReadSetEqualsUpdateAndDeleteSet) {
  struct {
    std::vector<std::string> lines;
    bool update;
    bool remove;
  } const cases[] = {
      {{"tcemp001:*:D"}, true, true},
      {{"tcemp001:*:W"}, true, false},
      {{"tcemp001:*:M"}, true, false},
      {{"tcemp001:*:R"}, false, false},
      {{"tcemp001:*:-"}, true, true},
      {{}, true, true},
      // The most specific table-level entry decides.
      {{"tcemp001:*:R", "tcemp001:100:D"}, true, true},
      {{"tcemp001:*:D", "tc:*:R"}, true, true},
      // Every conditional entry counts, at both levels.
      {{"tcemp001:*:D", "tcemp001:*:R:sala > 1"}, false, false},
      {{"tcemp001:*:D", "tcemp001:100:M:sala > 1"}, true, false},
      {{"tcemp001:*:D", "tcemp001:100:-:sala > 1", "tcemp001:*:D:sala > 2"}, true, true},
  };
  for (auto const &c : cases) {
    RolesRoot root("one");
    std::vector<std::string> lines{"one"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    root.Role("one", lines);
    ASSERT_EQ(zdb_load_roles(), 0);
    std::string what = c.lines.empty() ? "(none)" : c.lines.back();
    EXPECT_EQ(SQLRolesMgr::ReadSetEqualsUpdateSet("tcemp001", 100, 100), c.update) << what;
    EXPECT_EQ(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 100, 100), c.remove) << what;
  }
  // A second role that reads more than it may delete makes the answer FALSE.
  RolesRoot root("one:two");
  root.Role("one", {"one", "tcemp001:*:D"});
  root.Role("two", {"two", "tcemp001:*:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_FALSE(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 100, 100));
  // No roles at all.
  RolesRoot none("");
  EXPECT_TRUE(SQLRolesMgr::ReadSetEqualsDeleteSet("tcemp001", 100, 100));
}

// ---- Errors ----

TEST_F(RolesMgr, ErrorsOfARoleConditionNameTheRoleAndAreRemembered) {
  struct {
    char const *line;
    char const *state;
    std::string message;
  } const cases[] = {
      {"tcemp001:*:R:salary > 10", "QR002", "Syntax error in role 'bad': Table tcemp001 has no column 'salary'"},
      // Lists are conditions of the range-expression engine only.
      {"tcemp001:*:R:sala in (1, 2)", "QR000", "Syntax error in role 'bad': Unexpected token 'in'"},
      {"tcemp001:*:R:name > 5", "QR003",
       "Syntax error in role 'bad': Incompatible types for comparison operator '>'"},
      {"tcemp001:*:R:sala = 1 or not sala = 1", "QR002",
       "Syntax error in role 'bad': Table tcemp001 has no column 'not'"},
  };
  for (auto const &c : cases) {
    RolesRoot root("good:bad");
    root.Role("good", {"good", "tcemp001:*:-", "tcemp001:*:R:sala > 1"});
    root.Role("bad", {"bad", std::string(c.line)});
    ASSERT_EQ(zdb_load_roles(), 0) << c.line;
    ASSERT_NE(rpl_find_role(ROLE_TYPE_DB, "bad"), nullptr) << c.line;
    SQLRolesMgrExit();  // a fresh cache for each case
    Raised first = RaisedBy([] { RS r(SQLRolesMgr::GetCondition("tcemp001", 100)); });
    EXPECT_EQ(first.state, c.state) << c.line;
    EXPECT_EQ(first.message, c.message) << c.line;
    EXPECT_EQ(first.native, 217) << c.line;
    int parsed = SQLRolesMgr::GetNoConditionsParsed();
    Raised again = RaisedBy([] { RS r(SQLRolesMgr::GetCondition("tcemp001", 100)); });
    EXPECT_EQ(again.state, first.state);
    EXPECT_EQ(again.message, first.message);
    EXPECT_EQ(again.native, first.native);
    EXPECT_EQ(SQLRolesMgr::GetNoConditionsParsed(), parsed);
  }
}

TEST_F(RolesMgr, ATableOutsideTheDictionaryYieldsNoRowsAndIsLoggedOnce) {
  RolesRoot root("odd");
  root.Role("odd", {"odd", "tcnone01:*:R:x = 1"});
  ASSERT_EQ(zdb_load_roles(), 0);
  LogCapture log;
  RS first(SQLRolesMgr::GetCondition("tcnone01", 100));
  ASSERT_NE(first, nullptr);  // not "no restriction"
  EXPECT_EQ(EvaluateConstant(first.get()), TV_FALSE);
  EXPECT_TRUE(log.Contains("Role restriction", "tcnone01100")) << log.Dump();
  RS second(SQLRolesMgr::GetCondition("tcnone01", 100));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(EvaluateConstant(second.get()), TV_FALSE);
  // Nor does a table without a name open anything.
  RS unnamed(SQLRolesMgr::GetCondition(nullptr, 100));
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(EvaluateConstant(unnamed.get()), TV_FALSE);
  int logged = 0;
  for (LoggedMessage const &m : log.messages()) logged += m.keyword == "Role restriction";
  EXPECT_EQ(logged, 1) << log.Dump();
}

TEST_F(RolesMgr, RunningOutOfMemoryWhileReadingTheRolesLeavesNothingBehind) {
  UseRolesRoot(FixturePath("roles"), "sales:clerk");
  ASSERT_EQ(zdb_load_roles(), 0);
  // Fail the n-th allocation until the conditions of every role are read
  // (parsed, validated and combined); the leak check at exit finds anything
  // a failure left behind.
  std::string expected = Trace("tcemp001", 100);
  int skip = 0;
  for (;; ++skip) {
    bool failed = false;
    std::string trace;
    {
      ScopedAllocationFailure fail(skip, 1);
      try {
        SQLSCCondPtr c = SQLRolesMgrTest::RolesCondition("tcemp001", 100);
        trace = c ? "built" : "(null)";
      } catch (std::bad_alloc const &) {
        failed = true;
      }
    }
    if (!failed) break;
    ASSERT_LT(skip, 2000);
  }
  EXPECT_GT(skip, 20);
  EXPECT_EQ(Trace("tcemp001", 100), expected);
}

// The executable condition of a lookup, read from the roles or taken from
// the cache, with each allocation of the lookup failing in turn: the lookup
// throws bad_alloc and leaves nothing behind (LeakSanitizer checks the heap
// after every try), or it gets through with the condition of a clean lookup.
TEST_F(RolesMgr, EachAllocationOfALookupFailsCleanlyAndLeaksNothing) {
  UseRolesRoot(FixturePath("roles"), "sales");
  ASSERT_EQ(zdb_load_roles(), 0);
  struct {
    char const *table;
    int compnr;
  } const lookups[] = {{"tcemp001", 100}, {"tcdep001", 5}};
  for (auto const &l : lookups) {
    RS clean(SQLRolesMgr::GetCondition(l.table, l.compnr));
    ASSERT_NE(clean, nullptr) << l.table;
    std::string const expected = RSLog(clean.get());
    for (bool cached : {false, true}) {
      SCOPED_TRACE(std::string(l.table) + (cached ? " from the cache" : " read from the roles"));
      int failures = 0;
      for (int skip = 0;; ++skip) {
        ASSERT_LT(skip, 5000);
        SQLRolesMgrExit();
        if (cached) RS(SQLRolesMgr::GetCondition(l.table, l.compnr));
        RS condition;
        bool threw = false;
        int const failedBefore = FailedAllocations();
        {
          ScopedAllocationFailure fail(skip, 1);
          try {
            condition.reset(SQLRolesMgr::GetCondition(l.table, l.compnr));
          } catch (std::bad_alloc const &) {
            threw = true;
          }
        }
        bool const injected = FailedAllocations() != failedBefore;
#if defined(__SANITIZE_ADDRESS__)
        ASSERT_EQ(__lsan_do_recoverable_leak_check(), 0) << "allocation " << skip << " leaks";
#endif
        if (threw) {
          EXPECT_TRUE(injected) << "allocation " << skip;
          ++failures;
          continue;
        }
        ASSERT_NE(condition, nullptr) << "allocation " << skip;
        EXPECT_EQ(RSLog(condition.get()), expected) << "allocation " << skip;
        if (!injected) break;
      }
      EXPECT_GT(failures, 0);
    }
  }
  SQLRolesMgrExit();
}

TEST_F(RolesMgr, RunningOutOfMemoryIsRememberedForTheTableAndCompany) {
  UseRolesRoot(FixturePath("roles"), "sales");
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(SQLRolesMgr::GetNoCachedElements(), 0);  // makes the cache
  {
    ScopedAllocationFailure fail(0, 1);  // the first allocation of the lookup
    EXPECT_THROW(RS(SQLRolesMgr::GetCondition("tcemp001", 100)), std::bad_alloc);
  }
  int parsed = SQLRolesMgr::GetNoConditionsParsed();
  EXPECT_THROW(RS(SQLRolesMgr::GetCondition("tcemp001", 100)), std::bad_alloc);
  EXPECT_EQ(SQLRolesMgr::GetNoConditionsParsed(), parsed);
  EXPECT_NE(RS(SQLRolesMgr::GetCondition("tcemp001", 200)), nullptr);
}

TEST_F(RolesMgr, ExitFreesTheCache) {
  UseRolesRoot(FixturePath("roles"), "sales");
  ASSERT_EQ(zdb_load_roles(), 0);
  RS(SQLRolesMgr::GetCondition("tcemp001", 100));
  RS(SQLRolesMgr::GetCondition("tcdep001", 100));
  EXPECT_GE(SQLRolesMgr::GetNoCachedElements(), 2);
  SQLRolesMgrExit();
  EXPECT_EQ(SQLRolesMgr::GetNoCachedElements(), 0);
  EXPECT_NE(RS(SQLRolesMgr::GetCondition("tcemp001", 100)), nullptr);
}

}  // namespace
}  // namespace molvane::test
