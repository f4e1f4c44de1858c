#include "sql/validate/where_used.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "support/test_env.h"

namespace {

std::vector<std::string> g_reported;

void Record(char const *name, int kind) { g_reported.push_back(std::to_string(kind) + " " + name); }

class WhereUsed : public testing::Test {
 protected:
  void SetUp() override {
    g_reported.clear();
    setenv("ZUV", molvane::test::FixturePath("zuv").c_str(), 1);
    setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
    init_local_dd();
  }
  SQLVTWhereUsedMgr mgr_{Record};
};

TEST_F(WhereUsed, TablesAndColumnsWithTheirKinds) {
  mgr_.RegisterTable("exemp010");
  // The joined text is not limited to a short buffer.
  mgr_.RegisterColumn("exemp010", "a_column_name_longer_than_twenty_bytes");
  EXPECT_EQ(g_reported, (std::vector<std::string>{
                            "2 exemp010", "3 exemp010.a_column_name_longer_than_twenty_bytes"}));
}

TEST_F(WhereUsed, LookUpRegistersPseudoColumnThenItsMembers) {
  mgr_.LookUpAndRegisterColumn("exemp010", "name");
  mgr_.LookUpAndRegisterColumn("exemp010", "ident");
  mgr_.LookUpAndRegisterColumn("exemp010", "nosuch");
  mgr_.LookUpAndRegisterColumn("nosuch01", "name");  // no dictionary entry: nothing
  EXPECT_EQ(g_reported,
            (std::vector<std::string>{"3 exemp010.name", "3 exemp010.ident", "3 exemp010.emp",
                                      "3 exemp010.name", "3 exemp010.nosuch"}));
}

TEST_F(WhereUsed, WithoutCallbackNothingIsReported) {
  SQLVTWhereUsedMgr silent;
  silent.RegisterTable("exemp010");
  silent.LookUpAndRegisterColumn("exemp010", "ident");
  EXPECT_TRUE(g_reported.empty());
}

}  // namespace
