#include "sql/common/database_instance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <molvane/zdb.h>
#include "dbc/tabledef/tabledef.h"
#include "sql/common/sql_exception.h"
#include "support/test_env.h"

namespace {

using molvane::test::ScratchDir;

// Table definitions of a scratch installation; "zz" tables have no driver.
constexpr char kTableDefinitions[] =
    "exsep:*:msqlite(other.db)\n"
    "exalt:*:msqlite(main.db)|mysql(b.db)\n"
    "excpy:*:msqlite(copy.db)&msqlite(main.db)\n"
    "exrd1:*:msqlite(w.db)&msqlite(main.db)+\n"
    "exrd2:*:msqlite(main.db)+\n"
    "excom:100:msqlite(c100.db)\n"
    "exemp,exdep,excom::msqlite(main.db)\n";

class DatabaseInstances : public testing::Test {
 protected:
  void SetUp() override {
    root_.WriteFile("lib/tabledef1", kTableDefinitions);
    setenv("ZUV", root_.path().c_str(), 1);
    unsetenv("ZUV_RELEASE");
  }
  ScratchDir root_;
};

TEST_F(DatabaseInstances, TablesOfOneDriverAreCompatible) {
  struct Case {
    char const *a;
    int companyA;
    char const *b;
    int companyB;
    bool compatible;
  } cases[] = {
      {"exemp010", 100, "exdep010", 100, true},   // the same driver
      {"exemp010", 100, "exemp010", 200, true},   // one table in two companies
      {"exemp010", 100, "exsep010", 100, false},  // another database
      {"exemp010", 100, "exalt010", 100, false},  // the same driver with an alternative
      {"exemp010", 100, "excpy010", 100, false},  // read from the first copy, copy.db
      {"exrd1010", 100, "exrd2010", 100, true},   // both read from main.db+
      {"exrd1010", 100, "exemp010", 100, false},  // main.db+ is another server than main.db
      {"excom010", 100, "exemp010", 100, false},  // company 100 has a driver of its own
      {"excom010", 200, "exemp010", 100, true},
  };
  for (auto const &c : cases) {
    SQLDatabaseInstance a(c.a, c.companyA);
    SQLDatabaseInstance b(c.b, c.companyB);
    std::string pair = std::string(c.a) + "/" + std::to_string(c.companyA) + " " + c.b + "/" +
                       std::to_string(c.companyB);
    EXPECT_EQ(c.compatible, a.IsCompatible(&b)) << pair;
    EXPECT_EQ(c.compatible, b.IsCompatible(&a)) << pair;
    EXPECT_TRUE(a.IsCompatible(&a)) << pair;
    EXPECT_EQ(read_driver_for_table(c.a, c.companyA), a.GetServerSpec()) << pair;
  }
}

TEST_F(DatabaseInstances, CopiesServeTheSameDriver) {
  SQLDatabaseInstance a("exemp010", 100);
  std::unique_ptr<SQLDatabaseInstance> copy = a.Copy();
  EXPECT_EQ(a.GetServerSpec(), copy->GetServerSpec());
  EXPECT_TRUE(copy->IsCompatible(&a));
  EXPECT_TRUE(copy->SupportsFiltersInJoins());
  EXPECT_EQ(999, copy->MaxTablesJoined());
  EXPECT_FALSE(a.IsCompatible(nullptr));
}

TEST_F(DatabaseInstances, ATableWithoutDriverRaisesError505) {
  for (char const *table : {"zzabc010", static_cast<char const *>(nullptr)}) {
    zdb_errno = 0;
    try {
      SQLDatabaseInstance instance(table, 100);
      ADD_FAILURE() << "no exception";
    } catch (SQLException const &e) {
      EXPECT_STREQ("QP999", e.GetSQLState());
      EXPECT_EQ(505, e.GetZDBError());
    }
    if (table != nullptr) {
      EXPECT_EQ(505, zdb_errno);
    }
  }
}

}  // namespace
