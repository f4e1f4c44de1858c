// Dictionary modes: ".new" dumps hide the current ones and the other way
// round, the referencing-tables mode, and illegal modes.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbc/dd.h"
#include "dd_test_env.h"
#include "molvane/zdb.h"

namespace {

using molvane::test::ScratchDictionary;
using molvane::test::UseFixtureDictionary;

TEST(DdMode, NewDumpHidesCurrentAndBack) {
  UseFixtureDictionary();
  DD_TABLE *current = ddtable("exdep010");
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(get_dd_mode(), 1);
  EXPECT_FALSE(dd_new_dumps_in_use());
  EXPECT_EQ(ddcolumn("exdep010.floor"), nullptr);

  init_dd_mode(3);
  EXPECT_EQ(get_dd_mode(), 3);
  EXPECT_EQ(ddtable_local("exdep010"), nullptr);
  DD_TABLE *fresh = ddtable("exdep010");
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, current);
  EXPECT_TRUE(dd_new_dumps_in_use());
  EXPECT_EQ(fresh->mode_bits, DD_MODE_NEW);
  ASSERT_NE(ddcolumn("exdep010.floor"), nullptr);
  EXPECT_EQ(fresh->row_length, current->row_length + 2);

  init_dd_mode(1);
  EXPECT_EQ(ddtable("exdep010"), current);
}

TEST(DdMode, NewModeWithoutNewDumpFindsNothing) {
  UseFixtureDictionary();
  init_dd_mode(3);
  zdb_errno = 0;
  EXPECT_EQ(ddtable("exemp010"), nullptr);
  EXPECT_EQ(zdb_errno, 513);
  init_dd_mode(1);
  EXPECT_NE(ddtable("exemp010"), nullptr);
}

TEST(DdMode, IllegalModeChangesNothing) {
  UseFixtureDictionary();
  init_dd_mode(2);
  EXPECT_EQ(get_dd_mode(), 1);
  init_dd_mode(3);
  init_dd_mode(7);
  EXPECT_EQ(get_dd_mode(), 3);
}

TEST(DdMode, ReferencingTablesLoadWithTheirParent) {
  UseFixtureDictionary();
  init_dd_mode(4);
  ASSERT_NE(ddtable("exdep010"), nullptr);
  EXPECT_NE(ddtable_local("exemp010"), nullptr);
}

TEST(DdMode, ReferencingTableMissingIsNoError) {
  ScratchDictionary dict;
  std::filesystem::remove(dict.root() + "/dict/dexemp010");
  init_dd_mode(4);
  zdb_errno = 0;
  ASSERT_NE(ddtable("exdep010"), nullptr);
  EXPECT_EQ(zdb_errno, 0);
  int n = -1;
  DD_REF **refs = ddto_ref_list("exdep010.code", &n);
  ASSERT_NE(refs, nullptr);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(refs[0], nullptr);
}

}  // namespace
