// Permissions through a cursor on the reference driver: the cursor's company
// is mapped by lib/compnr, and a table permission in a mapped company is the
// lower of its logical and physical companies' values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_perm.h>

#include "dbc/audit/auditcols.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/log_capture.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;

class PermCursor : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("roles"), root_.path(),
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/ipc_info", "msqlite library " + std::string(MOLVANE_BINARY_DIR) +
                                        "/driver/libmolvane_driver.so ${ZUV}/main.db\n");
    root_.WriteFile("lib/tabledef1", "tc:*:msqlite\ntt:*:msqlite\n");
    root_.WriteFile("lib/compnr1", "tcemp:100:200\n");
    root_.WriteFile("lib/user/uann", "user_type: N\ndb_roles: mapped\n");
    root_.WriteFile("lib/roles/db/m/mapped",
                    "mapped\ntcemp001:100:D\ntcemp001:200:R\ntcemp001.sala:*:M\n");
    setenv("ZUV_USER", "ann", 1);
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("perm");
    ASSERT_GT(trans_, 0);
    ASSERT_EQ(zdb_open(&cursor_, "tcemp001", 200, row_, 0, trans_), 0);
  }
  void TearDown() override { zdb_logoff(); }

  ScratchDir root_;
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[512] = {};
};

TEST_F(PermCursor, MappedCompanyTakesTheLowerValue) {
  EXPECT_EQ(zdb_permission(cursor_, 0xFFFF, nullptr, nullptr), 2) << zdb_errno;
  EXPECT_EQ(zdb_permission(cursor_, 100, nullptr, nullptr), 16) << zdb_errno;
  EXPECT_EQ(zdb_permission(cursor_, 200, ddcolumn("tcemp001.sala"), nullptr), 4);
  EXPECT_EQ(zdb_permission(cursor_, 200, ddcolumn("tcemp001.name"), nullptr), 64);
}

TEST_F(PermCursor, ActionCheckOnTheInternalCursor) {
  ZDB_INTERNAL_CURSOR *icursor = nullptr;
  ASSERT_EQ(zdb_get_internal_cursor(&icursor, cursor_, 200), 0);
  ASSERT_EQ(icursor->company->physical, 100);
  ASSERT_EQ(icursor->company->logical, 200);
  zdb_errno = 0;
  EXPECT_EQ(zdb_action_allowed(icursor, PERM_ACTION_DELETE, nullptr), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_PERMISSION);
  ASSERT_EQ(zdb_get_internal_cursor(&icursor, cursor_, 100), 0);
  EXPECT_EQ(zdb_action_allowed(icursor, PERM_ACTION_DELETE, nullptr), 0);
}

TEST_F(PermCursor, DumpNamesTheTableAndTheDecidingLines) {
  testing::internal::CaptureStderr();
  dump_zdb_permission(cursor_);
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_NE(text.find("Permissions for table: tcemp001\n"), std::string::npos);
  EXPECT_NE(text.find("tcemp001:200"), std::string::npos) << text;
}

// The notification cursor opens with its ten binds; the insert waits for
// the row actions, so the write fails with 254 and names the company.
class AuditTnrCursor : public PermCursor {};

TEST_F(AuditTnrCursor, OpensTtaud110AndReportsTheMissingInsert) {
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_);
  ASSERT_NE(trans, nullptr);
  trans->audit_list.push_back(ZDB_AUDIT_ENTRY{"tcemp001", 100, 1, 7});
  molvane::test::LogCapture log;
  EXPECT_EQ(audit_write_tnr(trans), -1);
  EXPECT_EQ(zdb_errno, ZE_TNR_FAILED);
  EXPECT_TRUE(log.Contains("Insert into ttaud110 compnr 000 failed"));
  EXPECT_FALSE(log.Contains("Open ttaud110 failed"));
  EXPECT_TRUE(trans->audit_list.empty());
}

}  // namespace
