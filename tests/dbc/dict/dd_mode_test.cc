// Dictionary modes: ".new" dumps hide the current ones and the other way
// round, the referencing-tables mode, and illegal modes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/dd_test_env.h"
#include "molvane/platform.h"
#include "molvane/zdb.h"
#include "platform/env.h"

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
  // The current dump is there: the message names the one looked for.
  EXPECT_EQ(get_zdb_msg(), "Table exemp010 not found in data dictionary (no dump dexemp010.new in " +
                               molvane::test::FixturePath("zuv/dict") +
                               "; the dictionary mode (init_dd_mode 3) reads the .new dumps)");
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

namespace {

size_t g_global_bytes = 0;
void *CountingAlloc(size_t size) {
  g_global_bytes += size;
  static std::vector<std::unique_ptr<std::byte[]>> blocks;
  blocks.push_back(std::make_unique<std::byte[]>(size));
  return blocks.back().get();
}

// A dictionary with its own allocation function takes every record from it.
TEST(DdMode, GlobalDictionaryAllocatesThroughItsFunction) {
  molvane::test::ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
  init_global_dd(&CountingAlloc);
  EXPECT_EQ(dd_state() & (DD_STATE_LOCAL | DD_STATE_GLOBAL), DD_STATE_GLOBAL);
  const size_t before = g_global_bytes;
  DD_TABLE *t = ddtable("exemp010");
  ASSERT_NE(t, nullptr);
  EXPECT_GT(g_global_bytes, before + sizeof(DD_COLUMN) * t->column_count);
  EXPECT_EQ(ddcolumn("exemp010.name")->length, 20);
}

TEST(DdMode, DictionaryEnvironmentText) {
  UseFixtureDictionary();
  setenv("ZUV_REM", "remote-env", 1);
  const std::string text = qpdDDGetEnv();
  EXPECT_EQ(text, std::string("remote-env ") + alGetPacComb());
  unsetenv("ZUV_REM");
  EXPECT_EQ(qpdDDGetEnv(), text);  // computed once
  qpdNullifyStatics();
  const std::string local = qpdDDGetEnv();
  std::string zuv = get_zuv();
  for (char &c : zuv) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(local.find(zuv + "@"), 0u) << local;
  for (char c : local.substr(0, local.find(' '))) EXPECT_FALSE(c >= 'A' && c <= 'Z') << local;
}

}  // namespace
