// Logon reads the user's DB roles and lib/audit_cols: a user's settings file
// names the roles, a broken role or audit file fails the logon.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>

#include "dbc/audit/auditcols.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/zdb_errors.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;

// A copy of the fixture root with a user "ann" whose settings name `roles`.
class RolesLogon : public testing::Test {
 protected:
  void Start(const std::string &user_type, const std::string &roles) {
    std::filesystem::copy(FixturePath("roles"), root_.path(),
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/user/uann", "user_type: " + user_type + "\ndb_roles: " + roles + "\n");
    setenv("ZUV_USER", "ann", 1);
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  }
  static int RoleCount() {
    int n = 0;
    RPL_WALK walk;
    for (roleT *r = rpl_get_role(ROLE_TYPE_DB, 1, &walk); r != nullptr;
         r = rpl_get_role(ROLE_TYPE_DB, 2, &walk))
      ++n;
    return n;
  }
  ScratchDir root_;
};

TEST_F(RolesLogon, LoadsTheRolesAndAuditColumnsOfTheUser) {
  Start("N", "clerk");
  ASSERT_EQ(zdb_logon("ann"), 0);
  EXPECT_EQ(RoleCount(), 4);
  EXPECT_EQ(audit_using_auditcols(), 1);
  EXPECT_EQ(auditcols_some_column_is_logged("tcemp001", 1), 1);
}

TEST_F(RolesLogon, UserWithoutRolesIsRefused) {
  Start("N", "");
  EXPECT_EQ(zdb_logon("ann"), -1);
  EXPECT_NE(zdb_errno, 0);
}

TEST_F(RolesLogon, SuperUserLogsOnWithoutRoles) {
  Start("S", "clerk");
  ASSERT_EQ(zdb_logon("ann"), 0);
  EXPECT_EQ(RoleCount(), 0);
}

TEST_F(RolesLogon, CorruptRoleFileFailsTheLogon) {
  Start("N", "clerk");
  root_.WriteFile("lib/roles/db/b/base", "not-base\ntcdep001:*:M\n");
  EXPECT_EQ(zdb_logon("ann"), -1);
  EXPECT_EQ(zdb_errno, ZE_ROLE_SYNTAX);
}

TEST_F(RolesLogon, BrokenAuditColumnsFailTheLogonWith251) {
  Start("N", "clerk");
  root_.WriteFile("lib/audit_cols", "tcemp001:*:Z\n");
  EXPECT_EQ(zdb_logon("ann"), -1);
  EXPECT_EQ(zdb_errno, ZE_AUDIT_SETUP);
}

}  // namespace
