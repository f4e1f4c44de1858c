#include "dbc/actions/action_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
  const char *(*lookup)(int);
  int code;
  const char *name;
};

TEST(ActionCodes, NamesOfListedCodes) {
  const NameCase cases[] = {
      {zdb_row_action, 1, "db_first"},         {zdb_row_action, 22, "db_insert"},
      {zdb_row_action, 38, "db_curr(delayed)"}, {zdb_row_action, 43, "db_check_row_changed"},
      {zdb_row_action, 64, "db_refcnt(51)"},   {zdb_row_action, 104, "refcnt(bfrd)"},
      {zdb_row_action, 108, "read(bfrd)"},     {zdb_table_action, 7, "lock_table"},
      {zdb_table_action, 13, "upd_statistics"}, {zdb_db_action, 1, "commit_trans"},
      {zdb_db_action, 4, "ERROR_prepare_commit"}, {zdb_db_action, 9, "db_flush"},
  };
  for (const NameCase &c : cases) EXPECT_STREQ(c.lookup(c.code), c.name) << c.code;
}

TEST(ActionCodes, UnlistedCodesHaveAPrintableName) {
  for (int code : {0, 25, 50, 100, 109, -3}) ASSERT_NE(zdb_row_action(code), nullptr);
  EXPECT_NE(zdb_table_action(14), nullptr);
  EXPECT_NE(zdb_db_action(10), nullptr);
}

TEST(ActionCodes, ActionWordsCombineFlagsAndCode) {
  EXPECT_EQ(table_action_word(lock_table), 0x6007u);
  EXPECT_EQ(row_action_word(db_insert), 0x36216u);
  EXPECT_EQ(row_action_word(db_next_locked), 0x107906u);
  EXPECT_EQ(row_action_word(db_update_delayed), 0x56E2Au);
  EXPECT_EQ(db_action_word(set_readonly), 0x8002u);
  EXPECT_EQ(db_action_word(commit_trans), 0x1u);
  EXPECT_EQ(type_commu_row_action(db_refcnt_51), 0x46200u);
  EXPECT_EQ(type_commu_table_action(clr_ref_cnt), 0xE000u);
}

struct WrongCase {
  std::uint32_t (*lookup)(int);
  int code;
  bool complains;
};

TEST(ActionCodes, CodesOutsideTheRangeComplainAndYieldZero) {
  const WrongCase cases[] = {
      {type_commu_row_action, 0, true},    {type_commu_row_action, -1, true},
      {type_commu_row_action, 30, false},  {type_commu_row_action, 200, false},
      {type_commu_table_action, 0, true},  {type_commu_table_action, 26, false},
      {type_commu_table_action, 27, true}, {type_commu_db_action, 16, false},
      {type_commu_db_action, 17, true},    {type_commu_db_action, 9, false},
  };
  for (const WrongCase &c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.lookup(c.code), 0u) << c.code;
    std::string err = testing::internal::GetCapturedStderr();
    if (c.complains) {
      EXPECT_NE(err.find("Wrong command in "), std::string::npos) << c.code;
      EXPECT_NE(err.find(" command " + std::to_string(c.code) + "\n"), std::string::npos);
    } else {
      EXPECT_EQ(err, "") << c.code;
    }
  }
}

}  // namespace
