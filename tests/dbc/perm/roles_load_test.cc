// Loading DB roles: the include chain of the fixture roles, role lists walked
// by nested callers, bad role names and corrupt role files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbc/perm/perm_roles.h"
#include "dbc/zdb_errors.h"
#include "dbc/log_capture.h"
#include "molvane/zdb.h"
#include "dbc/roles_test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::LogCapture;
using molvane::test::RolesRoot;
using molvane::test::UseRolesRoot;

std::vector<std::string> LoadedRoles() {
  std::vector<std::string> names;
  RPL_WALK walk;
  for (roleT *r = rpl_get_role(ROLE_TYPE_DB, 1, &walk); r != nullptr;
       r = rpl_get_role(ROLE_TYPE_DB, 2, &walk))
    names.push_back(r->name);
  return names;
}

TEST(RolesLoad, IncludedRolesLoadDepthFirstEachOnce) {
  UseRolesRoot(FixturePath("roles"), "clerk:shared: clerk ");
  ASSERT_EQ(zdb_load_roles(), 0);
  // clerk includes base and audit; base includes shared, which includes base
  // again; audit includes shared again; the user names shared and clerk twice.
  EXPECT_EQ(LoadedRoles(), (std::vector<std::string>{"clerk", "base", "shared", "audit"}));
}

TEST(RolesLoad, NestedWalksKeepTheirOwnPosition) {
  UseRolesRoot(FixturePath("roles"), "clerk");
  ASSERT_EQ(zdb_load_roles(), 0);
  int pairs = 0;
  RPL_WALK outer;
  for (roleT *a = rpl_get_role(ROLE_TYPE_DB, 1, &outer); a != nullptr;
       a = rpl_get_role(ROLE_TYPE_DB, 2, &outer)) {
    RPL_WALK inner;
    for (roleT *b = rpl_get_role(ROLE_TYPE_DB, 1, &inner); b != nullptr;
         b = rpl_get_role(ROLE_TYPE_DB, 2, &inner))
      ++pairs;
  }
  EXPECT_EQ(pairs, 16);
}

TEST(RolesLoad, MissingRoleFileSkipsTheRole) {
  RolesRoot root("ghost:real");
  root.Role("real", {"real", "tcemp001:*:R"});
  LogCapture log;
  EXPECT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(LoadedRoles(), std::vector<std::string>{"real"});
  EXPECT_TRUE(log.Contains("Error in opening rolefile 'ghost'"));
}

TEST(RolesLoad, NoRolesInTheSettingsFails) {
  RolesRoot root("");
  LogCapture log;
  EXPECT_EQ(zdb_load_roles(), -1);
  EXPECT_NE(zdb_errno, 0);
  EXPECT_TRUE(log.Contains("There are no roles specified in your userfile"));
}

TEST(RolesLoad, SuperUserNeedsNoRoles) {
  RolesRoot root("");
  user_info.user_type = 'S';
  EXPECT_EQ(zdb_load_roles(), 0);
  EXPECT_TRUE(LoadedRoles().empty());
}

// A role name must stay inside lib/roles/db.
class RolesRefusedName : public ::testing::TestWithParam<const char *> {};

TEST_P(RolesRefusedName, IsRefusedAsCorrupt) {
  RolesRoot root(GetParam());
  root.Role("x", {"x", "tcemp001:*:D"});
  LogCapture log;
  zdb_errno = 0;
  EXPECT_EQ(zdb_load_roles(), -1);
  EXPECT_EQ(zdb_errno, ZE_ROLE_SYNTAX);
  EXPECT_TRUE(log.Contains("Corrupt rolefile"));
  EXPECT_TRUE(LoadedRoles().empty());
}

INSTANTIATE_TEST_SUITE_P(Names, RolesRefusedName,
                         ::testing::Values("../x", "x/../../x", "a\\b", ".x", "x/x"));

TEST(RolesLoad, IncludedNameWithPathIsRefused) {
  RolesRoot root("top");
  root.Role("top", {"top:../top", "tcemp001:*:R"});
  LogCapture log;
  EXPECT_EQ(zdb_load_roles(), -1);
  EXPECT_TRUE(log.Contains("Corrupt rolefile '../top'"));
}

TEST(RolesLoad, FirstLineNamingAnotherRoleFailsTheLoad) {
  RolesRoot root("first:second");
  root.Role("first", {"other:second", "tcemp001:*:R"});
  root.Role("second", {"second", "tcemp001:*:R"});
  LogCapture log;
  EXPECT_EQ(zdb_load_roles(), -1);
  EXPECT_EQ(zdb_errno, ZE_ROLE_SYNTAX);
  EXPECT_TRUE(log.Contains("Corrupt rolefile 'first'"));
  EXPECT_EQ(LoadedRoles(), std::vector<std::string>{"second"});
}

struct BadLine {
  const char *line;
  const char *message;
};

class RolesBadLine : public ::testing::TestWithParam<BadLine> {};

// A bad permission line drops its role (and what it includes) with 217; the
// other roles load and the loading succeeds.
TEST_P(RolesBadLine, DropsItsRole) {
  RolesRoot root("bad:good");
  root.Role("bad", {"bad:inc", "tcemp001:*:R", GetParam().line, "tcdep001:*:D"});
  root.Role("inc", {"inc", "tcdep001:*:D"});
  root.Role("good", {"good", "tcemp001:*:W"});
  LogCapture log;
  zdb_errno = 0;
  EXPECT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(zdb_errno, ZE_ROLE_SYNTAX);
  EXPECT_EQ(LoadedRoles(), std::vector<std::string>{"good"});
  EXPECT_TRUE(log.Contains(GetParam().message)) << GetParam().line;
  EXPECT_TRUE(log.Contains("Corrupt rolefile 'bad'"));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RolesBadLine,
    ::testing::Values(BadLine{"tcemp001:12:R", "Error in permission line\n'tcemp001:12:R'"},
                      BadLine{"tcemp001:1000:R", "Error in permission line"},
                      BadLine{"tcemp001:*:X", "Error in permission line\n'tcemp001:*:X'"},
                      BadLine{"tcemp001:*:RW", "Error in permission line"},
                      BadLine{"tcemp001:*:R:comp = ", "Syntax error in condition : tcemp001:*:R:comp = "},
                      BadLine{"tcemp001:*:R:comp = 1:", "Error in permission line\n'tcemp001:*:R:comp = 1:'"},
                      BadLine{"tcemp001.nope:*:R", "Permission for unknown column nope in table tcemp001"},
                      BadLine{"tcemp001 R", "Error while reading role at line 3"}));

TEST(RolesLoad, CommentsBlankLinesAndLongLinesAreRead) {
  RolesRoot root("long");
  std::string condition = "comp = 1";
  for (int i = 2; i < 400; ++i) condition += " or comp = " + std::to_string(i);
  root.Role("long", {"long", "# comment", "", "tcemp001:*:D:" + condition});
  ASSERT_EQ(zdb_load_roles(), 0);
  DB_PERM *entry = dbc_get_perm_from_role(rpl_find_role(ROLE_TYPE_DB, "long"), "tcemp001", 0, 6);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::string(entry->condition_text), condition);
}

}  // namespace

namespace {

std::vector<std::string> &TraceLines() {
  static std::vector<std::string> lines;
  return lines;
}

TEST(RolesTrace, DebugLevelBitTracesRolesAndLines) {
  setenv("DEBUG_LEVEL", "0x20000000", 1);
  rpl_print_function([](const char *line) { TraceLines().push_back(line); });
  RolesRoot root("traced");
  root.Role("traced", {"traced", "tcemp001:*:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  rpl_print_function(nullptr);
  unsetenv("DEBUG_LEVEL");
  ASSERT_GE(TraceLines().size(), 3u);
  EXPECT_EQ(TraceLines()[0],
            "ROLE: role name traced     type Table  : New Role          : ''\n");
  EXPECT_EQ(TraceLines()[1],
            "LINE: read role entry line no          :     2             : 'tcemp001:*:R'\n");
}

}  // namespace
